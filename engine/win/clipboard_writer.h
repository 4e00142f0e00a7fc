#pragma once
// Publishes one text on the Windows clipboard as CF_UNICODETEXT.

#include "unique_handles.h"

#include <windows.h>

#include <cstddef>
#include <optional>

namespace pathlift {

enum : int { kClipboardDone = 0, kClipboardNoMemory = -1, kClipboardBusy = -2 };

// 0: the text is on the clipboard; -1: no memory for it, clipboard untouched; -2: the clipboard stayed held by
// another window for about half a second, clipboard untouched.
int SetClipboardText(HWND owner, const wchar_t* text) noexcept;

// The same in two steps, so a text can be written straight into the block the clipboard takes: Reserve the
// block for a text of known length, write the text at Characters(), then Publish it.
class ClipboardBlock {
public:
    ClipboardBlock() noexcept = default;
    ~ClipboardBlock();
    ClipboardBlock(const ClipboardBlock&) = delete;
    ClipboardBlock& operator=(const ClipboardBlock&) = delete;

    // A movable, zero-filled block of length + 1 characters, locked: 0, or -1 when it cannot be had or locked.
    int Reserve(std::size_t length) noexcept;
    char16_t* Characters() const noexcept { return lock_ ? static_cast<char16_t*>(lock_->get()) : nullptr; }
    // Unlocks the block and hands it to the clipboard: 0, or -2 (the block released) when the clipboard stays busy.
    int Publish(HWND owner) noexcept;

private:
    void Release() noexcept;

    UniqueHglobal block_;
    std::optional<UniqueHglobalLocked> lock_; // from Reserve until Publish hands the block over
};

} // namespace pathlift
