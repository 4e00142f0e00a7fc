// Stands in for powershell.exe in the package test's Wine prefix, where the package's custom actions start it: prints
// its own command line and fails, as Add-AppxPackage does on a machine that does not trust the package's signer, so
// the test sees exactly what the action asked for and that a failure leaves the install intact.

#include <windows.h>

#include <cstdio>

int wmain() {
    std::printf("stand-in powershell.exe called as: %ls\n", GetCommandLineW());
    return 1;
}
