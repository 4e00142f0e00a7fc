// ShowCopyDialog: opens the modeless copy dialog of this module for a selection, on a thread of its own, on the
// monitor the user invoked it on.

#include "show_copy_dialog.h"

#include "module.h"

#include "dialog/dialog_thread.h"

namespace pathlift {

// A window of the desktop's folder view spans every monitor, and MonitorFromWindow names the one with the largest
// share of it, not the one clicked: the invocation point comes first.
HMONITOR DialogMonitor(const POINT* invokedAt, HWND window) noexcept {
    if (invokedAt != nullptr) {
        return MonitorFromPoint(*invokedAt, MONITOR_DEFAULTTONEAREST);
    }
    if (window != nullptr) {
        return MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    }
    POINT cursor = {};
    if (GetCursorPos(&cursor)) {
        return MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST);
    }
    return MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
}

// The dialog has no owner and is shown with SW_SHOW whatever the shell asked. The shell may call from a thread that
// ends, or stops taking messages, right after this returns (Explorer invokes a chosen command on a worker thread),
// so the dialog runs on its own thread; this returns once it exists, or has refused an empty selection.
HRESULT ShowCopyDialog(Selection files, HMONITOR monitor) noexcept {
    return StartCopyDialogThread(g_hInstDll, CopyDialogStart{std::move(files), monitor});
}

} // namespace pathlift
