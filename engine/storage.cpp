// Reservations that fail as values, with a probe a test can use to refuse a chosen one.

#include "storage.h"

#include <atomic>
#include <limits>

namespace pathlift {

namespace {
std::atomic<AllocationProbe*> g_probe{nullptr};
}

void SetAllocationProbe(AllocationProbe* probe) noexcept {
    g_probe.store(probe);
}

bool AllocationAllowed(std::size_t bytes) noexcept {
    AllocationProbe* probe = g_probe.load();
    return probe == nullptr || probe->Allow(bytes);
}

void* TryAllocateBytes(std::size_t bytes) noexcept {
    if (!AllocationAllowed(bytes)) {
        return nullptr;
    }
    return ::operator new(bytes == 0 ? 1 : bytes, std::nothrow);
}

void ReleaseBytes(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    ::operator delete(block);
    AllocationReleased();
}

void AllocationReleased() noexcept {
    if (AllocationProbe* probe = g_probe.load()) {
        probe->Released();
    }
}

bool CharBuffer::Reserve(std::size_t capacity) noexcept {
    Release();
    if (capacity == 0 || capacity > std::numeric_limits<std::size_t>::max() / sizeof(char16_t)) {
        return false;
    }
    data_ = static_cast<char16_t*>(TryAllocateBytes(capacity * sizeof(char16_t)));
    if (data_ == nullptr) {
        return false;
    }
    capacity_ = capacity;
    data_[0] = u'\0';
    return true;
}

void CharBuffer::Release() noexcept {
    ReleaseBytes(data_);
    data_ = nullptr;
    capacity_ = 0;
}

} // namespace pathlift
