// The DPI questions of the copy dialog, each function looked up in the system's module when asked.

#include "display_scale.h"

#include <shellscalingapi.h>

namespace pathlift {

namespace {

constexpr UINT kUnscaledDpi = 96;

template <class F> F Function(HMODULE module, const char* name) noexcept {
    return module != nullptr ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// user32 is loaded in every process that shows a window.
template <class F> F UserFunction(const char* name) noexcept {
    return Function<F>(GetModuleHandleW(L"user32.dll"), name);
}

// The one DPI of a thread that is not per-monitor aware, as the screen's device context reports it to this thread.
UINT ScreenDpi() noexcept {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<UINT>(dpi) : kUnscaledDpi;
}

DPI_AWARENESS Awareness(DPI_AWARENESS_CONTEXT context) noexcept {
    using AwarenessFn = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto awareness = UserFunction<AwarenessFn>("GetAwarenessFromDpiAwarenessContext");
    return context != nullptr && awareness != nullptr ? awareness(context) : DPI_AWARENESS_INVALID;
}

// shcore is loaded for the one question and let go again.
UINT MonitorsOwnDpi(HMONITOR monitor) noexcept {
    using MonitorDpiFn = HRESULT(WINAPI*)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*);
    HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const auto monitorDpi = Function<MonitorDpiFn>(shcore, "GetDpiForMonitor");
    UINT x = 0;
    UINT y = 0;
    const bool answered = monitorDpi != nullptr && SUCCEEDED(monitorDpi(monitor, MDT_EFFECTIVE_DPI, &x, &y)) && x != 0;
    if (shcore != nullptr) {
        FreeLibrary(shcore);
    }
    return answered ? x : ScreenDpi();
}

} // namespace

DPI_AWARENESS_CONTEXT ThreadDpiAwareness() noexcept {
    using GetFn = DPI_AWARENESS_CONTEXT(WINAPI*)();
    const auto get = UserFunction<GetFn>("GetThreadDpiAwarenessContext");
    return get != nullptr ? get() : nullptr;
}

void AdoptDpiAwareness(DPI_AWARENESS_CONTEXT context) noexcept {
    using SetFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto set = UserFunction<SetFn>("SetThreadDpiAwarenessContext");
    if (context != nullptr && set != nullptr) {
        set(context);
    }
}

UINT DpiOnMonitor(HMONITOR monitor) noexcept {
    switch (Awareness(ThreadDpiAwareness())) {
    case DPI_AWARENESS_PER_MONITOR_AWARE:
        return monitor != nullptr ? MonitorsOwnDpi(monitor) : ScreenDpi();
    case DPI_AWARENESS_UNAWARE:
        return kUnscaledDpi;
    default:
        return ScreenDpi();
    }
}

UINT WindowDpi(HWND window) noexcept {
    using WindowDpiFn = UINT(WINAPI*)(HWND);
    const auto windowDpi = UserFunction<WindowDpiFn>("GetDpiForWindow");
    const UINT dpi = windowDpi != nullptr ? windowDpi(window) : 0;
    return dpi != 0 ? dpi : ScreenDpi();
}

void KeepDialogSizeOnDpiChange(HWND dialog) noexcept {
    using BehaviourFn = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
    const auto behaviour = UserFunction<BehaviourFn>("SetDialogDpiChangeBehavior");
    if (behaviour != nullptr) {
        behaviour(dialog, DDC_DISABLE_RESIZE, DDC_DISABLE_RESIZE);
    }
}

} // namespace pathlift
