#pragma once
// The copy dialogs that exist, each on the thread that made it, the keyboard hook each such thread has, and the
// loader reference on this module that keeps its code mapped while any of them exists, whoever else lets go of it.

#include <windows.h>

namespace pathlift {

// Called from WM_INITDIALOG: counts the dialog for the calling thread and, with the first one, takes the module
// reference. False when there is no memory to count it; the dialog must then not start.
bool AddOpenDialog(HWND dialog) noexcept;
// Called from WM_NCDESTROY: true when the dialog was counted, and is no longer.
bool RemoveOpenDialog(HWND dialog) noexcept;
// Copy dialogs that exist in this process, from WM_INITDIALOG until the window is gone or its thread ends.
long OpenCopyDialogCount() noexcept;

// The calling thread's keyboard hook, shared by its dialogs: the first user has install() make it, and false comes
// back when install() gives none or there is no memory to keep it.
bool AddKeyboardUser(HHOOK (*install)()) noexcept;
// The last user of the calling thread's hook gets it back, to remove it; every other user gets null.
HHOOK RemoveKeyboardUser() noexcept;
// Hooks of ours installed in the process, on all threads.
long KeyboardHookCount() noexcept;

// Called from DLL_THREAD_DETACH, under the loader lock: the system destroys an ending thread's windows without
// sending them a message, so everything its dialogs held is given back here. It only changes this module's own
// records and frees memory.
void ForgetEndingThread() noexcept;

// The unload question: true when no dialog, hook or COM object is left. Then the module reference is given back,
// which never unloads the module here, because whoever asks this question holds a reference of its own.
bool LetGoOfModuleWhenUnused(bool objectsAlive) noexcept;

} // namespace pathlift
