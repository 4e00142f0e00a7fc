// Puts a text on the clipboard in one movable, zero-filled block that the clipboard then owns.

#include "clipboard_writer.h"

#include "unique_handles.h"

namespace pathlift {

namespace {

// Ten tries 50 ms apart: a clipboard manager or a remote desktop holds the clipboard for a moment only.
constexpr int kOpenAttempts = 10;
constexpr DWORD kOpenRetryDelayMs = 50;

// Another program may hold the clipboard briefly. Tries again for about half a second, then gives up. It sleeps
// rather than running a message loop, so no other message of the dialog runs in the middle of a Copy.
bool OpenClipboardWithRetry(UniqueClipboard& clipboard, HWND owner) noexcept {
    for (int attempt = 1;; ++attempt) {
        if (clipboard.Open(owner)) {
            return true;
        }
        if (attempt == kOpenAttempts) {
            return false;
        }
        Sleep(kOpenRetryDelayMs);
    }
}

} // namespace

int SetClipboardText(HWND owner, const wchar_t* text) noexcept {
    const SIZE_T length = static_cast<SIZE_T>(lstrlenW(text));
    UniqueHglobal block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length * sizeof(wchar_t) + sizeof(wchar_t)));
    if (!block) {
        return kClipboardNoMemory;
    }
    {
        const UniqueHglobalLocked locked(block.get());
        if (!locked) {
            return kClipboardNoMemory; // a block that cannot be locked cannot be filled: treated as no memory
        }
        auto* characters = static_cast<wchar_t*>(locked.get());
        for (SIZE_T i = 0; i < length; ++i) {
            characters[i] = text[i]; // the terminator is already there from the zero fill
        }
    } // unlocked before the clipboard is opened

    UniqueClipboard clipboard;
    if (!OpenClipboardWithRetry(clipboard, owner)) {
        return kClipboardBusy;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block.get()) != nullptr) {
        block.release(); // the clipboard owns the block from here
    }
    clipboard.reset();
    return kClipboardDone;
}

} // namespace pathlift
