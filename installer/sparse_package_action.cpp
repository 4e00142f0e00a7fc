// The x64 package's custom actions for Windows 11's context menu: the sparse package that gives the installed
// Pathlift.dll a package identity (its folder is the package's external location). Per user, it is registered for
// the installing user and removed for that user again. Per machine, it is also staged and provisioned, so that
// Windows registers it for every user at their next sign-in, and on removal deprovisioned and removed for every
// user; those two need the machine's rights and run deferred, not impersonated. Windows Installer has no table for
// packages, and wixl cannot write a command line built from a directory, so these run PowerShell's Appx cmdlets
// and, where no cmdlet takes a staged package, the PackageManager class. Each action notes in the registry when
// it registered or provisioned the package: Pathlift.dll lets its classic entry step aside only in processes that
// started later, as only they have loaded the package's menu extension. The package runs them on Windows 11 only
// (its conditions read the build number from the registry).

#include "action_log.h"

#include <windows.h>

#include <msiquery.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>

namespace {

using pathlift::Log;

// Long enough for a deployment on a slow disk, short enough that a hung one does not hold the install forever.
constexpr DWORD kPowerShellTimeoutMs = 120000;
// What the log keeps of PowerShell's output.
constexpr DWORD kMaxOutputBytes = 4096;

struct HandleCloser {
    void operator()(HANDLE h) const noexcept {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// A property, or a formatted text such as "[#File]" for a file's installed path.
std::wstring Formatted(MSIHANDLE session, const wchar_t* text) {
    const MSIHANDLE record = MsiCreateRecord(0);
    if (record == 0) {
        return {};
    }
    MsiRecordSetStringW(record, 0, text);
    std::wstring value(MAX_PATH, L'\0');
    DWORD length = static_cast<DWORD>(value.size());
    UINT result = MsiFormatRecordW(session, record, value.data(), &length);
    if (result == ERROR_MORE_DATA) {
        value.resize(++length);
        result = MsiFormatRecordW(session, record, value.data(), &length);
    }
    MsiCloseHandle(record);
    if (result != ERROR_SUCCESS) {
        return {};
    }
    value.resize(length);
    return value;
}

// A deferred action's one property: what the immediate action of its name set for it, taken as it is (a path may
// hold brackets that formatting would read as properties).
std::wstring CustomActionData(MSIHANDLE session) {
    std::wstring value(MAX_PATH, L'\0');
    DWORD length = static_cast<DWORD>(value.size());
    UINT result = MsiGetPropertyW(session, L"CustomActionData", value.data(), &length);
    if (result == ERROR_MORE_DATA) {
        value.resize(++length);
        result = MsiGetPropertyW(session, L"CustomActionData", value.data(), &length);
    }
    if (result != ERROR_SUCCESS) {
        return {};
    }
    value.resize(length);
    return value;
}

// A PowerShell string literal: single quotes, a quote inside doubled.
std::wstring Quoted(const std::wstring& text) {
    std::wstring out = L"'";
    for (const wchar_t c : text) {
        out += c;
        if (c == L'\'') {
            out += L'\'';
        }
    }
    return out + L"'";
}

// Runs one PowerShell command, in the action's own context, and writes to the log how it ended, with what it printed.
// Returns whether it succeeded; the caller decides nothing on it, since the package is a convenience on top of the
// classic entry, which the rest of the install keeps in any case.
bool RunPowerShell(MSIHANDLE session, const std::wstring& what, const std::wstring& command) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        Log(session, what + L" skipped: the system folder is unknown");
        return false;
    }
    const std::wstring program = std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
    // A terminating error makes PowerShell exit with 1; its message goes to the output the log keeps.
    std::wstring line = L"\"" + program + L"\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"" +
                        L"$ErrorActionPreference = 'Stop'; " + command + L"\"";

