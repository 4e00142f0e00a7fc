#pragma once
// Publishes one text on the Windows clipboard as CF_UNICODETEXT.

#include <windows.h>

namespace pathlift {

enum : int { kClipboardDone = 0, kClipboardNoMemory = -1, kClipboardBusy = -2 };

// 0: the text is on the clipboard; -1: no memory for it, clipboard untouched; -2: the clipboard stayed held by
// another window for about half a second, clipboard untouched.
int SetClipboardText(HWND owner, const wchar_t* text) noexcept;

} // namespace pathlift
