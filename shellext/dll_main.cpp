// The module's entry points: the loader's hook, the class object and the unload question.

#include "class_factory.h"
#include "module.h"
#include "trace.h"

#include "dialog/dialog_threads.h"

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

// Only the handle is stored here, and an ending thread's dialogs are forgotten: no registry, file or window work
// under the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
    if (fdwReason == DLL_PROCESS_ATTACH) {
        TraceModuleLine(L"In DLLMain, DLL_PROCESS_ATTACH (HINSTANCE: %s)\r\n", hinstDLL);
        g_hInstDll = hinstDLL;
    } else if (fdwReason == DLL_PROCESS_DETACH) {
        TraceModuleLine(L"In DLLMain, DLL_PROCESS_DETACH (HINSTANCE: %s)\r\n", hinstDLL);
    } else if (fdwReason == DLL_THREAD_DETACH) {
        // The system destroys the ending thread's windows without a message: its dialogs cannot say they are gone.
        ForgetEndingThread();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    TraceA("In DllGetClassObject\r\n");
    *ppv = nullptr;
    return ComBoundary([&] { return CShellMenuExtFactory::Create(rclsid, riid, ppv); });
}

// An open copy dialog runs this module's code without holding any COM object, and so does a keyboard hook of
// ours, which the system would call into an unloaded module: both keep the module too. The dialogs also hold a
// loader reference of their own, for hosts that unload the module without asking; it is given back here, just
// before S_OK, so that the caller's own FreeLibrary is the one that unloads.
STDAPI DllCanUnloadNow() {
    TraceA("In DLLCanUnloadNow\r\n");
    return LetGoOfModuleWhenUnused(LiveObjects() != 0) ? S_OK : S_FALSE;
}
