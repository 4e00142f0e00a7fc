// PackagedCommandShown: whether Explorer shows our packaged command, so the classic entry steps aside. What the
// system, the host, the installer's notes and the package store say is asked once per process and kept: Explorer
// loads a package's menu extensions only when it starts, so a package registered later changes nothing for this
// process, and a right-click asks nothing new. The selection is judged by its folder alone, from the folder's path
// text: one question whatever the number of items, and none of them rendered.

#include "packaged_command.h"

#include <shlobj.h>

#include <initializer_list>
#include <memory>
#include <new>

namespace pathlift {

namespace {

bool IsSeparator(char16_t c) noexcept {
    return c == u'\\' || c == u'/';
}

// The number of non-empty components between separators.
std::size_t Components(std::u16string_view text) noexcept {
    std::size_t count = 0;
    bool inComponent = false;
    for (const char16_t c : text) {
        if (IsSeparator(c)) {
            inComponent = false;
        } else if (!inComponent) {
            inComponent = true;
            ++count;
        }
    }
    return count;
}

bool StartsWithUncComponent(std::u16string_view text) noexcept {
    return text.size() >= 3 && (text[0] | 0x20) == u'u' && (text[1] | 0x20) == u'n' && (text[2] | 0x20) == u'c' &&
           (text.size() == 3 || IsSeparator(text[3]));
}

} // namespace

bool ItemsAreFilesAndFolders(std::u16string_view path) noexcept {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        const std::u16string_view rest = path.substr(2);
        // "\\?\" and "\\.\": a device path, "UNC\server\share" or a drive or volume and what follows it.
        if (rest.size() >= 2 && (rest[0] == u'?' || rest[0] == u'.') && IsSeparator(rest[1])) {
            const std::u16string_view device = rest.substr(2);
            return StartsWithUncComponent(device) ? Components(device.substr(3)) >= 2 : Components(device) >= 1;
        }
        return Components(rest) >= 2; // \\server\share and below; \\server alone holds shares
    }
    return path.size() >= 2 && path[1] == u':' &&
           ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

#if defined(_WIN64)

namespace {

// Windows 11 starts at build 22000; before it no menu shows packaged Explorer commands.
constexpr DWORD kFirstWindows11Build = 22000;
// Where the installer notes our package: HKCU for what it did for the user, HKLM for what it did for the machine.
// FamilyName is the package family's name; Registered (REG_QWORD, a FILETIME in UTC) says when the package was
// registered for the user, or provisioned for every user of the machine.
constexpr wchar_t kPackageKey[] = L"Software\\Pathlift\\Package";
constexpr wchar_t kFamilyNameValue[] = L"FamilyName";
constexpr wchar_t kRegisteredValue[] = L"Registered";
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

// The later of the user's and the machine's registration times, 0 when neither is noted. The later one counts: a
// package provisioned for the machine reaches the other users at their next sign-in, after which their own note,
// if they have one from an earlier install, is older than the machine's.
ULONGLONG LatestRegistration() noexcept {
    ULONGLONG latest = 0;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        ULONGLONG time = 0;
        DWORD size = sizeof(time);
        if (RegGetValueW(root, kPackageKey, kRegisteredValue, RRF_RT_REG_QWORD, nullptr, &time, &size) ==
                ERROR_SUCCESS &&
            time > latest) {
            latest = time;
        }
    }
    return latest;
}

ULONGLONG ProcessStart() noexcept {
    FILETIME created = {};
    FILETIME exited = {};
    FILETIME kernel = {};
    FILETIME user = {};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
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

// Microsoft documents packaged desktop4:FileExplorerContextMenus verbs for File Explorer's own menu and for no
// other program's: the open and save dialogs of other programs show the classic menu, which without the classic
// entry would have none. So the classic entry steps aside in Explorer's process alone, told by its file name.
bool HostIsExplorer() noexcept {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return false;
    }
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        if (*c == L'\\' || *c == L'/') {
            name = c + 1;
        }
    }
    return CompareStringOrdinal(name, -1, L"explorer.exe", -1, TRUE) == CSTR_EQUAL;
}

// Cheapest first. A package without a registration time, or one registered after this process started, is one
// Explorer has not loaded.
bool ProcessShowsThePackage() noexcept {
    if (WindowsBuild() < kFirstWindows11Build || !HostIsExplorer()) {
        return false;
    }
    wchar_t family[kFamilyNameCapacity] = {};
    if (!RegisteredFamilyName(family)) {
        return false;
    }
    const ULONGLONG registered = LatestRegistration();
    const ULONGLONG started = ProcessStart();
    return registered != 0 && started != 0 && registered < started && FamilyInstalledForUser(family);
}

// Worked out by the first caller; C++ makes the others wait for that answer.
bool ProcessShowsThePackageOnce() noexcept {
    static const bool shows = ProcessShowsThePackage();
    return shows;
}

} // namespace

// The folder's path, asked of its item id list alone: no item of the selection is looked at. The desktop's own
// view shows This PC, the Recycle Bin and the like among the files of the desktop folder, so it never counts as a
// folder of files and folders. Without a folder (a host that gives none) the classic entry stays: two entries are
// better than none.
bool PackagedCommandShown(PCIDLIST_ABSOLUTE folder) noexcept {
    if (folder == nullptr || ILIsEmpty(folder) || !ProcessShowsThePackageOnce()) {
        return false;
    }
    constexpr DWORD kPathCapacity = 32768;
    const std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[kPathCapacity]);
    if (path == nullptr || !SHGetPathFromIDListEx(folder, path.get(), kPathCapacity, GPFIDL_DEFAULT)) {
        return false;
    }
    return ItemsAreFilesAndFolders(reinterpret_cast<const char16_t*>(path.get()));
}

#else

// This build runs only in 32-bit processes (Windows 11 has no 32-bit edition), which cannot load the 64-bit
// in-process server of our packaged command: the classic entry is the only one their menus can show.
bool PackagedCommandShown(PCIDLIST_ABSOLUTE) noexcept {
    return false;
}

#endif

} // namespace pathlift
