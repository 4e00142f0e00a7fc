#pragma once
// The one way from a selection to the copy dialog, for every kind of menu entry the shell may show.

#include "engine/selection.h"

#include <windows.h>

namespace pathlift {

// The monitor the dialog appears on, the first of: the point where the user invoked the command (null: none
// given); the window the command was chosen in (null: none); the cursor. Asked on the invoking thread, whose DPI
// awareness gives the point and the window their coordinates.
HMONITOR DialogMonitor(const POINT* invokedAt, HWND window) noexcept;

HRESULT ShowCopyDialog(Selection files, HMONITOR monitor) noexcept;

} // namespace pathlift
