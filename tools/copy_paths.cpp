// Formats the given paths with the copy engine, publishes the text through the clipboard writer and prints what
// the clipboard then holds: the engine's whole road of one Copy, without the shell and the dialog.

#include "console.h"
#include "host_options.h"

#include "engine/name_formatter.h"
#include "engine/win/clipboard_writer.h"
#include "engine/win/system_path_queries.h"

int wmain(int argc, wchar_t** argv) {
    using namespace pathlift;
    using namespace pathlift::tools;
    const tools::HostRequest request = ParseHostArguments(std::vector<std::wstring>(argv + 1, argv + argc));
    if (request.help || !request.error.empty()) {
        Print(request.error.empty() ? L"" : request.error + L"\n");
        Print(HostUsage());
        return request.help ? 0 : 2;
    }
    FileList files = request.files;
    if (files.empty()) {
        for (const std::wstring& sample : CreateSampleFiles()) {
            files.emplace_back(sample.begin(), sample.end());
        }
    }

    const Selection selection = Selection::FromList(files);
    CopyBuffers buffers;
    ClipboardBlock block;
    SystemPathQueries system;
    if (!AllocateCopyBuffers(selection, request.options, system, buffers) ||
        block.Reserve(buffers.textLength) != kClipboardDone) {
        Print(L"not enough memory for the copy\n");
        return 1;
    }
    FormatFileList(buffers, block.Characters());
    const int published = block.Publish(nullptr);
    std::wstring clipboard;
    if (published != kClipboardDone || !ReadClipboardText(clipboard)) {
        Print(L"the clipboard could not be written (result " + std::to_wstring(published) + L")\n");
        return 1;
    }
    Print(L"clipboard text:\n" + clipboard + L"\n");
    return 0;
}
