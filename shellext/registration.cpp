// DllRegisterServer and DllUnregisterServer: every value REG_SZ with its terminator counted, every key closed
// right after its value is set.

#include "registration.h"

#include "module.h"

#include <objbase.h>
#include <olectl.h>

#include <initializer_list>
#include <string>

namespace pathlift {

namespace {

constexpr DWORD kBufferLength = 260;
constexpr wchar_t kProductName[] = L"Pathlift";
constexpr wchar_t kApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

struct RegistrationEntry {
    HKEY root;
    const wchar_t* keyFormat;
    const wchar_t* valueName;
    const wchar_t* dataFormat;
};

const RegistrationEntry kRegistrationTable[] = {
    {HKEY_CLASSES_ROOT, L"CLSID\\%s", nullptr, L"Pathlift"},
    {HKEY_CLASSES_ROOT, L"CLSID\\%s\\InprocServer32", nullptr, L"%s"},
    {HKEY_CLASSES_ROOT, L"CLSID\\%s\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {nullptr, nullptr, nullptr, nullptr},
};

// The registry form of the class id, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", through the task allocator.
bool ClassIdString(wchar_t (&out)[kBufferLength]) {
    LPOLESTR text = nullptr;
    if (FAILED(StringFromIID(CLSID_ShellMenuExt, &text)) || text == nullptr) {
        return false;
    }
    lstrcpynW(out, text, kBufferLength);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(CoGetMalloc(MEMCTX_TASK, &allocator))) {
        allocator->Free(text);
        allocator->Release();
    }
    return true;
}

// Creates or opens the key, sets one REG_SZ value and closes the key again; false when the key cannot be had.
bool WriteValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, const wchar_t* data) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                   static_cast<DWORD>((lstrlenW(data) + 1) * sizeof(wchar_t))); // the result is not looked at
    RegCloseKey(key);
    return true;
}

// The module's full path, however long: a path cut to a fixed buffer would register a file that does not exist.
std::wstring ModulePath() {
    std::wstring path(kBufferLength, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(g_hInstDll, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size() || path.size() >= 32768) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The data of one row: its format with the module path in place of %s.
std::wstring RowData(const wchar_t* format, const std::wstring& modulePath) {
    std::wstring data = format;
    const std::size_t at = data.find(L"%s");
    if (at != std::wstring::npos) {
        data.replace(at, 2, modulePath);
    }
    return data;
}

bool IsNtFamily() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version); // 276 bytes
    return GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

} // namespace

int DeleteRegistryKeyTree(HKEY parent, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name, 0, KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS) {
        return 0;
    }
    // Each removal moves the remaining sub-keys down, so index 0 is asked again; a sub-key that is still there
    // afterwards could not be removed and is stepped over.
    DWORD index = 0;
    wchar_t subKey[kBufferLength];
    wchar_t previous[kBufferLength] = {};
    bool havePrevious = false;
    for (;;) {
        DWORD length = kBufferLength;
        if (RegEnumKeyExW(key, index, subKey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (havePrevious && lstrcmpiW(subKey, previous) == 0) {
            ++index;
            havePrevious = false;
            continue;
        }
        DeleteRegistryKeyTree(key, subKey);
        lstrcpyW(previous, subKey);
        havePrevious = true;
    }
    RegCloseKey(key);
    RegDeleteKeyW(parent, name); // the result is not looked at
    return 1;
}

} // namespace pathlift

using namespace pathlift;

STDAPI DllRegisterServer() {
    return ComBoundary([] {
        wchar_t classId[kBufferLength];
        if (!ClassIdString(classId)) {
            return E_FAIL;
        }
        const std::wstring modulePath = ModulePath();

        wchar_t subKey[kBufferLength];
        for (const RegistrationEntry* entry = kRegistrationTable; entry->root != nullptr; ++entry) {
            wsprintfW(subKey, entry->keyFormat, classId);
            if (!WriteValue(entry->root, subKey, entry->valueName, RowData(entry->dataFormat, modulePath).c_str())) {
                return SELFREG_E_CLASS;
            }
        }
        for (const wchar_t* handlerFormat :
             {L"*\\ShellEx\\ContextMenuHandlers\\%s", L"Folder\\ShellEx\\ContextMenuHandlers\\%s"}) {
            wsprintfW(subKey, handlerFormat, kProductName);
            if (!WriteValue(HKEY_CLASSES_ROOT, subKey, nullptr, classId)) {
                return SELFREG_E_CLASS;
            }
        }
        if (!IsNtFamily()) {
            return S_OK;
        }
        return WriteValue(HKEY_LOCAL_MACHINE, kApprovedKey, classId, kProductName) ? S_OK : SELFREG_E_CLASS;
    });
}

STDAPI DllUnregisterServer() {
    return ComBoundary([] {
        wchar_t classId[kBufferLength];
        if (!ClassIdString(classId)) {
            return E_FAIL;
        }
        wchar_t subKey[kBufferLength];
        wsprintfW(subKey, L"CLSID\\%s", classId);
        DeleteRegistryKeyTree(HKEY_CLASSES_ROOT, subKey);
        wsprintfW(subKey, L"*\\ShellEx\\ContextMenuHandlers\\%s", kProductName);
        DeleteRegistryKeyTree(HKEY_CLASSES_ROOT, subKey);
        wsprintfW(subKey, L"Folder\\ShellEx\\ContextMenuHandlers\\%s", kProductName);
        DeleteRegistryKeyTree(HKEY_CLASSES_ROOT, subKey);
        if (!IsNtFamily()) {
            return S_OK;
        }
        HKEY approved = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE, &approved) != ERROR_SUCCESS) {
            return SELFREG_E_CLASS;
        }
        RegDeleteValueW(approved, classId); // the result is not looked at
        RegCloseKey(approved);
        return S_OK;
    });
}
