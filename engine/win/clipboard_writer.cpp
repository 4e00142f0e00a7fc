// Puts a text on the clipboard in one movable, zero-filled block that the clipboard then owns. The block is
// reserved through the Copy storage's probe, so a test can refuse it like every other reservation of a Copy.

#include "clipboard_writer.h"

#include "engine/storage.h"
#include "unique_handles.h"

namespace pathlift {

namespace {

// Ten tries 50 ms apart: a clipboard manager or a remote desktop holds the clipboard for a moment only.
constexpr int kOpenAttempts = 10;
constexpr DWORD kOpenRetryDelayMs = 50;

// Lets the time pass while answering the messages other threads send to this one: a holder that asks our window
// something before it lets go of the clipboard would otherwise wait for us while we wait for it. Posted messages and
// input stay in the queue, so no other message of the dialog runs in the middle of a Copy.
void WaitAnsweringSentMessages(DWORD delayMs) noexcept {
    const ULONGLONG end = GetTickCount64() + delayMs;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        const DWORD woke = MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_SENDMESSAGE, 0);
        if (woke != WAIT_OBJECT_0) {
            return; // the time is up, or the wait failed: try the clipboard again either way
        }
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE); // handles the sent messages
    }
}

// Another program may hold the clipboard briefly. Tries again for about half a second, then gives up.
bool OpenClipboardWithRetry(UniqueClipboard& clipboard, HWND owner) noexcept {
    for (int attempt = 1;; ++attempt) {
        if (clipboard.Open(owner)) {
            return true;
        }
        if (attempt == kOpenAttempts) {
            return false;
        }
        WaitAnsweringSentMessages(kOpenRetryDelayMs);
    }
}

} // namespace

ClipboardBlock::~ClipboardBlock() {
    Release();
}

void ClipboardBlock::Release() noexcept {
    if (!block_) {
        return;
    }
    lock_.reset();
    block_.reset();
    AllocationReleased();
}

int ClipboardBlock::Reserve(std::size_t length) noexcept {
    Release();
    if (length > (static_cast<SIZE_T>(-1) - sizeof(wchar_t)) / sizeof(wchar_t)) {
        return kClipboardNoMemory;
    }
    const SIZE_T bytes = static_cast<SIZE_T>(length) * sizeof(wchar_t) + sizeof(wchar_t);
    if (!AllocationAllowed(bytes)) {
        return kClipboardNoMemory;
    }
    block_.reset(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes));
    if (!block_) {
        AllocationReleased();
        return kClipboardNoMemory;
    }
    lock_.emplace(block_.get());
    if (!*lock_) {
        Release(); // a block that cannot be locked cannot be filled: treated as no memory
        return kClipboardNoMemory;
    }
    return kClipboardDone;
}

int ClipboardBlock::Publish(HWND owner) noexcept {
    if (!block_) {
        return kClipboardNoMemory;
    }
    lock_.reset(); // the clipboard takes a block only once it is unlocked
    UniqueClipboard clipboard;
    if (!OpenClipboardWithRetry(clipboard, owner)) {
        Release();
        return kClipboardBusy;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block_.get()) != nullptr) {
        block_.release(); // the clipboard owns the block from here
        AllocationReleased();
    }
    return kClipboardDone;
}

int SetClipboardText(HWND owner, const wchar_t* text) noexcept {
    const SIZE_T length = static_cast<SIZE_T>(lstrlenW(text));
    ClipboardBlock block;
    if (block.Reserve(length) != kClipboardDone) {
        return kClipboardNoMemory;
    }
    char16_t* characters = block.Characters();
    for (SIZE_T i = 0; i < length; ++i) {
        characters[i] = static_cast<char16_t>(text[i]); // the terminator is already there from the zero fill
    }
    return block.Publish(owner);
}

} // namespace pathlift
