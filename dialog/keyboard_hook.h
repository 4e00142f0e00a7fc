#pragma once
// A working keyboard for the copy dialogs in hosts whose message loop never calls IsDialogMessageW (Explorer's
// does not): one WH_GETMESSAGE hook per thread that has a copy dialog open.

#include <windows.h>

namespace pathlift {

// Called from the dialog's WM_INITDIALOG: the thread's first dialog installs the thread's hook. False when the
// hook could not be installed; the dialog then works with the mouse alone.
bool AttachKeyboard(HWND dialog) noexcept;

// Called from the dialog's WM_NCDESTROY, however it is destroyed: the thread's last dialog removes the hook. Only
// a dialog that was attached counts, so calling it twice, or for a dialog never attached, changes nothing.
void DetachKeyboard(HWND dialog) noexcept;

} // namespace pathlift
