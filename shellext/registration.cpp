// DllRegisterServer and DllUnregisterServer: every value REG_SZ with its terminator counted, every key closed
// right after its value is set.

#include "registration.h"

#include "module.h"

#include "engine/win/unique_handles.h"

#include <objbase.h>
#include <olectl.h>
#include <shlobj.h>

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

// The machine's classes, not the merged HKEY_CLASSES_ROOT: there a leftover per-user key of the same name would take
// an administrator's registration. A 32-bit process on 64-bit Windows writes its CLSID keys into the 32-bit view;
// the handler keys under * and Folder are one key for both views.
const RegistrationEntry kRegistrationTable[] = {
    {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\%s", nullptr, L"Pathlift"},
    {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\%s\\InprocServer32", nullptr, L"%s"},
    {HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\%s\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {nullptr, nullptr, nullptr, nullptr},
};
constexpr const wchar_t* kHandlerKeys[] = {L"Software\\Classes\\*\\ShellEx\\ContextMenuHandlers\\%s",
                                           L"Software\\Classes\\Folder\\ShellEx\\ContextMenuHandlers\\%s"};

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
    HKEY opened = nullptr;
    if (RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &opened, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const UniqueHkey key(opened);
    RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                   static_cast<DWORD>((lstrlenW(data) + 1) * sizeof(wchar_t))); // the result is not looked at
    return true;
}

// The module's full path, however long. False when the system gives none, or only a cut one even into the largest
// buffer a path can need: either would register a file that does not exist.
bool ModulePath(std::wstring& path) {
    constexpr std::size_t kLongestBuffer = 32768;
    path.assign(kBufferLength, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(g_hInstDll, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return false;
        }
        if (length < path.size()) {
            path.resize(length);
            return true;
        }
        if (path.size() >= kLongestBuffer) {
            return false;
        }
        path.assign(path.size() * 2, L'\0');
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

// Lets a running shell pick up the new or removed handler without a restart.
void TellTheShell() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

HRESULT WriteRegistration(const wchar_t* classId, const std::wstring& modulePath) {
    wchar_t subKey[kBufferLength];
    for (const RegistrationEntry* entry = kRegistrationTable; entry->root != nullptr; ++entry) {
        wsprintfW(subKey, entry->keyFormat, classId);
        if (!WriteValue(entry->root, subKey, entry->valueName, RowData(entry->dataFormat, modulePath).c_str())) {
            return SELFREG_E_CLASS;
        }
    }
    for (const wchar_t* handlerFormat : kHandlerKeys) {
        wsprintfW(subKey, handlerFormat, kProductName);
        if (!WriteValue(HKEY_LOCAL_MACHINE, subKey, nullptr, classId)) {
            return SELFREG_E_CLASS;
        }
    }
    if (!IsNtFamily()) {
        return S_OK;
    }
    return WriteValue(HKEY_LOCAL_MACHINE, kApprovedKey, classId, kProductName) ? S_OK : SELFREG_E_CLASS;
}

// Whether the other bit width's DLL is registered in its own registry view (the 32-bit one from a 64-bit process,
// the 64-bit one from a 32-bit process on 64-bit Windows; on 32-bit Windows the flag is ignored and this view, just
// emptied, is asked). Its registration needs the handler keys both views share.
bool OtherViewRegistered(const wchar_t* classKey) {
    constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    std::wstring server = classKey;
    server += L"\\InprocServer32";
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, server.c_str(), 0, KEY_QUERY_VALUE | kOtherView, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

HRESULT RemoveRegistration(const wchar_t* classId) {
    wchar_t subKey[kBufferLength];
    wsprintfW(subKey, L"Software\\Classes\\CLSID\\%s", classId);
    DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, subKey);
    if (!OtherViewRegistered(subKey)) {
        for (const wchar_t* handlerFormat : kHandlerKeys) {
            wsprintfW(subKey, handlerFormat, kProductName);
            DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, subKey);
        }
    }
    if (!IsNtFamily()) {
        return S_OK;
    }
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) {
        return SELFREG_E_CLASS;
    }
    const UniqueHkey approved(opened);
    RegDeleteValueW(approved.get(), classId); // the result is not looked at
    return S_OK;
}

} // namespace

int DeleteRegistryKeyTree(HKEY parent, const wchar_t* name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(parent, name, 0, KEY_ENUMERATE_SUB_KEYS, &opened) != ERROR_SUCCESS) {
        return 0;
    }
    UniqueHkey key(opened);
    // Each removal moves the remaining sub-keys down, so index 0 is asked again; a sub-key that is still there
    // afterwards could not be removed and is stepped over.
    DWORD index = 0;
    wchar_t subKey[kBufferLength];
    wchar_t previous[kBufferLength] = {};
    bool havePrevious = false;
    for (;;) {
        DWORD length = kBufferLength;
        if (RegEnumKeyExW(key.get(), index, subKey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (havePrevious && lstrcmpiW(subKey, previous) == 0) {
            ++index;
            havePrevious = false;
            continue;
        }
        DeleteRegistryKeyTree(key.get(), subKey);
        lstrcpyW(previous, subKey);
        havePrevious = true;
    }
    key.reset();                 // closed before its own deletion
    RegDeleteKeyW(parent, name); // the result is not looked at
    return 1;
}

} // namespace pathlift

using namespace pathlift;

// Nothing is written without the module's whole path. A failure part-way leaves what was written before it.
STDAPI DllRegisterServer() {
    return ComBoundary([] {
        wchar_t classId[kBufferLength];
        if (!ClassIdString(classId)) {
            return E_FAIL;
        }
        std::wstring modulePath;
        if (!ModulePath(modulePath)) {
            return SELFREG_E_CLASS;
        }
        const HRESULT hr = WriteRegistration(classId, modulePath);
        TellTheShell();
        return hr;
    });
}

STDAPI DllUnregisterServer() {
    return ComBoundary([] {
        wchar_t classId[kBufferLength];
        if (!ClassIdString(classId)) {
            return E_FAIL;
        }
        const HRESULT hr = RemoveRegistration(classId);
        TellTheShell();
        return hr;
    });
}
