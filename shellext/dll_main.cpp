// The module's entry points: the loader's hook, the class object and the unload question.

#include "class_factory.h"
#include "module.h"
#include "trace.h"

#include "dialog/dialog_thread.h"

namespace pathlift {

HINSTANCE g_hInstDll = nullptr;
LONG g_cLiveObjects = 0;

namespace {

void TraceModuleLine(const wchar_t* format, HINSTANCE instance) noexcept {
    wchar_t handle[2 * sizeof(void*) + 1];
    FormatHex(reinterpret_cast<std::uintptr_t>(instance), handle);
    wchar_t line[128];
    wsprintfW(line, format, handle);
    TraceW(line);
}

} // namespace

} // namespace pathlift

using namespace pathlift;

// Only the handle is stored here: no registry, file or window work under the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
    if (fdwReason == DLL_PROCESS_ATTACH) {
        TraceModuleLine(L"In DLLMain, DLL_PROCESS_ATTACH (HINSTANCE: %s)\r\n", hinstDLL);
        g_hInstDll = hinstDLL;
    } else if (fdwReason == DLL_PROCESS_DETACH) {
        TraceModuleLine(L"In DLLMain, DLL_PROCESS_DETACH (HINSTANCE: %s)\r\n", hinstDLL);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    TraceA("In DllGetClassObject\r\n");
    *ppv = nullptr;
    return ComBoundary([&] { return CShellMenuExtFactory::Create(rclsid, riid, ppv); });
}

// A copy dialog's thread runs this module's code without holding any COM object. It also holds a loader reference
// of its own until its last instruction, so a host that unloads the module without asking cannot pull the code
// from under it.
STDAPI DllCanUnloadNow() {
    TraceA("In DLLCanUnloadNow\r\n");
    return LiveObjects() == 0 && CopyDialogThreadCount() == 0 ? S_OK : S_FALSE;
}
