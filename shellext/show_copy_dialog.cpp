// ShowCopyDialog: opens the modeless copy dialog of this module for a selection and shows it.

#include "show_copy_dialog.h"

#include "module.h"

#include "dialog/copy_dialog.h"
#include "res/resource.h"

namespace pathlift {

// The dialog has no owner and is shown with SW_SHOW whatever the shell asked. It takes the selection over while it
// starts, before CreateDialogParamW returns; an empty selection is refused there and gives a failure result.
HRESULT ShowCopyDialog(Selection files) noexcept {
    SetLastError(0);
    HWND dialog = CreateDialogParamW(g_hInstDll, MAKEINTRESOURCEW(IDD_COPY_DIALOG), nullptr, DlgProc,
                                     reinterpret_cast<LPARAM>(&files));
    // A dialog that ended itself while starting (an empty selection) can leave a stale handle behind.
    if (dialog == nullptr || !IsWindow(dialog)) {
        const DWORD error = GetLastError();
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    return S_OK;
}

} // namespace pathlift
