#pragma once
// Drives real copy dialogs as a user and the shell would: creates them from the template, clicks their buttons,
// dismisses message boxes from a second thread, and reads the clipboard and the stored settings back.

#include "dialog/copy_dialog.h"
#include "engine/file_list.h"
#include "res/resource.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace pathlift::testing {

struct SeenMessageBox {
    HWND owner;
    std::wstring caption;
    std::wstring text;
    int buttons;
};

// Finds every message box of this process, records what it says, and presses its OK button.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() : thread_([this] { Run(); }) {}
    ~MessageBoxWatcher() {
        stop_ = true;
        thread_.join();
    }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    std::vector<SeenMessageBox> Seen() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    void Run() {
        while (!stop_) {
            EnumWindows(&MessageBoxWatcher::Visit, reinterpret_cast<LPARAM>(this));
            Sleep(5);
        }
    }

    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        auto* watcher = reinterpret_cast<MessageBoxWatcher*>(self);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t className[64] = {};
        GetClassNameW(window, className, 64);
        // A message box is a dialog with a text control of id 0xFFFF; the copy dialog has none.
        if (process != GetCurrentProcessId() || std::wstring(className) != L"#32770" ||
            GetDlgItem(window, 0xFFFF) == nullptr || !IsWindowVisible(window) || watcher->handled_.count(window) != 0) {
            return TRUE;
        }
        watcher->handled_.insert(window);
        SeenMessageBox box{GetWindow(window, GW_OWNER), Text(window), Text(GetDlgItem(window, 0xFFFF)), 0};
        EnumChildWindows(window, &MessageBoxWatcher::CountButton, reinterpret_cast<LPARAM>(&box.buttons));
        {
            const std::lock_guard<std::mutex> lock(watcher->mutex_);
            watcher->seen_.push_back(box);
        }
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }

    static BOOL CALLBACK CountButton(HWND child, LPARAM count) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (lstrcmpiW(name, L"Button") == 0 && IsWindowVisible(child)) {
            ++*reinterpret_cast<int*>(count);
        }
        return TRUE;
    }

    static std::wstring Text(HWND window) {
        wchar_t text[1024] = {};
        GetWindowTextW(window, text, 1024);
        return text;
    }

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenMessageBox> seen_;
    std::set<HWND> handled_;
    std::thread thread_;
};

inline void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Creates the dialog as the context-menu handler does; null when the dialog ended itself while starting.
inline HWND OpenCopyDialog(const FileList* files) {
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_COPY_DIALOG), nullptr, DlgProc,
                                     reinterpret_cast<LPARAM>(files));
    if (dialog == nullptr || !IsWindow(dialog)) {
        return nullptr;
    }
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    return dialog;
}

inline void Click(HWND dialog, int id) {
    SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0);
}
inline bool Checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// The ids of every checked button, in template order.
inline std::vector<int> CheckedControls(HWND dialog) {
    std::vector<int> ids;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            ids.push_back(GetDlgCtrlID(child));
        }
    }
    return ids;
}

} // namespace pathlift::testing

namespace pathlift::testing {

inline std::wstring ClipboardText() {
    std::wstring text = L"<no text>";
    for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); ++attempt) {
        Sleep(10);
    }
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* characters = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = characters;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

} // namespace pathlift::testing
