#pragma once
// Diagnostic lines on the debugger output channel, written unchanged, in every build.

#include <windows.h>

#include <cstdint>

namespace pathlift {

inline void TraceA(const char* line) noexcept {
    OutputDebugStringA(line);
}
inline void TraceW(const wchar_t* line) noexcept {
    OutputDebugStringW(line);
}

// Lower-case hexadecimal without prefix or leading zeros, the whole value: a 64-bit module handle is not cut to
// its low 32 bits as wsprintfW's %x would do.
inline void FormatHex(std::uintptr_t value, wchar_t* out) noexcept {
    wchar_t digits[2 * sizeof(value)];
    int n = 0;
    do {
        digits[n++] = L"0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (n != 0) {
        *out++ = digits[--n];
    }
    *out = L'\0';
}

} // namespace pathlift
