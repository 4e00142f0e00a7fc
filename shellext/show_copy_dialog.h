#pragma once
// The one way from a selection to the copy dialog, for every kind of menu entry the shell may show.

#include "engine/selection.h"

#include <windows.h>

namespace pathlift {

// invoker: the window the command was chosen in, or null (the dialog then appears on the monitor under the cursor).
HRESULT ShowCopyDialog(Selection files, HWND invoker) noexcept;

} // namespace pathlift
