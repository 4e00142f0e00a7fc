#pragma once
// The selected paths in one immutable block: the start of every path, then all their characters, each path
// followed by a null as the shell's own list has them. However many items are selected, it is one reservation.

#include "file_list.h"

#include <algorithm>
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
    // A path longer than kMaxPathLength comes out cut there, as the shell's own reader gives it.
    std::u16string_view operator[](std::size_t index) const noexcept {
        return {text_ + offsets_[index], std::min(offsets_[index + 1] - offsets_[index] - 1, kMaxPathLength)};
    }
    // The characters of all paths together.
    std::size_t TextLength() const noexcept { return characters_; }
    // The longest single path.
    std::size_t LongestPath() const noexcept { return longest_; }
    // True when every path begins with a drive ("C:"), so none carries a long-path or network prefix.
    bool EveryPathHasADrive() const noexcept { return everyPathHasADrive_; }

    FileList ToList() const;

private:
    friend class SelectionBuilder;

    void* block_ = nullptr;
    std::size_t count_ = 0;
    std::size_t characters_ = 0;
    std::size_t longest_ = 0;
    bool everyPathHasADrive_ = true;
    const std::size_t* offsets_ = nullptr; // count_ + 1 starts into text_; the last one is the end
    const char16_t* text_ = nullptr;
};

// Fills a Selection whose size is known in advance: reserve once, then add every path in order, then Finish.
class SelectionBuilder {
public:
    // Room for count paths of units UTF-16 units in all, each path's null included. Throws std::bad_alloc when
    // the block cannot be had, or when the sizes cannot be represented.
    SelectionBuilder(std::size_t count, std::size_t units);
    SelectionBuilder(const SelectionBuilder&) = delete;
    SelectionBuilder& operator=(const SelectionBuilder&) = delete;

    // Copies the next path, length UTF-16 units at units (any alignment), and a null after it.
    void Add(const void* units, std::size_t length) noexcept;
    // Copies the next paths as they lie in a list: count units (any alignment), each path ending with a null,
    // the last unit the last path's null.
    void AddNames(const void* units, std::size_t count) noexcept;
    Selection Finish() noexcept;

private:
    void Record(std::size_t end) noexcept;

    Selection selection_;
    std::size_t* offsets_ = nullptr;
    char16_t* text_ = nullptr;
    std::size_t added_ = 0;
    std::size_t reservedCount_ = 0;
    std::size_t reservedUnits_ = 0;
};

} // namespace pathlift
