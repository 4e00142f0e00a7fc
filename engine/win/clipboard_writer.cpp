// Puts a text on the clipboard in one movable, zero-filled block that the clipboard then owns.

#include "clipboard_writer.h"

#include "unique_handles.h"

namespace pathlift {

int SetClipboardText(HWND owner, const wchar_t* text) noexcept {
    const SIZE_T length = static_cast<SIZE_T>(lstrlenW(text));
    UniqueHglobal block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length * sizeof(wchar_t) + sizeof(wchar_t)));
    if (!block) {
        return kClipboardNoMemory;
    }
    auto* characters = static_cast<wchar_t*>(GlobalLock(block.get()));
    if (characters == nullptr) {
        return kClipboardNoMemory; // a block that cannot be locked cannot be filled: treated as no memory
    }
    for (SIZE_T i = 0; i < length; ++i) {
        characters[i] = text[i]; // the terminator is already there from the zero fill
    }
    GlobalUnlock(block.get());

    if (!OpenClipboard(owner)) {
        return kClipboardBusy;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block.get()) != nullptr) {
        block.release(); // the clipboard owns the block from here
    }
    CloseClipboard();
    return kClipboardDone;
}

} // namespace pathlift
