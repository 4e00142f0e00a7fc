// The x64 package's custom actions for Windows 11's context menu: register the sparse package that gives the
// installed Pathlift.dll a package identity (its folder is the package's external location), and remove it again.
// Windows Installer has no table for packages, and wixl cannot write a command line built from a directory, so
// these run PowerShell's Appx cmdlets as the installing user, who is the one the package is registered for. The
// package runs them on Windows 11 only (its conditions read the build number from the registry).

#include "action_log.h"

#include <windows.h>

#include <msiquery.h>

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

// Runs one PowerShell command as the installing user and writes to the log how it ended, with what it printed.
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

} // namespace

// After the files are in place: registers the installed Pathlift-sparse.msix (the file with the id
// SparsePackage) for the installing user, its folder being the external location that holds Pathlift.dll.
extern "C" UINT WINAPI RegisterSparsePackage(MSIHANDLE session) {
    const wchar_t what[] = L"registering the sparse package";
    return ActionBoundary(session, what, [&] {
        const std::wstring package = Formatted(session, L"[#SparsePackage]");
        const size_t slash = package.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash == 0) {
            Log(session, std::wstring(what) + L" skipped: the package file is not installed");
            return;
        }
        const std::wstring folder = package.substr(0, slash);
        RunPowerShell(session, what,
                      L"Add-AppxPackage -Path " + Quoted(package) + L" -ExternalLocation " + Quoted(folder));
    });
}

// Before the files go: removes for the installing user every package of our family (PATHLIFT_PACKAGE_FAMILY).
extern "C" UINT WINAPI RemoveSparsePackage(MSIHANDLE session) {
    const wchar_t what[] = L"removing the sparse package";
    return ActionBoundary(session, what, [&] {
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
