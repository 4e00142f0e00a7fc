#pragma once
// Publishes one text on the Windows clipboard as CF_UNICODETEXT.

#include <windows.h>

namespace pathlift {

enum : int { kClipboardDone = 0, kClipboardNoMemory = -1, kClipboardBusy = -2 };

// 0: the text is on the clipboard; -1: no memory for it, clipboard untouched; -2: the clipboard could not be
// opened, clipboard untouched. No retry: the clipboard's holder may keep it for as long as it likes.
int SetClipboardText(HWND owner, const wchar_t* text) noexcept;

} // namespace pathlift
