#pragma once
// The selected paths in one immutable block: the count, the boundaries of every path, then all their characters,
// with no terminators between them. However many items are selected, it is one reservation.

#include "file_list.h"

#include <cstddef>
#include <string_view>

namespace pathlift {

class Selection {
public:
    Selection() noexcept = default;
    ~Selection();
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    Selection(Selection&& other) noexcept;
    Selection& operator=(Selection&& other) noexcept;

    // The same paths in one block. Throws std::bad_alloc when the block cannot be had.
    static Selection FromList(const FileList& paths);

    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    std::u16string_view operator[](std::size_t index) const noexcept {
        return {text_ + offsets_[index], offsets_[index + 1] - offsets_[index]};
    }
    // The characters of all paths together.
    std::size_t TextLength() const noexcept { return count_ == 0 ? 0 : offsets_[count_]; }
    // The longest single path.
    std::size_t LongestPath() const noexcept { return longest_; }

    FileList ToList() const;

private:
    friend class SelectionBuilder;

    void* block_ = nullptr;
    std::size_t count_ = 0;
    std::size_t longest_ = 0;
    const std::size_t* offsets_ = nullptr; // count_ + 1 boundaries into text_
    const char16_t* text_ = nullptr;
};

// Fills a Selection whose size is known in advance: Reserve once, then Add every path in order, then Finish.
class SelectionBuilder {
public:
    // Throws std::bad_alloc when the block cannot be had, or when the sizes cannot be represented.
    SelectionBuilder(std::size_t count, std::size_t characters);
    SelectionBuilder(const SelectionBuilder&) = delete;
    SelectionBuilder& operator=(const SelectionBuilder&) = delete;

    // Room for the next path of exactly length characters; the caller writes them there. The lengths added must
    // not exceed what was reserved.
    char16_t* Add(std::size_t length) noexcept;
    Selection Finish() noexcept;

private:
    Selection selection_;
    std::size_t* offsets_ = nullptr;
    char16_t* text_ = nullptr;
    std::size_t added_ = 0;
    std::size_t reservedCount_ = 0;
};

} // namespace pathlift
