// The popup menu: an invisible owner window, as a tray icon's menu has, and a timer that ends the menu's own loop.

#include "popup_menu.h"

namespace pathlift::tools {

namespace {

void CALLBACK EndTheMenu(HWND, UINT, UINT_PTR, DWORD) {
    EndMenu();
}

} // namespace

void ShowPopupMenu(HMENU menu, POINT at, DWORD showMs) {
    // A popup menu needs an owner in the foreground; this one is never shown.
    HWND owner = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, at.x, at.y, 1, 1, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (owner == nullptr) {
        return;
    }
    SetForegroundWindow(owner);
    // The menu's loop dispatches the timer's message, and EndMenu leaves that loop.
    const UINT_PTR timer = SetTimer(owner, 1, showMs, &EndTheMenu);
    TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, owner, nullptr);
    KillTimer(owner, timer);
    DestroyWindow(owner);
}

} // namespace pathlift::tools