    // The output goes to a temporary file that goes away with its last handle: a pipe would need a reader thread
    // to keep PowerShell from blocking on a full buffer while this waits.
    wchar_t folder[MAX_PATH + 1];
    wchar_t file[MAX_PATH];
    const DWORD folder_length = GetTempPathW(MAX_PATH + 1, folder);
    if (folder_length == 0 || folder_length > MAX_PATH || GetTempFileNameW(folder, L"plf", 0, file) == 0) {
        Log(session, what + L" skipped: no temporary file for PowerShell's output");
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const UniqueHandle output(
        CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (output.get() == INVALID_HANDLE_VALUE) {
        DeleteFileW(file);
        Log(session, what + L" skipped: no temporary file for PowerShell's output");
        return false;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process{};
    SetLastError(ERROR_SUCCESS);
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        Log(session,
            what + L" failed: " + program + L" could not be started (error " + std::to_wstring(GetLastError()) + L")");
        return false;
    }
    const UniqueHandle process_handle(process.hProcess);
    CloseHandle(process.hThread);

    bool succeeded = false;
    if (WaitForSingleObject(process.hProcess, kPowerShellTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, ERROR_TIMEOUT);
        Log(session, what + L" failed: PowerShell did not finish within " +
                         std::to_wstring(kPowerShellTimeoutMs / 1000) + L" s and was stopped");
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        succeeded = code == 0;
        Log(session, what + (succeeded ? L" succeeded" : L" failed: PowerShell exited with " + std::to_wstring(code)));
    }

    std::string text(kMaxOutputBytes, '\0');
    DWORD read = 0;
    if (SetFilePointer(output.get(), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(output.get(), text.data(), kMaxOutputBytes, &read, nullptr) && read > 0) {
        text.resize(read);
        std::wstring wide(read, L'\0');
        wide.resize(MultiByteToWideChar(CP_OEMCP, 0, text.data(), static_cast<int>(read), wide.data(),
                                        static_cast<int>(wide.size())));
        wide.erase(wide.find_last_not_of(L" \r\n") + 1);
        Log(session, L"PowerShell said: " + wide);
    }
    return succeeded;
}

template <class F> UINT ActionBoundary(MSIHANDLE session, const wchar_t* what, F&& body) noexcept {
    try {
        body();
    } catch (...) {
        Log(session, std::wstring(what) + L" failed: out of memory");
    }
    // The classic entry does not depend on the package: whatever happened, the install goes on.
    return ERROR_SUCCESS;
}

// The installed Pathlift-sparse.msix (the file with the id SparsePackage) and its folder, the external location
// that holds Pathlift.dll; false when the file is not installed.
bool PackageAndFolder(const std::wstring& package, std::wstring& folder) {
    const size_t slash = package.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0) {
        return false;
    }
    folder = package.substr(0, slash);
    return true;
}

// Where the DLL finds the installer's notes; HKLM is the 64-bit view, this DLL's own.
constexpr wchar_t kPackageKey[] = L"Software\\Pathlift\\Package";
constexpr wchar_t kRegisteredValue[] = L"Registered";

// Notes now (a FILETIME in UTC) as the time the package was registered for the user (HKCU) or provisioned for the
// machine (HKLM), or removes the note.
void NoteRegistration(MSIHANDLE session, HKEY root, bool registered) {
    const wchar_t* where = root == HKEY_CURRENT_USER ? L"the user's" : L"the machine's";
    LSTATUS status = ERROR_SUCCESS;
    if (registered) {
        FILETIME now = {};
        GetSystemTimeAsFileTime(&now);
        const ULONGLONG time = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        status = RegSetKeyValueW(root, kPackageKey, kRegisteredValue, REG_QWORD, &time, sizeof(time));
    } else {
        status = RegDeleteKeyValueW(root, kPackageKey, kRegisteredValue);
        if (status == ERROR_FILE_NOT_FOUND) {
            return;
        }
    }
    if (status != ERROR_SUCCESS) {
        Log(session, std::wstring(L"noting the registration time in ") + where + L" registry failed (error " +
                         std::to_wstring(status) + L")");
    }
}

// Windows PowerShell 5 cannot await a WinRT operation by itself: AsTask makes a .NET task of the PackageManager's
// deployment operation, whose ExtendedErrorCode is set when it failed.
const wchar_t kAwaitDeployment[] =
    L"Add-Type -AssemblyName System.Runtime.WindowsRuntime; "
    L"$asTask = [System.WindowsRuntimeSystemExtensions].GetMethods() | Where-Object { $_.Name -eq 'AsTask' -and "
    L"$_.GetParameters().Count -eq 1 -and $_.GetParameters()[0].ParameterType.Name -eq "
    L"'IAsyncOperationWithProgress`2' } | Select-Object -First 1; "
    L"$packages = [Windows.Management.Deployment.PackageManager, Windows.Management.Deployment, "
    L"ContentType = WindowsRuntime]::new(); "
    L"function Wait-Deployment($operation) { $task = $asTask.MakeGenericMethod("
    L"[Windows.Management.Deployment.DeploymentResult], [Windows.Management.Deployment.DeploymentProgress])"
    L".Invoke($null, @($operation)); $task.Wait(); "
    L"if ($task.Result.ExtendedErrorCode) { throw $task.Result.ErrorText } }; ";

} // namespace

// After the files are in place, per user and per machine alike: registers the installed package for the
// installing user, and notes when in the user's registry.
extern "C" UINT WINAPI RegisterSparsePackage(MSIHANDLE session) {
    const wchar_t what[] = L"registering the sparse package for the user";
    return ActionBoundary(session, what, [&] {
        const std::wstring package = Formatted(session, L"[#SparsePackage]");
        std::wstring folder;
        if (!PackageAndFolder(package, folder)) {
            Log(session, std::wstring(what) + L" skipped: the package file is not installed");
            return;
        }
        if (RunPowerShell(session, what,
                          L"Add-AppxPackage -Path " + Quoted(package) + L" -ExternalLocation " + Quoted(folder))) {
            NoteRegistration(session, HKEY_CURRENT_USER, true);
        }
    });
}

// Before the files go, as the user who removes Pathlift: forgets the user's registration time; per user, also
// removes for the user every package of our family (PATHLIFT_PACKAGE_FAMILY). Per machine DeprovisionSparsePackage
// removes them for every user.
extern "C" UINT WINAPI RemoveSparsePackage(MSIHANDLE session) {
    const wchar_t what[] = L"removing the sparse package for the user";
    return ActionBoundary(session, what, [&] {
        NoteRegistration(session, HKEY_CURRENT_USER, false);
        if (!Formatted(session, L"[ALLUSERS]").empty()) {
            return;
        }
        const std::wstring family = Formatted(session, L"[PATHLIFT_PACKAGE_FAMILY]");
        if (family.empty()) {
            Log(session, std::wstring(what) + L" skipped: the package has no family name");
            return;
        }
        RunPowerShell(session, what,
                      L"Get-AppxPackage | Where-Object PackageFamilyName -eq " + Quoted(family) +
                          L" | Remove-AppxPackage");
    });
}

// Per machine, deferred with the machine's rights once the files are in place. Its data: the installed package's
// path and the family name, "path|family". Stages the package with its external location and provisions its
// family, so that every user, present or future, gets it registered at their next sign-in; notes when in the
// machine's registry.
extern "C" UINT WINAPI ProvisionSparsePackage(MSIHANDLE session) {
    const wchar_t what[] = L"staging and provisioning the sparse package for every user";
    return ActionBoundary(session, what, [&] {
        const std::wstring data = CustomActionData(session);
        const size_t bar = data.find(L'|');
        std::wstring folder;
        if (bar == std::wstring::npos || !PackageAndFolder(data.substr(0, bar), folder) || bar + 1 == data.size()) {
            Log(session, std::wstring(what) + L" skipped: the package file is not installed");
            return;
        }
        const std::wstring package = data.substr(0, bar);
        const std::wstring family = data.substr(bar + 1);
        if (RunPowerShell(session, what,
                          std::wstring(kAwaitDeployment) + L"Add-AppxPackage -Path " + Quoted(package) +
                              L" -ExternalLocation " + Quoted(folder) +
                              L" -Stage; Wait-Deployment $packages.ProvisionPackageForAllUsersAsync(" + Quoted(family) +
                              L")")) {
            NoteRegistration(session, HKEY_LOCAL_MACHINE, true);
        }
    });
}

// Per machine, deferred with the machine's rights before the files go. Its data: the family name. Deprovisions
// the family, so no user gets it again, and removes its packages for every user.
extern "C" UINT WINAPI DeprovisionSparsePackage(MSIHANDLE session) {
    const wchar_t what[] = L"deprovisioning and removing the sparse package for every user";
    return ActionBoundary(session, what, [&] {
        NoteRegistration(session, HKEY_LOCAL_MACHINE, false);
        const std::wstring family = CustomActionData(session);
        if (family.empty()) {
            Log(session, std::wstring(what) + L" skipped: the package has no family name");
            return;
        }
        RunPowerShell(session, what,
                      std::wstring(kAwaitDeployment) +
                          L"Wait-Deployment $packages.DeprovisionPackageForAllUsersAsync(" + Quoted(family) +
                          L"); Get-AppxPackage -AllUsers | Where-Object PackageFamilyName -eq " + Quoted(family) +
                          L" | Remove-AppxPackage -AllUsers");
    });
}
