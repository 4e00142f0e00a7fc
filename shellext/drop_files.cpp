// Reads a CF_HDROP block: a DROPFILES header, then at its pFiles offset the names, each ending with a null, the list
// ending with an empty name; the names are UTF-16 when fWide is set, else in the system's ANSI code page.
// DragQueryFileW walks the list from its start for every index, so reading a selection through it takes time quadratic
// in its length; here the list is walked once.
//
// The block comes from another process and is read as untrusted bytes, nothing at or past its end:
// - no names unless the block holds a whole header and pFiles points at or after its end and inside the block;
// - only names whose terminator lies inside the block are taken: a name that runs into the block's end is dropped,
//   since a cut name would be a different path; a list that lacks its final empty name ends with the block;
// - in the wide form an odd last byte holds no character and is not read;
// - an empty name ends the list, the first one too: a list that is only its terminator holds no names;
// - in the 8-bit form a name the system cannot convert from its code page ends the list;
// - each name is cut to kMaxPathLength characters, as DragQueryFileW gives it into a buffer of kMaxPathLength + 1.
// For every well-formed block with at least one name the result is what DragQueryFileW gives index by index.

#include "shellext/drop_files.h"

#include <shlobj.h>

#include <climits>
#include <cstring>
#include <string>

namespace pathlift {

namespace {

// Locks a global block for the scope's lifetime.
class GlobalLockScope {
public:
    explicit GlobalLockScope(HGLOBAL block) noexcept : block_(block), data_(GlobalLock(block)) {}
    ~GlobalLockScope() {
        if (data_ != nullptr) {
            GlobalUnlock(block_);
        }
    }
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;
    GlobalLockScope(GlobalLockScope&&) = delete;
    GlobalLockScope& operator=(GlobalLockScope&&) = delete;

    const void* Data() const noexcept { return data_; }

private:
    HGLOBAL block_;
    void* data_;
};

// Every ANSI code page, UTF-8 included, spends at most four bytes on a character and gives at least one UTF-16 unit
// for it, so the characters wholly inside a name's first kAnsiBytesNeeded bytes give more than kMaxPathLength units;
// a character cut at that point changes only units after them, which are cut away anyway.
constexpr std::size_t kAnsiBytesNeeded = 4 * (kMaxPathLength + 1);
static_assert(kAnsiBytesNeeded < INT_MAX);

// The names may start at any byte offset, so each character is copied out rather than read in place.
char16_t UnitAt(const unsigned char* bytes, std::size_t index) noexcept {
    char16_t unit;
    std::memcpy(&unit, bytes + index * sizeof(char16_t), sizeof(unit));
    return unit;
}

void AppendWideNames(const unsigned char* names, std::size_t bytes, FileList& files) {
    const std::size_t units = bytes / sizeof(char16_t);
    std::size_t start = 0;
    for (std::size_t i = 0; i < units; ++i) {
        if (UnitAt(names, i) != u'\0') {
            continue;
        }
        if (i == start) {
            return; // the empty name that ends the list
        }
        const std::size_t length = i - start < kMaxPathLength ? i - start : kMaxPathLength;
        std::u16string name(length, u'\0');
        std::memcpy(name.data(), names + start * sizeof(char16_t), length * sizeof(char16_t));
        files.push_back(std::move(name));
        start = i + 1;
    }
}

// Converts one name from the system code page; text holds the name and then its terminator. False if the system
// cannot convert it.
bool FromAnsi(const char* text, std::size_t lengthWithTerminator, std::u16string& name) {
    // A whole name is converted with its terminator, as DragQueryFileW does; of a longer one only the part that
    // can reach the kept characters.
    const int count =
        static_cast<int>(lengthWithTerminator < kAnsiBytesNeeded ? lengthWithTerminator : kAnsiBytesNeeded);
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, count, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    name.assign(static_cast<std::size_t>(needed), u'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, text, count, reinterpret_cast<wchar_t*>(name.data()), needed);
    if (written <= 0) {
        return false;
    }
    name.resize(static_cast<std::size_t>(written));
    // The name ends at the first null the conversion gives, the converted terminator.
    const std::size_t end = name.find(u'\0');
    if (end != std::u16string::npos) {
        name.resize(end);
    }
    if (name.size() > kMaxPathLength) {
        name.resize(kMaxPathLength);
    }
    return true;
}

void AppendAnsiNames(const char* names, std::size_t bytes, FileList& files) {
    std::size_t start = 0;
    while (start < bytes) {
        const auto* terminator = static_cast<const char*>(std::memchr(names + start, '\0', bytes - start));
        if (terminator == nullptr) {
            return; // the last name runs into the block's end
        }
        const std::size_t length = static_cast<std::size_t>(terminator - (names + start));
        if (length == 0) {
            return; // the empty name that ends the list
        }
        std::u16string name;
        if (!FromAnsi(names + start, length + 1, name)) {
            return; // no name is made up for one the system cannot convert, and none after it is misnumbered
        }
        files.push_back(std::move(name));
        start += length + 1;
    }
}

} // namespace

void AppendDropFileNames(const void* data, std::size_t size, FileList& files) {
    if (data == nullptr || size < sizeof(DROPFILES)) {
        return;
    }
    DROPFILES header;
    std::memcpy(&header, data, sizeof(header));
    if (header.pFiles < sizeof(DROPFILES) || header.pFiles >= size) {
        return;
    }
    const auto* names = static_cast<const unsigned char*>(data) + header.pFiles;
    const std::size_t bytes = size - header.pFiles;

    // Either every name of the block is appended or, when memory runs out, none.
    const std::size_t before = files.size();
    try {
        if (header.fWide) {
            AppendWideNames(names, bytes, files);
        } else {
            AppendAnsiNames(reinterpret_cast<const char*>(names), bytes, files);
        }
    } catch (...) {
        files.resize(before);
        throw;
    }
}

void AppendDropFiles(HGLOBAL block, FileList& files) {
    if (block == nullptr) {
        return;
    }
    const GlobalLockScope lock(block);
    if (lock.Data() == nullptr) {
        return;
    }
    AppendDropFileNames(lock.Data(), GlobalSize(block), files);
}

} // namespace pathlift
