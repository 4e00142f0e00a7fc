#pragma once
// The DPI questions of the copy dialog, asked through functions that only newer systems have (per-thread awareness
// and a window's DPI from Windows 10 1607, a monitor's DPI from 8.1, a dialog's DPI behaviour from 10 1703). Each
// is looked up when asked, so the module loads and works on every system; where one is missing the answer is what
// that system does without it.

#include <windows.h>

namespace pathlift {

// The calling thread's DPI awareness context; null where the system has no per-thread awareness (every thread then
// has the process's).
DPI_AWARENESS_CONTEXT ThreadDpiAwareness() noexcept;

// Puts the calling thread into `context`. Null, or a system without per-thread awareness, leaves it as it is.
void AdoptDpiAwareness(DPI_AWARENESS_CONTEXT context) noexcept;

// The DPI that a window of the calling thread gets on `monitor`: the monitor's own for a per-monitor aware thread,
// else the DPI that every window of the thread has (96 unaware, the system's DPI system aware).
UINT DpiOnMonitor(HMONITOR monitor) noexcept;

// The window's DPI: its monitor's for a per-monitor aware window, else as above.
UINT WindowDpi(HWND window) noexcept;

// Leaves the dialog's size to its own procedure when its DPI changes; the dialog manager still lays out the controls
// and changes their fonts.
void KeepDialogSizeOnDpiChange(HWND dialog) noexcept;

} // namespace pathlift
