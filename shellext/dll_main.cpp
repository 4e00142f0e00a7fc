// The module's entry points: the loader's hook, the class object and the unload question.

#include "class_factory.h"
#include "module.h"
#include "trace.h"

#include "dialog/copy_dialog.h"
#include "dialog/keyboard_hook.h"

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

// Only the handle is stored here: no registry or file work under the loader lock.
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

// An open copy dialog runs this module's code without holding any COM object, and so does a keyboard hook of
// ours, which the system would call into an unloaded module: both keep the module too.
STDAPI DllCanUnloadNow() {
    TraceA("In DLLCanUnloadNow\r\n");
    return LiveObjects() != 0 || OpenCopyDialogCount() != 0 || KeyboardHookCount() != 0 ? S_FALSE : S_OK;
}
