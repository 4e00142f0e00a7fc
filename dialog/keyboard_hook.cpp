// The copy dialogs' keyboard: a per-thread WH_GETMESSAGE hook that hands each keyboard message meant for one of
// our dialogs, or a control in one, to IsDialogMessageW before the host's loop sees it, and turns the message
// into WM_NULL when the dialog manager took it (Tab, arrows, Enter, Esc, mnemonics).

#include "keyboard_hook.h"

#include "dialog_threads.h"

namespace pathlift {

namespace {

// Marks an attached dialog, so the hook knows our windows and only attached dialogs give back their share.
constexpr wchar_t kAttachedProperty[] = L"Pathlift.Keyboard";

bool IsKeyboardMessage(UINT message) {
    return message >= WM_KEYFIRST && message <= WM_KEYLAST;
}

// Runs only on threads that hold a dialog of ours. Nothing in it can throw: it calls the platform alone, and the
// dialog procedure it may reach keeps its own exceptions. CallNextHookEx ignores its hook handle, so the hook need
// not be looked up here, where a Copy may have removed it before this returns.
LRESULT CALLBACK GetMessageHook(int code, WPARAM removal, LPARAM lParam) noexcept {
    auto* message = reinterpret_cast<MSG*>(lParam);
    // Only a message being taken off the queue: one merely peeked at comes back and must not act twice.
    if (code == HC_ACTION && removal == PM_REMOVE && message != nullptr && IsKeyboardMessage(message->message) &&
        message->hwnd != nullptr) {
        HWND dialog = GetAncestor(message->hwnd, GA_ROOT);
        if (dialog != nullptr && GetPropW(dialog, kAttachedProperty) != nullptr && IsDialogMessageW(dialog, message)) {
            message->message = WM_NULL;
            message->wParam = 0;
            message->lParam = 0;
        }
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

// A window's messages arrive on the thread that created it, so the hook watches that thread alone.
HHOOK InstallHook() {
    return SetWindowsHookExW(WH_GETMESSAGE, &GetMessageHook, nullptr, GetCurrentThreadId());
}

} // namespace

bool AttachKeyboard(HWND dialog) noexcept {
    if (!AddKeyboardUser(&InstallHook)) {
        return false;
    }
    if (!SetPropW(dialog, kAttachedProperty, reinterpret_cast<HANDLE>(1))) {
        if (const HHOOK hook = RemoveKeyboardUser(); hook != nullptr) {
            UnhookWindowsHookEx(hook);
        }
        return false;
    }
    return true;
}

void DetachKeyboard(HWND dialog) noexcept {
    if (RemovePropW(dialog, kAttachedProperty) == nullptr) {
        return;
    }
    if (const HHOOK hook = RemoveKeyboardUser(); hook != nullptr) {
        UnhookWindowsHookEx(hook);
    }
}

} // namespace pathlift
