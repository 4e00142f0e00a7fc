// PackagedCommandRegistered: asks the system's version, the installer's note of our package and the package
// store, cheapest first, each time the classic menu is built (a package can come and go while Explorer runs).

#include "packaged_command.h"

#include <windows.h>

#include <initializer_list>

namespace pathlift {

#if defined(_WIN64)

namespace {

// Windows 11 starts at build 22000; before it no menu shows packaged Explorer commands.
constexpr DWORD kFirstWindows11Build = 22000;
// Where the installer writes the family name of the package it registered: HKCU for a per-user install, HKLM for
// a per-machine one.
constexpr wchar_t kPackageKey[] = L"Software\\Pathlift\\Package";
constexpr wchar_t kFamilyNameValue[] = L"FamilyName";
// A family name is at most 64 characters; a longer value is not ours.
constexpr DWORD kFamilyNameCapacity = 65;

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW* info);
using GetPackagesByPackageFamilyFn = LONG(WINAPI*)(PCWSTR family, UINT32* count, PWSTR* fullNames, UINT32* bufferLength,
                                                   WCHAR* buffer);

// A function of a module that every process has loaded, looked up when needed: no import binds the module to it.
template <class F> F SystemFunction(const wchar_t* module, const char* name) noexcept {
    HMODULE handle = GetModuleHandleW(module);
    return handle != nullptr ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name))) : nullptr;
}

// ntdll's answer, which no compatibility setting of the host process's manifest changes (GetVersionEx's can).
DWORD WindowsBuild() noexcept {
    const auto getVersion = SystemFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return getVersion != nullptr && getVersion(&info) == 0 ? info.dwBuildNumber : 0;
}

// The user's own note first, then the machine's.
bool RegisteredFamilyName(wchar_t (&family)[kFamilyNameCapacity]) noexcept {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        DWORD size = sizeof(family);
        if (RegGetValueW(root, kPackageKey, kFamilyNameValue, RRF_RT_REG_SZ, nullptr, family, &size) == ERROR_SUCCESS &&
            family[0] != L'\0') {
            return true;
        }
    }
    return false;
}

// Asked for sizes only: the count of the family's packages for the current user comes back with
// ERROR_INSUFFICIENT_BUFFER when there are any, with ERROR_SUCCESS and zero when there are none. The function
// first appears in Windows 8's kernel32.
bool FamilyInstalledForUser(const wchar_t* family) noexcept {
    const auto getPackages =
        SystemFunction<GetPackagesByPackageFamilyFn>(L"kernel32.dll", "GetPackagesByPackageFamily");
    if (getPackages == nullptr) {
        return false;
    }
    UINT32 count = 0;
    UINT32 bufferLength = 0;
    const LONG status = getPackages(family, &count, nullptr, &bufferLength, nullptr);
    return (status == ERROR_SUCCESS || status == ERROR_INSUFFICIENT_BUFFER) && count != 0;
}

} // namespace

bool PackagedCommandRegistered() noexcept {
    if (WindowsBuild() < kFirstWindows11Build) {
        return false;
    }
    wchar_t family[kFamilyNameCapacity] = {};
    return RegisteredFamilyName(family) && FamilyInstalledForUser(family);
}

#else

// This build runs only in 32-bit processes (Windows 11 has no 32-bit edition), which cannot load the 64-bit
// in-process server of our packaged command: the classic entry is the only one their menus can show.
bool PackagedCommandRegistered() noexcept {
    return false;
}

#endif

} // namespace pathlift
