// The selection block: one reservation through the Copy storage, so a test can refuse it like any other.

#include "selection.h"

#include "null_units.h"
#include "storage.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace pathlift {

Selection::~Selection() {
    ReleaseBytes(block_);
}

Selection::Selection(Selection&& other) noexcept {
    *this = std::move(other);
}

Selection& Selection::operator=(Selection&& other) noexcept {
    if (this != &other) {
        ReleaseBytes(block_);
        block_ = std::exchange(other.block_, nullptr);
        count_ = std::exchange(other.count_, 0);
        characters_ = std::exchange(other.characters_, 0);
        longest_ = std::exchange(other.longest_, 0);
        everyPathHasADrive_ = std::exchange(other.everyPathHasADrive_, true);
        offsets_ = std::exchange(other.offsets_, nullptr);
        text_ = std::exchange(other.text_, nullptr);
    }
    return *this;
}

Selection Selection::FromList(const FileList& paths) {
    std::size_t units = 0;
    for (const std::u16string& path : paths) {
        units += std::min(path.size(), kMaxPathLength) + 1;
    }
    SelectionBuilder builder(paths.size(), units);
    for (const std::u16string& path : paths) {
        builder.Add(path.data(), std::min(path.size(), kMaxPathLength));
    }
    return builder.Finish();
}

FileList Selection::ToList() const {
    FileList paths;
    paths.reserve(count_);
    for (std::size_t i = 0; i < count_; ++i) {
        paths.emplace_back((*this)[i]);
    }
    return paths;
}

SelectionBuilder::SelectionBuilder(std::size_t count, std::size_t units)
    : reservedCount_(count), reservedUnits_(units) {
    if (count == 0) {
        return; // an empty selection needs no block
    }
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    if (count > kMax / sizeof(std::size_t) - 1 || units > kMax / sizeof(char16_t)) {
        throw std::bad_alloc();
    }
    const std::size_t offsetBytes = (count + 1) * sizeof(std::size_t);
    const std::size_t textBytes = units * sizeof(char16_t);
    if (offsetBytes > kMax - textBytes) {
        throw std::bad_alloc();
    }
    void* block = TryAllocateBytes(offsetBytes + textBytes);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    selection_.block_ = block;
    offsets_ = static_cast<std::size_t*>(block);
    text_ = reinterpret_cast<char16_t*>(static_cast<unsigned char*>(block) + offsetBytes);
    offsets_[0] = 0;
    selection_.offsets_ = offsets_;
    selection_.text_ = text_;
}

// The path that began at offsets_[added_] ends with the null at end - 1.
void SelectionBuilder::Record(std::size_t end) noexcept {
    const std::size_t begin = offsets_[added_];
    offsets_[++added_] = end;
    const std::size_t length = std::min(end - begin - 1, kMaxPathLength);
    selection_.characters_ += length;
    selection_.longest_ = std::max(selection_.longest_, length);
    selection_.everyPathHasADrive_ = selection_.everyPathHasADrive_ && length >= 2 && text_[begin + 1] == u':';
}

void SelectionBuilder::Add(const void* units, std::size_t length) noexcept {
    if (offsets_ == nullptr) {
        return;
    }
    const std::size_t begin = offsets_[added_];
    if (added_ >= reservedCount_ || length + 1 > reservedUnits_ - begin) {
        return; // more than was reserved: never written past the block
    }
    if (length != 0) {
        std::memcpy(text_ + begin, units, length * sizeof(char16_t));
    }
    text_[begin + length] = u'\0';
    Record(begin + length + 1);
}

void SelectionBuilder::AddNames(const void* units, std::size_t count) noexcept {
    if (offsets_ == nullptr) {
        return;
    }
    const std::size_t begin = offsets_[added_];
    if (count == 0 || count > reservedUnits_ - begin) {
        return;
    }
    // A stretch at a time, so the copy is still in the cache when its nulls are looked for.
    constexpr std::size_t kStretch = 16384;
    const auto* source = static_cast<const unsigned char*>(units);
    for (std::size_t done = 0; done < count; done += kStretch) {
        const std::size_t stretch = std::min(kStretch, count - done);
        const std::size_t first = begin + done;
        std::memcpy(text_ + first, source + done * sizeof(char16_t), stretch * sizeof(char16_t));
        const auto* copied = reinterpret_cast<const unsigned char*>(text_ + first);
        std::size_t i = 0;
        for (; stretch - i >= kNullScanUnits; i += kNullScanUnits) {
            for (std::uint64_t nulls = NullPairs(copied + i * sizeof(char16_t)) & 0x5555555555555555u; nulls != 0;
                 nulls &= nulls - 1) {
                if (added_ < reservedCount_) {
                    Record(first + i + FirstNull(nulls) + 1);
                }
            }
        }
        for (; i < stretch; ++i) {
            if (text_[first + i] == u'\0' && added_ < reservedCount_) {
                Record(first + i + 1);
            }
        }
    }
}

Selection SelectionBuilder::Finish() noexcept {
    selection_.count_ = added_;
    return std::move(selection_);
}

} // namespace pathlift
