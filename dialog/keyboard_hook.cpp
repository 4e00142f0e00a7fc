// The copy dialogs' keyboard: a per-thread WH_GETMESSAGE hook that hands each keyboard message meant for one of
// our dialogs, or a control in one, to IsDialogMessageW before the host's loop sees it, and turns the message
// into WM_NULL when the dialog manager took it (Tab, arrows, Enter, Esc, mnemonics).

#include "keyboard_hook.h"

#include <atomic>

namespace pathlift {

namespace {

// Marks an attached dialog, so the hook knows our windows and only attached dialogs count down.
constexpr wchar_t kAttachedProperty[] = L"Pathlift.Keyboard";

// A window's messages arrive on the thread that created it, so each thread keeps its own hook and count, and
// only the total is shared.
thread_local HHOOK t_hook = nullptr;
thread_local long t_dialogs = 0;
std::atomic<long> g_hooks{0};

bool IsKeyboardMessage(UINT message) {
    return message >= WM_KEYFIRST && message <= WM_KEYLAST;
}

// Runs only on threads that hold a dialog of ours. Nothing in it can throw: it calls the platform alone, and the
// dialog procedure it may reach keeps its own exceptions.
LRESULT CALLBACK GetMessageHook(int code, WPARAM removal, LPARAM lParam) noexcept {
    const HHOOK hook = t_hook; // a Copy reached from here may remove the hook before it returns
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
    return CallNextHookEx(hook, code, removal, lParam);
}

} // namespace

bool AttachKeyboard(HWND dialog) noexcept {
    if (t_dialogs == 0) {
        t_hook = SetWindowsHookExW(WH_GETMESSAGE, &GetMessageHook, nullptr, GetCurrentThreadId());
        if (t_hook == nullptr) {
            return false;
        }
        ++g_hooks;
    }
    if (!SetPropW(dialog, kAttachedProperty, reinterpret_cast<HANDLE>(1))) {
        if (t_dialogs == 0) {
            UnhookWindowsHookEx(t_hook);
            t_hook = nullptr;
            --g_hooks;
        }
        return false;
    }
    ++t_dialogs;
    return true;
}

void DetachKeyboard(HWND dialog) noexcept {
    if (RemovePropW(dialog, kAttachedProperty) == nullptr || t_dialogs == 0) {
        return;
    }
    if (--t_dialogs == 0) {
        UnhookWindowsHookEx(t_hook);
        t_hook = nullptr;
        --g_hooks;
    }
}

long KeyboardHookCount() noexcept {
    return g_hooks.load();
}

} // namespace pathlift
