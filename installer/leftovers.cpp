// The packages' deferred custom action: deletes the DLLs that other versions left in their version folders because
// a process (Explorer, any program with a file dialog open) still had them loaded when that version was removed.
// Each version installs into a folder of its own, so nothing ever has to replace a loaded file; what stays behind
// goes here at the next install or removal, once no process has it loaded, or at the next restart.

#include "action_log.h"

#include <windows.h>

#include <msiquery.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using pathlift::Log;

// Every file a version folder's bit-width folder can hold (the sparse package lies beside the 64-bit DLL of a signed
// build); anything else there keeps the folder.
constexpr const wchar_t* kVersionFiles[] = {L"Pathlift.dll", L"Pathlift-sparse.msix"};
constexpr const wchar_t* kBitWidthFolders[] = {L"x64", L"x86"};

struct FindCloser {
    void operator()(HANDLE find) const noexcept { FindClose(find); }
};
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

std::wstring CustomActionData(MSIHANDLE session) {
    DWORD length = 0;
    wchar_t empty[1] = {};
    if (MsiGetPropertyW(session, L"CustomActionData", empty, &length) != ERROR_MORE_DATA) {
        return {};
    }
    std::wstring data(length + 1, L'\0');
    length = static_cast<DWORD>(data.size());
    if (MsiGetPropertyW(session, L"CustomActionData", data.data(), &length) != ERROR_SUCCESS) {
        return {};
    }
    data.resize(length);
    return data;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> fields;
    std::wstring::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        fields.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) {
            return fields;
        }
        start = end + 1;
    }
}

std::vector<std::wstring> SubFolders(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE first = FindFirstFileW((folder + L"*").c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) {
        return names;
    }
    const UniqueFind find(first);
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(find.get(), &found));
    return names;
}

// Deletes what one version left in its folder; a file still loaded stays, and with it its folders.
void RemoveVersion(MSIHANDLE session, const std::wstring& versionFolder) {
    for (const wchar_t* bitWidth : kBitWidthFolders) {
        const std::wstring folder = versionFolder + bitWidth + L"\\";
        for (const wchar_t* name : kVersionFiles) {
            const std::wstring file = folder + name;
            if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
                continue;
            }
            if (DeleteFileW(file.c_str())) {
                Log(session, L"removed " + file);
            } else {
                Log(session, L"kept " + file + L", still in use (error " + std::to_wstring(GetLastError()) + L")");
            }
        }
        RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(versionFolder.c_str());
}

} // namespace

// CustomActionData: the version folder to keep (empty on removal), then the Pathlift folders, '|' between them.
// Only folders inside those are touched, and in them only the files a version installs. Cleaning up is a courtesy:
// the result is always success.
extern "C" UINT WINAPI RemoveLeftovers(MSIHANDLE session) {
    try {
        const std::vector<std::wstring> fields = Split(CustomActionData(session), L'|');
        const std::wstring& keep = fields.front();
        for (std::size_t i = 1; i < fields.size(); ++i) {
            std::wstring root = fields[i];
            if (root.empty()) {
                continue;
            }
            if (root.back() != L'\\') {
                root += L'\\';
            }
            for (const std::wstring& version : SubFolders(root)) {
                if (CompareStringOrdinal(version.c_str(), -1, keep.c_str(), -1, TRUE) != CSTR_EQUAL) {
                    RemoveVersion(session, root + version + L"\\");
                }
            }
            RemoveDirectoryW(root.c_str());
        }
    } catch (...) {
        // Only std::bad_alloc can come here; the files stay for the next time.
    }
    return ERROR_SUCCESS;
}
