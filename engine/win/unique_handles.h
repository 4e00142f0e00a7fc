#pragma once
// Owners for the handles the Windows layer borrows from the system: registry keys, kernel objects, global blocks and
// their locks, storage media, strings of the task allocator and the clipboard. Each gives its resource back exactly
// once, on every path out of its scope.

#include <windows.h>

#include <ole2.h>
#include <shtypes.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace pathlift {

struct RegKeyCloser {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
// A registry key opened or created by this module (never one of the predefined roots).
using UniqueHkey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

struct GlobalFreer {
    void operator()(HGLOBAL block) const noexcept { GlobalFree(block); }
};
// A global block this module reserved; release() it where ownership passes to the system.
using UniqueHglobal = std::unique_ptr<std::remove_pointer_t<HGLOBAL>, GlobalFreer>;

struct CoTaskMemFreer {
    void operator()(void* block) const noexcept { CoTaskMemFree(block); }
};
struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
// A kernel object's handle (an event, a thread); null, never INVALID_HANDLE_VALUE, means none.
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// A string the system reserved for us with the task allocator (a shell item's name, say).
using UniqueCoTaskMemString = std::unique_ptr<wchar_t, CoTaskMemFreer>;
// An item id list copied with ILClone, which takes its block from the task allocator.
using UniqueIdList = std::unique_ptr<ITEMIDLIST, CoTaskMemFreer>;

// A global block locked for the scope's lifetime. reset() unlocks early where the unlock must come before a later
// call (the clipboard takes a block only once it is unlocked).
class UniqueHglobalLocked {
public:
    explicit UniqueHglobalLocked(HGLOBAL block) noexcept
        : block_(block), data_(block != nullptr ? GlobalLock(block) : nullptr) {}
    ~UniqueHglobalLocked() { reset(); }
    UniqueHglobalLocked(const UniqueHglobalLocked&) = delete;
    UniqueHglobalLocked& operator=(const UniqueHglobalLocked&) = delete;

    void* get() const noexcept { return data_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }
    // The block's size in bytes as the system reserved it; 0 when nothing is locked.
    SIZE_T size() const noexcept { return data_ != nullptr ? GlobalSize(block_) : 0; }

    void reset() noexcept {
        if (data_ != nullptr) {
            GlobalUnlock(block_);
            data_ = nullptr;
        }
    }

private:
    HGLOBAL block_;
    void* data_;
};

// A storage medium filled by IDataObject::GetData, released with ReleaseStgMedium.
class UniqueStgMedium {
public:
    UniqueStgMedium() noexcept = default;
    ~UniqueStgMedium() { reset(); }
    UniqueStgMedium(const UniqueStgMedium&) = delete;
    UniqueStgMedium& operator=(const UniqueStgMedium&) = delete;

    // Owns the medium only when GetData succeeds: whatever a failing data object left in it is not released.
    HRESULT GetData(IDataObject* dataObject, FORMATETC* format) noexcept {
        reset();
        const HRESULT hr = dataObject->GetData(format, &medium_);
        filled_ = SUCCEEDED(hr);
        if (!filled_) {
            medium_ = {};
        }
        return hr;
    }

    const STGMEDIUM& get() const noexcept { return medium_; }
    explicit operator bool() const noexcept { return filled_; }

    void reset() noexcept {
        if (filled_) {
            ReleaseStgMedium(&medium_);
            filled_ = false;
        }
        medium_ = {};
    }

private:
    STGMEDIUM medium_ = {};
    bool filled_ = false;
};

// The clipboard, opened by this thread and closed again when the scope ends.
class UniqueClipboard {
public:
    UniqueClipboard() noexcept = default;
    ~UniqueClipboard() { reset(); }
    UniqueClipboard(const UniqueClipboard&) = delete;
    UniqueClipboard& operator=(const UniqueClipboard&) = delete;

    // One attempt; false while another window holds the clipboard.
    bool Open(HWND owner) noexcept {
        reset();
        open_ = OpenClipboard(owner) != FALSE;
        return open_;
    }
    explicit operator bool() const noexcept { return open_; }

    void reset() noexcept {
        if (open_) {
            CloseClipboard();
            open_ = false;
        }
    }

private:
    bool open_ = false;
};

// A slim reader/writer lock held exclusively for the scope's lifetime.
class SrwExclusiveLock {
public:
    explicit SrwExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~SrwExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    SrwExclusiveLock(const SrwExclusiveLock&) = delete;
    SrwExclusiveLock& operator=(const SrwExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

} // namespace pathlift
