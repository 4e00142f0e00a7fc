#pragma once
// Real copy dialogs for the tests: created from the template linked into the test as the context-menu handler
// creates them, then worked through the tools' dialog driver; and the clipboard read back.

#include "dialog/copy_dialog.h"
#include "dialog/dialog_thread.h"
#include "engine/selection.h"
#include "res/resource.h"
#include "tools/console.h"
#include "tools/dialog_driver.h"

#include <windows.h>

#include <string>

namespace pathlift::testing {

using tools::Checked;
using tools::CheckedControls;
using tools::Click;
using tools::MessageBoxWatcher;
using tools::PressKey;
using tools::PumpMessages;
using tools::PumpUntil;
using tools::SeenMessageBox;

// Creates the dialog on this thread with the procedure and parameter the dialog thread gives it, handing over a
// selection of the paths (none for a null list); null when the dialog ended itself while starting.
inline HWND OpenCopyDialog(const FileList* files) {
    CopyDialogStart start{files != nullptr ? Selection::FromList(*files) : Selection(), nullptr};
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_COPY_DIALOG), nullptr, DlgProc,
                                     files != nullptr ? reinterpret_cast<LPARAM>(&start) : 0);
    if (dialog == nullptr || !IsWindow(dialog)) {
        return nullptr;
    }
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    return dialog;
}

inline std::wstring ClipboardText() {
    std::wstring text;
    return tools::ReadClipboardText(text) ? text : L"<no text>";
}

} // namespace pathlift::testing
