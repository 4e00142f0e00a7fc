// Locks a CF_HDROP block for the engine's reader and converts 8-bit names through the system's code page.

#include "shellext/drop_files.h"

#include "engine/win/unique_handles.h"

#include <shlobj.h>

#include <climits>
#include <cstddef>

namespace pathlift {

static_assert(sizeof(DROPFILES) == kDropFilesHeaderSize && offsetof(DROPFILES, fWide) == kDropFilesWideOffset);

std::size_t SystemCodePageDecoder::Decode(const char* text, std::size_t bytes, char16_t* out) noexcept {
    if (bytes > INT_MAX / 2) {
        return kFailed;
    }
    const int count = static_cast<int>(bytes);
    const int written = MultiByteToWideChar(CP_ACP, 0, text, count, reinterpret_cast<wchar_t*>(out), 2 * count);
    return written > 0 ? static_cast<std::size_t>(written) : kFailed;
}

Selection ReadDropFiles(HGLOBAL block) {
    if (block == nullptr) {
        return {};
    }
    const UniqueHglobalLocked locked(block);
    if (!locked) {
        return {};
    }
    SystemCodePageDecoder ansi;
    return ReadDropFiles(locked.get(), locked.size(), ansi);
}

} // namespace pathlift
