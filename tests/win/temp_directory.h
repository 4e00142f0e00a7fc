#pragma once
// A directory of the test's own inside the prefix's temporary directory, removed with everything in it at the end.

#include <windows.h>

#include <string>

namespace pathlift::testing {

inline std::u16string ToU16(const std::wstring& text) {
    return {text.begin(), text.end()};
}
inline std::wstring ToWide(const std::u16string& text) {
    return {text.begin(), text.end()};
}

class TempDirectory {
public:
    TempDirectory() {
        wchar_t base[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, base);
        path_ = std::wstring(base) + L"pathlift-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount());
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempDirectory() { RemoveTree(L"\\\\?\\" + path_); }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::wstring& Path() const { return path_; }

    // Creates an empty file (relative to this directory, any depth of existing directories) and gives its path.
    std::wstring File(const std::wstring& relative) const {
        const std::wstring full = path_ + L"\\" + relative;
        HANDLE file = CreateFileW((L"\\\\?\\" + full).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
        return full;
    }
    std::wstring Directory(const std::wstring& relative) const {
        const std::wstring full = path_ + L"\\" + relative;
        CreateDirectoryW((L"\\\\?\\" + full).c_str(), nullptr);
        return full;
    }

private:
    static void RemoveTree(const std::wstring& dir) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") {
                    continue;
                }
                const std::wstring child = dir + L"\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(child);
                } else {
                    DeleteFileW(child.c_str());
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(dir.c_str());
    }

    std::wstring path_;
};

} // namespace pathlift::testing
