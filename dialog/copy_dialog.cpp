// DlgProc: shows the saved options, and on Copy saves them, builds the text and puts it on the clipboard. Each
// dialog keeps the selection it was created with in the selected-files table under its window handle.

#include "copy_dialog.h"

#include "dialog_thread.h"
#include "display_scale.h"
#include "option_controls.h"
#include "placement.h"
#include "selected_files.h"
#include "settings_store.h"

#include "engine/name_formatter.h"
#include "engine/win/clipboard_writer.h"
#include "engine/win/system_path_queries.h"
#include "res/resource.h"

#include <memory>

namespace pathlift {

namespace {

bool IsChecked(HWND hDlg, int id) {
    return SendDlgItemMessageW(hDlg, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
void Check(HWND hDlg, int id) {
    SendDlgItemMessageW(hDlg, id, BM_SETCHECK, BST_CHECKED, 0);
}

template <std::size_t N> void ShowChoice(HWND hDlg, const OptionControl (&choices)[N], std::uint32_t value) {
    for (const OptionControl& choice : choices) {
        if (choice.value == value) {
            Check(hDlg, choice.control);
            return;
        }
    }
}

// The first checked control of the group gives the value; none checked gives the fallback.
template <std::size_t N>
std::uint32_t ReadChoice(HWND hDlg, const OptionControl (&choices)[N], std::uint32_t fallback) {
    for (const OptionControl& choice : choices) {
        if (IsChecked(hDlg, choice.control)) {
            return choice.value;
        }
    }
    return fallback;
}

void ShowOptions(HWND hDlg, const CopyOptions& options) {
    ShowChoice(hDlg, kModeControls, options.Mode);
    if (options.ShortName != 0) {
        Check(hDlg, IDC_CHECK_SHORTNAME);
    }
    if (options.NoExtension != 0) {
        Check(hDlg, IDC_CHECK_NOEXTENSION);
    }
    if (options.ConvertSpace != 0) {
        Check(hDlg, IDC_CHECK_CONVERTSPACE);
    }
    ShowChoice(hDlg, kQuoteControls, options.WQuotation);
    ShowChoice(hDlg, kDirectorySeparatorControls, options.DirectorySepalator);
    if (const int separator = FileSeparatorControl(options.FileSeparator); separator != 0) {
        Check(hDlg, separator);
    }
    ShowChoice(hDlg, kCaseControls, options.ConvertUpLower);
}

// The options as the controls show them: the first checked control of each group, or the group's fallback.
CopyOptions ReadOptionsFromControls(HWND hDlg) {
    CopyOptions options;
    options.Mode = ReadChoice(hDlg, kModeControls, kModeFullPath);
    options.ShortName = IsChecked(hDlg, IDC_CHECK_SHORTNAME) ? 1 : 0;
    options.NoExtension = IsChecked(hDlg, IDC_CHECK_NOEXTENSION) ? 1 : 0;
    options.ConvertSpace = IsChecked(hDlg, IDC_CHECK_CONVERTSPACE) ? 1 : 0;
    options.WQuotation = ReadChoice(hDlg, kQuoteControls, kQuoteNever);
    options.DirectorySepalator = ReadChoice(hDlg, kDirectorySeparatorControls, kSeparatorBackslash);
    options.FileSeparator = kFileSeparators[ReadChoice(hDlg, kFileSeparatorControls, 0)];
    options.ConvertUpLower = ReadChoice(hDlg, kCaseControls, kCaseUnchanged);
    return options;
}

// Ends a dialog that could not start: no entry of it stays in the table.
INT_PTR AbandonDialog(HWND hDlg) {
    UnregisterSelectedFiles(hDlg);
    DestroyWindow(hDlg);
    return FALSE;
}

// The work area (the monitor less the taskbar and other docked bars) of the monitor. Where the system names no
// monitor, the desktop's client area as a whole.
ScreenArea WorkArea(HMONITOR monitor) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) {
        return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
    }
    RECT desktop = {};
    GetClientRect(GetDesktopWindow(), &desktop);
    return {desktop.left, desktop.top, desktop.right, desktop.bottom};
}

// Sizes the still hidden dialog for its monitor's DPI and centres it on that monitor's work area. The dialog
// manager made the window where the template puts it (the primary monitor) and at that DPI; a per-monitor aware
// window that only later moves to a monitor of another DPI would be resized by the system around a centre computed
// for the old size. So the window goes onto its monitor first, where it takes that monitor's DPI (and the dialog
// manager lays out the controls for it), then gets the size for that DPI and its place, computed from the size
// the template had at the DPI it was laid out for.
void PlaceOnMonitor(HWND hDlg, HMONITOR monitor) {
    const ScreenArea area = WorkArea(monitor);
    RECT laid = {};
    GetWindowRect(hDlg, &laid);
    const WindowSize laidSize = {laid.right - laid.left, laid.bottom - laid.top};
    const auto laidDpi = static_cast<int>(WindowDpi(hDlg));
    const auto dpi = static_cast<int>(DpiOnMonitor(monitor));
    const WindowSize scaled = ScaledSize(laidSize, laidDpi, dpi);
    const WindowSize size = CopyDialogSize(scaled.width, scaled.height, dpi);
    const WindowOrigin origin = CentredInArea(area, size);
    KeepDialogSizeOnDpiChange(hDlg);
    if (dpi != laidDpi) {
        const WindowOrigin there = CentredInArea(area, laidSize);
        SetWindowPos(hDlg, nullptr, there.x, there.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    MoveWindow(hDlg, origin.x, origin.y, size.width, size.height, FALSE);
}

// The window's DPI changed: the user dragged it onto a monitor of another scaling, or changed the scaling. The
// system's suggested rectangle keeps the window under the user's hand at the new DPI; it is taken as it is, only
// grown to the minimum at the new DPI. The dialog manager still lays out the controls and changes their fonts.
INT_PTR OnDpiChanged(HWND hDlg, WPARAM wParam, LPARAM lParam) noexcept {
    if (lParam == 0) {
        return FALSE;
    }
    const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
    const WindowSize size =
        CopyDialogSize(suggested.right - suggested.left, suggested.bottom - suggested.top, LOWORD(wParam));
    SetWindowPos(hDlg, nullptr, suggested.left, suggested.top, size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
    return FALSE;
}

INT_PTR OnInitDialog(HWND hDlg, LPARAM lParam) noexcept {
    if (lParam == 0) {
        DestroyWindow(hDlg);
        return FALSE;
    }
    CopyDialogStart& start = *reinterpret_cast<CopyDialogStart*>(lParam);
    try {
        // The creator's selection ends when CreateDialogParamW returns: the dialog takes it over instead of copying.
        if (start.files.empty()) {
            DestroyWindow(hDlg);
            return FALSE;
        }
        if (RegisterSelectedFiles(hDlg, std::make_shared<const Selection>(std::move(start.files))) == 0) {
            MessageBoxW(nullptr, kRegisterFailedText, kErrorCaption, MB_OK);
            DestroyWindow(hDlg);
            return FALSE;
        }
    } catch (...) {
        DestroyWindow(hDlg); // out of memory while copying or registering: the table is as it was
        return FALSE;
    }
    try {
        ShowOptions(hDlg, LoadCopyOptions());
    } catch (...) {
        return AbandonDialog(hDlg);
    }
    PlaceOnMonitor(hDlg, start.monitor);
    return TRUE;
}

// The box and what follows it when the Copy cannot get its storage: nothing saved, nothing copied, dialog closed.
INT_PTR ReportNoMemory(HWND hDlg) {
    MessageBoxW(hDlg, kNoMemoryText, kErrorCaption, MB_OK);
    SendMessageW(hDlg, WM_CLOSE, 0, 0);
    return TRUE;
}

// Everything the Copy needs is found and reserved before the options are saved: the queries' answers, the exact
// length of the text and the clipboard's block. A Copy that cannot have its storage saves nothing and copies
// nothing; one that has it writes the text once, straight into the block the clipboard takes.
INT_PTR OnCopy(HWND hDlg) noexcept {
    SharedSelection files;
    CopyOptions options;
    try {
        files = GetSelectedFiles(hDlg);
        if (files == nullptr || files->empty()) {
            MessageBoxW(nullptr, kGetFailedText, kErrorCaption, MB_OK);
            SendMessageW(hDlg, WM_CLOSE, 0, 0);
            return TRUE;
        }
        options = ReadOptionsFromControls(hDlg);
    } catch (...) {
        return ReportNoMemory(hDlg);
    }
    CopyBuffers buffers;
    ClipboardBlock block;
    SystemPathQueries system;
    if (!AllocateCopyBuffers(*files, options, system, buffers) || block.Reserve(buffers.textLength) != kClipboardDone) {
        FreeCopyBuffers(buffers);
        return ReportNoMemory(hDlg);
    }
    SaveCopyOptions(options);
    FormatFileList(buffers, block.Characters());
    block.Publish(hDlg); // a failure shows nothing
    FreeCopyBuffers(buffers);
    SendMessageW(hDlg, WM_CLOSE, 0, 0); // the window is gone when this returns
    return TRUE;
}

INT_PTR OnCommand(HWND hDlg, WPARAM wParam) noexcept {
    // The whole wParam: only a click (BN_CLICKED, 0) of these buttons matches.
    switch (wParam) {
    case IDC_BUTTON_COPY:
        return OnCopy(hDlg);
    case IDCANCEL:
        SendMessageW(hDlg, WM_CLOSE, 0, 0);
        return TRUE;
    case IDC_BUTTON_VERSION:
        MessageBoxW(hDlg, kAboutText, kAboutCaption, MB_OK);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR OnClose(HWND hDlg) noexcept {
    if (UnregisterSelectedFiles(hDlg) == 0) {
        MessageBoxW(nullptr, kUnregisterFailedText, kErrorCaption, MB_OK);
    }
    DestroyWindow(hDlg);
    return TRUE;
}

// The last message a window gets. A dialog destroyed without WM_CLOSE (another program destroyed it) gives back its
// entry here, silently. A message sent from another thread (a click, WM_CLOSE) may have destroyed the window while
// its thread's loop waits in GetMessageW, which returns for posted messages only: a WM_NULL wakes the loop to see
// that the dialog is gone, and does nothing in any other loop.
void OnFinalDestroy(HWND hDlg) noexcept {
    UnregisterSelectedFiles(hDlg);
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

} // namespace

INT_PTR CALLBACK DlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(hDlg, lParam);
    case WM_COMMAND:
        return OnCommand(hDlg, wParam);
    case WM_CLOSE:
        return OnClose(hDlg);
    case WM_DPICHANGED:
        return OnDpiChanged(hDlg, wParam, lParam);
    case WM_NCDESTROY:
        OnFinalDestroy(hDlg);
        return FALSE; // not handled: the dialog manager finishes the destruction
    default:
        return FALSE;
    }
}

} // namespace pathlift
