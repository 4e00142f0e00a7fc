#pragma once
// Two monitors of different scaling, for a module whose imports of the monitor and DPI functions point here while a
// TwoMonitors scope lasts (Wine under Xvfb has one monitor at one DPI). The stand-ins answer as Windows documents:
// MonitorFromPoint names the monitor holding the point, else the nearest; MonitorFromWindow the monitor with the
// largest share of the window's rectangle ("the monitor that has the largest area of intersection"); GetMonitorInfoW
// gives the whole and the work rectangles; GetDpiForMonitor (MDT_EFFECTIVE_DPI) the monitor's DPI; GetDpiForWindow
// the DPI of its monitor for a per-monitor aware window and the one DPI of the system (96 here) for any other. The
// module finds the two DPI functions with GetProcAddress, whose import is pointed here too.

#include "tests/win/import_patch.h"

#include <windows.h>

#include <shellscalingapi.h>

#include <cstring>

namespace pathlift::testing {

struct FakeMonitor {
    HMONITOR handle;
    RECT whole;
    RECT work; // less a taskbar along the bottom
    UINT dpi;
};

// The primary monitor at 100 %, and right of it a smaller one at 200 %.
inline const FakeMonitor kMonitors[2] = {
    {reinterpret_cast<HMONITOR>(0x1001), {0, 0, 2560, 1440}, {0, 0, 2560, 1400}, 96},
    {reinterpret_cast<HMONITOR>(0x1002), {2560, 0, 4480, 1200}, {2560, 0, 4480, 1160}, 192},
};
inline const FakeMonitor& kPrimary = kMonitors[0];
inline const FakeMonitor& kSmallerAt200 = kMonitors[1];

inline POINT g_fakeCursor = {100, 100};

inline long DistanceOutside(const RECT& r, POINT p) {
    const long dx = p.x < r.left ? r.left - p.x : (p.x >= r.right ? p.x - r.right + 1 : 0);
    const long dy = p.y < r.top ? r.top - p.y : (p.y >= r.bottom ? p.y - r.bottom + 1 : 0);
    return dx + dy;
}

inline HMONITOR WINAPI FakeMonitorFromPoint(POINT point, DWORD flags) {
    const FakeMonitor* nearest = &kMonitors[0];
    for (const FakeMonitor& monitor : kMonitors) {
        if (DistanceOutside(monitor.whole, point) < DistanceOutside(nearest->whole, point)) {
            nearest = &monitor;
        }
    }
    if (DistanceOutside(nearest->whole, point) != 0) {
        return flags == MONITOR_DEFAULTTONULL ? nullptr
                                              : (flags == MONITOR_DEFAULTTOPRIMARY ? kPrimary.handle : nearest->handle);
    }
    return nearest->handle;
}

inline HMONITOR WINAPI FakeMonitorFromWindow(HWND window, DWORD flags) {
    RECT r = {};
    if (!GetWindowRect(window, &r)) {
        return flags == MONITOR_DEFAULTTONULL ? nullptr : kPrimary.handle;
    }
    const FakeMonitor* largest = nullptr;
    long largestArea = 0;
    for (const FakeMonitor& monitor : kMonitors) {
        RECT shared = {};
        if (IntersectRect(&shared, &r, &monitor.whole)) {
            const long area = (shared.right - shared.left) * (shared.bottom - shared.top);
            if (area > largestArea) {
                largest = &monitor;
                largestArea = area;
            }
        }
    }
    return largest != nullptr ? largest->handle
                              : FakeMonitorFromPoint({(r.left + r.right) / 2, (r.top + r.bottom) / 2}, flags);
}

inline const FakeMonitor* FindFakeMonitor(HMONITOR handle) {
    for (const FakeMonitor& monitor : kMonitors) {
        if (monitor.handle == handle) {
            return &monitor;
        }
    }
    return nullptr;
}

inline BOOL WINAPI FakeGetMonitorInfoW(HMONITOR handle, MONITORINFO* info) {
    const FakeMonitor* monitor = FindFakeMonitor(handle);
    if (monitor == nullptr || info == nullptr || info->cbSize < sizeof(MONITORINFO)) {
        return FALSE;
    }
    info->rcMonitor = monitor->whole;
    info->rcWork = monitor->work;
    info->dwFlags = monitor == &kPrimary ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
}

inline BOOL WINAPI FakeGetCursorPos(POINT* point) {
    *point = g_fakeCursor;
    return TRUE;
}

inline HRESULT WINAPI FakeGetDpiForMonitor(HMONITOR handle, MONITOR_DPI_TYPE, UINT* x, UINT* y) {
    const FakeMonitor* monitor = FindFakeMonitor(handle);
    if (monitor == nullptr) {
        return E_INVALIDARG;
    }
    *x = *y = monitor->dpi;
    return S_OK;
}

// Wine's own answer to the awareness of a window (real under Wine), asked as the module asks: at run time.
inline DPI_AWARENESS WindowAwareness(HWND window) {
    using ContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(HWND);
    using AwarenessFn = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user = GetModuleHandleW(L"user32.dll");
    const auto context =
        reinterpret_cast<ContextFn>(reinterpret_cast<void*>(GetProcAddress(user, "GetWindowDpiAwarenessContext")));
    const auto awareness = reinterpret_cast<AwarenessFn>(
        reinterpret_cast<void*>(GetProcAddress(user, "GetAwarenessFromDpiAwarenessContext")));
    return context != nullptr && awareness != nullptr ? awareness(context(window)) : DPI_AWARENESS_INVALID;
}

inline UINT WINAPI FakeGetDpiForWindow(HWND window) {
    if (WindowAwareness(window) != DPI_AWARENESS_PER_MONITOR_AWARE) {
        return 96;
    }
    return FindFakeMonitor(FakeMonitorFromWindow(window, MONITOR_DEFAULTTONEAREST))->dpi;
}

inline FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "GetDpiForMonitor") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeGetDpiForMonitor));
    }
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "GetDpiForWindow") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeGetDpiForWindow));
    }
    return GetProcAddress(module, name);
}

// The stand-ins in `module`'s import table while the scope lasts.
class TwoMonitors {
public:
    explicit TwoMonitors(HMODULE module)
        : fromPoint_(module, "MonitorFromPoint", reinterpret_cast<const void*>(&FakeMonitorFromPoint)),
          fromWindow_(module, "MonitorFromWindow", reinterpret_cast<const void*>(&FakeMonitorFromWindow)),
          info_(module, "GetMonitorInfoW", reinterpret_cast<const void*>(&FakeGetMonitorInfoW)),
          cursor_(module, "GetCursorPos", reinterpret_cast<const void*>(&FakeGetCursorPos)),
          procedures_(module, "GetProcAddress", reinterpret_cast<const void*>(&FakeGetProcAddress)) {}
    bool Patched() const {
        return fromPoint_.Patched() && fromWindow_.Patched() && info_.Patched() && cursor_.Patched() &&
               procedures_.Patched();
    }

private:
    ImportPatch fromPoint_, fromWindow_, info_, cursor_, procedures_;
};

} // namespace pathlift::testing
