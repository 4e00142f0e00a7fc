#pragma once
// Fallible storage for the Copy command: every reservation reports failure as a value, so a Copy that cannot get
// its memory ends cleanly instead of throwing through the dialog procedure.

#include <cstddef>
#include <limits>
#include <new>
#include <utility>

namespace pathlift {

// Gives nullptr when the storage cannot be had. Every reservation of a Copy goes through here.
void* TryAllocateBytes(std::size_t bytes) noexcept;
void ReleaseBytes(void* block) noexcept;
// For storage the system reserves (the clipboard's block): asks the probe alone, so a test can refuse it too.
bool AllocationAllowed(std::size_t bytes) noexcept;
// Tells the probe that such storage is gone: released, or handed on to the system for good.
void AllocationReleased() noexcept;

// Lets a test watch the reservations and refuse chosen ones. Not for production use: it is process-wide.
class AllocationProbe {
public:
    virtual bool Allow(std::size_t bytes) noexcept = 0;
    virtual void Released() noexcept = 0;

protected:
    ~AllocationProbe() = default;
};
void SetAllocationProbe(AllocationProbe* probe) noexcept;

// A null-terminated UTF-16 text in a block of fixed capacity (terminator included).
class CharBuffer {
public:
    CharBuffer() noexcept = default;
    ~CharBuffer() { Release(); }
    CharBuffer(const CharBuffer&) = delete;
    CharBuffer& operator=(const CharBuffer&) = delete;
    CharBuffer(CharBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0)) {}
    CharBuffer& operator=(CharBuffer&& other) noexcept {
        if (this != &other) {
            Release();
            data_ = std::exchange(other.data_, nullptr);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }

    // Replaces the block by an empty text of the given capacity; false, and no block, when it cannot be had.
    bool Reserve(std::size_t capacity) noexcept;
    void Release() noexcept;

    char16_t* data() noexcept { return data_; }
    const char16_t* data() const noexcept { return data_; }
    std::size_t capacity() const noexcept { return capacity_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }

private:
    char16_t* data_ = nullptr;
    std::size_t capacity_ = 0;
};

// Lets a standard container take its storage through TryAllocateBytes; a refusal is std::bad_alloc.
template <class T> struct ProbedAllocator {
    using value_type = T;
    ProbedAllocator() noexcept = default;
    template <class U> ProbedAllocator(const ProbedAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        void* block =
            n > std::numeric_limits<std::size_t>::max() / sizeof(T) ? nullptr : TryAllocateBytes(n * sizeof(T));
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t) noexcept { ReleaseBytes(block); }
    template <class U> bool operator==(const ProbedAllocator<U>&) const noexcept { return true; }
};

} // namespace pathlift
