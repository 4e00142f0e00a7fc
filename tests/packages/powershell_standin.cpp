// Stands in for powershell.exe in the package test's Wine prefix, where the package's custom actions start it:
// appends its command line to calls.log beside itself, prints it, and exits with the number in exit-code.txt
// beside itself (0 without one), so the test sees exactly what each action asked for, in order, and can make it
// fail as Add-AppxPackage does on a machine that does not trust the package's signer.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain() {
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self, length);
    folder.erase(folder.find_last_of(L'\\') + 1);
    if (FILE* calls = _wfopen((folder + L"calls.log").c_str(), L"a")) {
        std::fprintf(calls, "%ls\n", GetCommandLineW());
        std::fclose(calls);
    }
    int code = 0;
    if (FILE* exitCode = _wfopen((folder + L"exit-code.txt").c_str(), L"r")) {
        if (std::fscanf(exitCode, "%d", &code) != 1) {
            code = 0;
        }
        std::fclose(exitCode);
    }
    std::printf("stand-in powershell.exe called as: %ls\n", GetCommandLineW());
    return code;
}
