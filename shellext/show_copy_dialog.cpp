// ShowCopyDialog: opens the modeless copy dialog of this module for a selection, on a thread of its own.

#include "show_copy_dialog.h"

#include "module.h"

#include "dialog/dialog_thread.h"

namespace pathlift {

// The dialog has no owner and is shown with SW_SHOW whatever the shell asked. The shell may call from a thread that
// ends, or stops taking messages, right after this returns (Explorer invokes a chosen command on a worker thread),
// so the dialog runs on its own thread; this returns once it exists, or has refused an empty selection.
HRESULT ShowCopyDialog(Selection files, HWND invoker) noexcept {
    return StartCopyDialogThread(g_hInstDll, CopyDialogStart{std::move(files), invoker});
}

} // namespace pathlift
