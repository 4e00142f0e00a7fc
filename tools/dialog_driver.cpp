// The dialog driver: clicks, option setting, message pumping and the message-box watcher.

#include "dialog_driver.h"

#include "dialog/option_controls.h"
#include "res/resource.h"

namespace pathlift::tools {

std::vector<SeenMessageBox> MessageBoxWatcher::Seen() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

std::vector<SeenMessageBox> MessageBoxWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    return Seen();
}

void MessageBoxWatcher::Watch() {
    while (!stop_) {
        EnumWindows(&MessageBoxWatcher::Visit, reinterpret_cast<LPARAM>(this));
        Sleep(5);
    }
}

namespace {

BOOL CALLBACK CountButton(HWND child, LPARAM count) {
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    if (lstrcmpiW(name, L"Button") == 0 && IsWindowVisible(child)) {
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    InternalGetWindowText(window, text, 1024);
    return text;
}

} // namespace

BOOL CALLBACK MessageBoxWatcher::Visit(HWND window, LPARAM self) {
    auto* watcher = reinterpret_cast<MessageBoxWatcher*>(self);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    // A message box is a dialog whose text is a static control of id 0xFFFF; the copy dialog has none.
    HWND text = GetDlgItem(window, 0xFFFF);
    if (process != GetCurrentProcessId() || lstrcmpW(className, L"#32770") != 0 || text == nullptr ||
        !IsWindowVisible(window) || watcher->handled_.count(window) != 0) {
        return TRUE;
    }
    watcher->handled_.insert(window);
    SeenMessageBox box{GetWindow(window, GW_OWNER), WindowText(window), WindowText(text), 0};
    EnumChildWindows(window, &CountButton, reinterpret_cast<LPARAM>(&box.buttons));
    {
        const std::lock_guard<std::mutex> lock(watcher->mutex_);
        watcher->seen_.push_back(box);
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

void Click(HWND dialog, int id) {
    SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0);
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

void PressKey(HWND dialog, WORD key) {
    HWND focus = FocusOf(dialog);
    HWND target = focus != nullptr && (focus == dialog || IsChild(dialog, focus)) ? focus : dialog;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

bool Checked(HWND dialog, int id) {
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<int> CheckedControls(HWND dialog) {
    std::vector<int> ids;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            ids.push_back(GetDlgCtrlID(child));
        }
    }
    return ids;
}

namespace {

BOOL CALLBACK CollectCopyDialog(HWND window, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && lstrcmpW(className, L"#32770") == 0 &&
        lstrcmpW(caption, kCopyDialogCaption) == 0 && GetParent(window) == nullptr) {
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    }
    return TRUE;
}

// One control and the state the options ask of it.
struct WantedState {
    const wchar_t* option;
    int control;
    bool radio; // a radio button is clicked to be chosen; a check box only when its state must change
    bool checked;
};

std::vector<WantedState> WantedStates(const CopyOptions& options) {
    return {
        {L"Mode", ControlFor(kModeControls, options.Mode), true, true},
        {L"ShortName", IDC_CHECK_SHORTNAME, false, options.ShortName != 0},
        {L"NoExtension", IDC_CHECK_NOEXTENSION, false, options.NoExtension != 0},
        {L"ConvertSpace", IDC_CHECK_CONVERTSPACE, false, options.ConvertSpace != 0},
        {L"WQuotation", ControlFor(kQuoteControls, options.WQuotation), true, true},
        {L"DirectorySepalator", ControlFor(kDirectorySeparatorControls, options.DirectorySepalator), true, true},
        {L"FileSeparator", FileSeparatorControl(options.FileSeparator), true, true},
        {L"ConvertUpLower", ControlFor(kCaseControls, options.ConvertUpLower), true, true},
    };
}

} // namespace

std::vector<HWND> CopyDialogsOfThisProcess() {
    std::vector<HWND> found;
    EnumWindows(&CollectCopyDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The radio button of each choice, and each check box whose state differs. Then every control is checked once
// more, so a click that changed another group is caught too.
bool ApplyOptions(HWND dialog, const CopyOptions& options, std::wstring& error) {
    const std::vector<WantedState> wanted = WantedStates(options);
    for (const WantedState& state : wanted) {
        if (state.control == 0) {
            error = std::wstring(L"the host has no control for the ") + state.option + L" option asked for";
            return false;
        }
        if (GetDlgItem(dialog, state.control) == nullptr) {
            error = L"the dialog has no control " + std::to_wstring(state.control) + L" for " + state.option;
            return false;
        }
        if (state.radio || Checked(dialog, state.control) != state.checked) {
            Click(dialog, state.control);
        }
        if (!IsWindow(dialog)) {
            error = L"the dialog closed when control " + std::to_wstring(state.control) + L" was clicked";
            return false;
        }
    }
    for (const WantedState& state : wanted) {
        if (Checked(dialog, state.control) != state.checked) {
            error = L"control " + std::to_wstring(state.control) + L" (" + state.option + L") is " +
                    (state.checked ? L"not checked" : L"still checked") + L" after clicking";
            return false;
        }
    }
    return true;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// A thread timer wakes GetMessageW so done() is asked again; WM_QUIT ends the loop as it ends a host's.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, nullptr);
    const ULONGLONG start = GetTickCount64();
    bool reached = done();
    MSG message;
    while (!reached && (timeoutMs == INFINITE || GetTickCount64() - start < timeoutMs) &&
           GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
        reached = done();
    }
    KillTimer(nullptr, timer);
    return reached;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - start > timeoutMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

bool PumpUntilGone(HWND dialog, DWORD timeoutMs) {
    return PumpUntil([dialog] { return !IsWindow(dialog); }, timeoutMs);
}

} // namespace pathlift::tools
