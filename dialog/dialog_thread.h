#pragma once
// Each copy dialog on a thread of this module's own: the thread makes the dialog, runs its messages until it is
// gone and ends, so the dialog never depends on the thread that asked for it.

#include "engine/selection.h"

#include <windows.h>

namespace pathlift {

// What the dialog is made with: the selection, which it moves out of while it starts, and the monitor it appears
// on (null: the primary monitor's).
struct CopyDialogStart {
    Selection files;
    HMONITOR monitor = nullptr;
};

// Makes the copy dialog from the template in `resources` on a new thread, in the calling thread's DPI awareness,
// and returns once the dialog exists (S_OK) or has refused to start (a failure result: an empty selection, no
// memory, no thread). Meanwhile the calling thread answers messages sent to it, and nothing else.
HRESULT StartCopyDialogThread(HINSTANCE resources, CopyDialogStart start) noexcept;

// Dialog threads of this module that have not ended yet.
long CopyDialogThreadCount() noexcept;

} // namespace pathlift
