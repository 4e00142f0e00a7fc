#pragma once
// Writes text to the tools' standard output or error as UTF-8, byte for byte, whatever the console's code page.

#include <windows.h>

#include <string>
#include <vector>

namespace pathlift::tools {

inline void WriteUtf8(DWORD stream, const std::wstring& text) {
    if (text.empty()) {
        return;
    }
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

inline void Print(const std::wstring& text) {
    WriteUtf8(STD_OUTPUT_HANDLE, text);
}

inline void PrintError(const std::wstring& text) {
    WriteUtf8(STD_ERROR_HANDLE, text);
}

// Another program may hold the clipboard for a moment: try for half a second.
inline bool OpenClipboardPatiently() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (OpenClipboard(nullptr)) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

// The clipboard's Unicode text, or nothing when it holds none.
inline bool ReadClipboardText(std::wstring& text) {
    if (!OpenClipboardPatiently()) {
        return false;
    }
    bool found = false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* characters = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = characters;
            found = true;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return found;
}

// A few files with spaces and Japanese names in the temporary directory, for a run without paths.
inline std::vector<std::wstring> CreateSampleFiles() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring dir = std::wstring(temp) + L"Pathlift samples";
    CreateDirectoryW(dir.c_str(), nullptr);
    CreateDirectoryW((dir + L"\\My Folder").c_str(), nullptr);
    std::vector<std::wstring> files = {dir + L"\\report 2026.txt", dir + L"\\日本語のファイル.docx",
                                       dir + L"\\My Folder", dir + L"\\archive.tar.gz"};
    for (const std::wstring& file : files) {
        if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
            HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                CloseHandle(h);
            }
        }
    }
    return files;
}

} // namespace pathlift::tools
