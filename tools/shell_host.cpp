// The main job's host: plays Explorer with Pathlift.dll for the paths given (or a few sample files), works the copy
// dialog the menu entry opens, and prints each step and then what the clipboard holds.
//
//   shell_host [--dll <path>] [--no-register] [--saved-options] [--show <ms>] [copy flags] [paths...]
//
// --dll defaults to the Pathlift.dll of the build directory this program was built in (its parent directory),
// then to one next to the program. --no-register uses the server as already registered. --saved-options presses
// Copy with the options the dialog loaded instead of setting the flags' options. --interactive leaves the dialog
// to the user. --show <ms> shows the menu as a popup and the dialog on screen that long each, for pictures.

#include "console.h"
#include "host_options.h"
#include "host_text.h"
#include "shell_host_flow.h"

#include <string>
#include <vector>

namespace {

using namespace pathlift;
using namespace pathlift::tools;

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// build/<preset>/tools/shell_host.exe next to build/<preset>/Pathlift.dll; failing that, a DLL beside the program.
std::wstring DefaultDllPath() {
    wchar_t exe[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    std::wstring dir(exe, length);
    dir.erase(dir.find_last_of(L"\\/") + 1);
    const std::wstring parent = FullPath(dir + L"..\\Pathlift.dll");
    if (Exists(parent)) {
        return parent;
    }
    const std::wstring beside = dir + L"Pathlift.dll";
    return Exists(beside) ? beside : parent;
}

// The dialog can only be left to a user on a window station that is shown on a screen.
bool ShownOnAScreen() {
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags), &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

const wchar_t kOwnUsage[] =
    L"host flags: --dll <path to Pathlift.dll>  --no-register  --saved-options  --interactive  --show <ms>\n";

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring dll;
    bool registerServer = true;
    bool savedOptions = false;
    DWORD showMs = 0;
    std::vector<std::wstring> copyArguments;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--dll") {
            if (i + 1 >= argc) {
                PrintError(L"shell_host: --dll needs a path\n");
                return 2;
            }
            dll = argv[++i];
        } else if (argument == L"--no-register") {
            registerServer = false;
        } else if (argument == L"--saved-options") {
            savedOptions = true;
        } else if (argument == L"--show") {
            showMs = i + 1 < argc ? wcstoul(argv[++i], nullptr, 10) : 0;
            if (showMs == 0) {
                PrintError(L"shell_host: --show needs a time in milliseconds\n");
                return 2;
            }
        } else {
            copyArguments.push_back(argument);
        }
    }
    HostRequest request = ParseHostArguments(copyArguments);
    if (request.help || !request.error.empty()) {
        if (!request.error.empty()) {
            PrintError(L"shell_host: " + request.error + L"\n");
        }
        Print(kOwnUsage);
        Print(HostUsage());
        return request.help ? 0 : 2;
    }
    if (request.files.empty()) {
        for (const std::wstring& sample : CreateSampleFiles()) {
            request.files.emplace_back(sample.begin(), sample.end());
        }
    }

    ShellHostSettings settings;
    settings.dllPath = dll.empty() ? DefaultDllPath() : FullPath(dll);
    settings.registerServer = registerServer;
    settings.showMs = showMs;
    if (showMs != 0) {
        settings.existingMenuItems = 6; // the entry among Explorer's own, where Explorer puts a handler's
        settings.menuIndex = 2;
    }
    settings.action = request.interactive ? DialogAction::LeaveToUser
                      : savedOptions      ? DialogAction::CopySavedOptions
                                          : DialogAction::SetOptionsAndCopy;
    settings.progress = [](const std::wstring& line) { Print(line + L"\n"); };
    if (request.interactive && !ShownOnAScreen()) {
        PrintError(L"shell_host: --interactive needs a window station shown on a screen\n");
        return 2;
    }

    const ShellHostResult result = RunShellHost(settings, request);
    if (!result.succeeded) {
        PrintError(L"shell_host: " + result.error + L"\n");
        return 1;
    }
    Print(L"clipboard text:\n" + result.clipboard + L"\n");
    return 0;
}
