// The selection block: one reservation through the Copy storage, so a test can refuse it like any other.

#include "selection.h"

#include "storage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace pathlift {

Selection::~Selection() {
    ReleaseBytes(block_);
}

Selection::Selection(Selection&& other) noexcept
    : block_(std::exchange(other.block_, nullptr)), count_(std::exchange(other.count_, 0)),
      longest_(std::exchange(other.longest_, 0)), offsets_(std::exchange(other.offsets_, nullptr)),
      text_(std::exchange(other.text_, nullptr)) {}

Selection& Selection::operator=(Selection&& other) noexcept {
    if (this != &other) {
        ReleaseBytes(block_);
        block_ = std::exchange(other.block_, nullptr);
        count_ = std::exchange(other.count_, 0);
        longest_ = std::exchange(other.longest_, 0);
        offsets_ = std::exchange(other.offsets_, nullptr);
        text_ = std::exchange(other.text_, nullptr);
    }
    return *this;
}

Selection Selection::FromList(const FileList& paths) {
    std::size_t characters = 0;
    for (const std::u16string& path : paths) {
        characters += path.size();
    }
    SelectionBuilder builder(paths.size(), characters);
    for (const std::u16string& path : paths) {
        std::memcpy(builder.Add(path.size()), path.data(), path.size() * sizeof(char16_t));
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

SelectionBuilder::SelectionBuilder(std::size_t count, std::size_t characters) : reservedCount_(count) {
    if (count == 0) {
        return; // an empty selection needs no block
    }
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    if (count > kMax / sizeof(std::size_t) - 1 || characters > kMax / sizeof(char16_t)) {
        throw std::bad_alloc();
    }
    const std::size_t offsetBytes = (count + 1) * sizeof(std::size_t);
    const std::size_t textBytes = characters * sizeof(char16_t);
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

char16_t* SelectionBuilder::Add(std::size_t length) noexcept {
    const std::size_t begin = offsets_[added_];
    offsets_[++added_] = begin + length;
    selection_.longest_ = std::max(selection_.longest_, length);
    return text_ + begin;
}

Selection SelectionBuilder::Finish() noexcept {
    // Fewer paths than reserved (a list that ended early) leave the rest of the block unused, never unset.
    selection_.count_ = std::min(added_, reservedCount_);
    return std::move(selection_);
}

} // namespace pathlift
