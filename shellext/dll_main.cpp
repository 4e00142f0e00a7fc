// The module's entry point: it records the instance handle and does nothing else under the loader lock.

#include <windows.h>

HINSTANCE g_hInstDll = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_hInstDll = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
