// Asks WNetGetUniversalNameW and GetShortPathNameW, through the formatter's own buffers.

#include "system_path_queries.h"

#include <windows.h>

#include <winnetwk.h>

#include <algorithm>
#include <cstring>

namespace pathlift {

namespace {
const wchar_t* Wide(const char16_t* text) noexcept {
    return reinterpret_cast<const wchar_t*>(text);
}
} // namespace

// The answer is a UNIVERSAL_NAME_INFOW record at the start of the buffer whose pointer leads to the name further on
// in the same buffer; the name is moved to the start, an overlapping move.
bool SystemPathQueries::UniversalName(const char16_t* localPath, char16_t* work, std::size_t workCapacity) {
    const std::size_t bytes = std::min<std::size_t>(workCapacity * sizeof(char16_t), 65536);
    if (bytes < sizeof(UNIVERSAL_NAME_INFOW) + sizeof(wchar_t)) {
        return false;
    }
    DWORD size = static_cast<DWORD>(bytes - sizeof(wchar_t));
    if (WNetGetUniversalNameW(Wide(localPath), UNIVERSAL_NAME_INFO_LEVEL, work, &size) != NO_ERROR) {
        return false;
    }
    const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(work);
    const auto* begin = reinterpret_cast<const char*>(work);
    const auto* name = reinterpret_cast<const char*>(info->lpUniversalName);
    // Trust the pointer only as far as it stays inside the buffer and its text ends there.
    if (name < begin + sizeof(UNIVERSAL_NAME_INFOW) || name >= begin + bytes ||
        (name - begin) % sizeof(char16_t) != 0) {
        return false;
    }
    const std::size_t offset = static_cast<std::size_t>(name - begin) / sizeof(char16_t);
    const std::size_t limit = bytes / sizeof(char16_t) - offset;
    std::size_t length = 0;
    while (length < limit && work[offset + length] != u'\0') {
        ++length;
    }
    if (length == limit) {
        return false;
    }
    std::memmove(work, work + offset, (length + 1) * sizeof(char16_t));
    return true;
}

// A result of 0 is a failure and one not below the buffer size asks for more room; neither gives a short form.
bool SystemPathQueries::ShortPath(const char16_t* longPath, char16_t* out, std::size_t outCapacity) {
    const DWORD capacity = static_cast<DWORD>(std::min<std::size_t>(outCapacity, 32767));
    const DWORD written = GetShortPathNameW(Wide(longPath), reinterpret_cast<wchar_t*>(out), capacity);
    return written > 0 && written < capacity;
}

} // namespace pathlift
