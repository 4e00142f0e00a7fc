#pragma once
// Small text helpers the shell host's steps share: UTF-16 strings as Win32 wants them, full paths, and results
// written as a user can look them up.

#include <windows.h>

#include <cwchar>
#include <string>

namespace pathlift::tools {

inline std::wstring Wide(const std::u16string& text) {
    return {text.begin(), text.end()};
}

// The path made absolute against the current directory, whatever its length; the path itself when that fails.
inline std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    return full;
}

// "0x80070002"
inline std::wstring HresultText(HRESULT result) {
    wchar_t text[16] = {};
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

} // namespace pathlift::tools
