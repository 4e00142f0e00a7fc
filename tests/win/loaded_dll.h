#pragma once
// The built Pathlift.dll loaded once for the rest of a test program, with the exports the COM runtime calls.

#include "tests/win/shell_support.h"
#include "tests/win/trace_capture.h"

namespace pathlift::testing {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

struct Dll {
    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;
};

// Loaded on first use and kept; the trace lines of the load are taken away.
inline Dll& Loaded() {
    static Dll dll = [] {
        Dll d;
        d.module = LoadLibraryW(BuiltDllPath().c_str());
        d.getClassObject = Export<GetClassObjectFn>(d.module, "DllGetClassObject");
        d.canUnloadNow = Export<CanUnloadNowFn>(d.module, "DllCanUnloadNow");
        TraceCapture::Instance().Take();
        return d;
    }();
    return dll;
}

} // namespace pathlift::testing
