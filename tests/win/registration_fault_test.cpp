// Registration without a usable module path writes nothing. The registration code is linked into this test, so the
// module handle can be one that no module has, and the path answer one that Wine never gives: a path that fills
// even the largest buffer.

#include "shellext/module.h"
#include "shellext/registration.h"
#include "tests/win/import_patch.h"

#include <gtest/gtest.h>

#include <olectl.h>
#include <sddl.h>

#include <cstring>
#include <string>

namespace pathlift {

HINSTANCE g_hInstDll = nullptr;
LONG g_cLiveObjects = 0;

namespace {

const wchar_t kClassKey[] = L"CLSID\\{D80CD655-4791-4491-85E2-4B66894F5E00}";
const wchar_t kServerKey[] = L"CLSID\\{D80CD655-4791-4491-85E2-4B66894F5E00}\\InprocServer32";
const wchar_t kHandlerKeys[][64] = {L"*\\ShellEx\\ContextMenuHandlers\\Pathlift",
                                    L"Folder\\ShellEx\\ContextMenuHandlers\\Pathlift"};
const wchar_t kApproved[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kClassId[] = L"{D80CD655-4791-4491-85E2-4B66894F5E00}";

// What a module deeper than any buffer would give: the buffer filled, the path cut.
DWORD WINAPI FillingModuleFileName(HMODULE, LPWSTR name, DWORD size) {
    for (DWORD i = 0; i + 1 < size; ++i) {
        name[i] = L'x';
    }
    name[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

bool KeyExists(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::wstring ValueText(HKEY root, const wchar_t* path, const wchar_t* name) {
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(root, path, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        return L"<none>";
    }
    return text;
}

class RegistrationWithoutModulePath : public ::testing::Test {
protected:
    void SetUp() override { DllUnregisterServer(); }
    void TearDown() override {
        DllUnregisterServer();
        g_hInstDll = nullptr;
    }
};

TEST_F(RegistrationWithoutModulePath, WritesNothingAndFails) {
    wchar_t ownPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    struct Row {
        const char* name;
        HINSTANCE module;
        const void* moduleFileName; // a double for GetModuleFileNameW, or none
        HRESULT result;
        std::wstring server; // the path registered, or "<none>" when nothing may be written
    };
    const Row rows[] = {
        {"this test's own module, as a check of the others", GetModuleHandleW(nullptr), nullptr, S_OK, ownPath},
        {"a handle no module has", reinterpret_cast<HINSTANCE>(0x10), nullptr, SELFREG_E_CLASS, L"<none>"},
        {"a path that fills every buffer", GetModuleHandleW(nullptr),
         reinterpret_cast<const void*>(&FillingModuleFileName), SELFREG_E_CLASS, L"<none>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DllUnregisterServer();
        g_hInstDll = row.module;
        HRESULT result = E_UNEXPECTED;
        if (row.moduleFileName != nullptr) {
            const testing::ImportPatch patch(GetModuleHandleW(nullptr), "GetModuleFileNameW", row.moduleFileName);
            ASSERT_TRUE(patch.Patched());
            result = DllRegisterServer();
        } else {
            result = DllRegisterServer();
        }
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, kServerKey, nullptr), row.server);
        const bool written = row.result == S_OK;
        EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kClassKey), written);
        for (const wchar_t* handler : kHandlerKeys) {
            EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, handler), written);
        }
        EXPECT_EQ(ValueText(HKEY_LOCAL_MACHINE, kApproved, kClassId), written ? L"Pathlift" : L"<none>");
    }
}

// The approval key refuses writes, as it does for a user without administrator rights.
class RegistrationRefusedApproval : public ::testing::Test {
protected:
    void SetUp() override {
        DllUnregisterServer();
        g_hInstDll = GetModuleHandleW(nullptr);
        ASSERT_TRUE(SetApprovalSecurity(L"D:(D;;0x6;;;WD)(A;;KA;;;WD)")) << "deny setting values and sub-keys";
    }
    void TearDown() override {
        SetApprovalSecurity(L"D:(A;;KA;;;WD)");
        DllUnregisterServer();
        g_hInstDll = nullptr;
    }
    static bool SetApprovalSecurity(const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
            return false;
        }
        HKEY key = nullptr;
        LSTATUS status =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApproved, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr);
        if (status == ERROR_SUCCESS) {
            status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
            RegCloseKey(key);
        }
        LocalFree(descriptor);
        return status == ERROR_SUCCESS;
    }
};

TEST_F(RegistrationRefusedApproval, FailsAndKeepsWhatWasWrittenBefore) {
    EXPECT_EQ(DllRegisterServer(), SELFREG_E_CLASS);
    EXPECT_NE(ValueText(HKEY_CLASSES_ROOT, kServerKey, nullptr), L"<none>");
    for (const wchar_t* handler : kHandlerKeys) {
        EXPECT_EQ(ValueText(HKEY_CLASSES_ROOT, handler, nullptr), kClassId);
    }
    EXPECT_EQ(ValueText(HKEY_LOCAL_MACHINE, kApproved, kClassId), L"<none>");
}

} // namespace
} // namespace pathlift
