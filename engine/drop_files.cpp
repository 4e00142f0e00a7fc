// Reads a CF_HDROP block: a DROPFILES header, then at its pFiles offset the names, each ending with a null, the list
// ending with an empty name; the names are UTF-16 when fWide is set, else 8-bit text in the system's code page.
// The platform's DragQueryFileW walks the list from its start for every index; here it is walked twice in all, once
// to size the Selection and once to fill it, so one reservation holds every name.
//
// The block comes from another process and is read as untrusted bytes, nothing at or past its end:
// - no names unless the block holds a whole header and pFiles points at or after its end and inside the block;
// - only names whose terminator lies inside the block are taken: a name that runs into the block's end is dropped,
//   since a cut name would be a different path; a list that lacks its final empty name ends with the block;
// - in the wide form an odd last byte holds no character and is not read;
// - an empty name ends the list, the first one too: a list that is only its terminator holds no names;
// - in the 8-bit form a name the decoder cannot convert ends the list;
// - each name is cut to kMaxPathLength characters, as DragQueryFileW gives it into a buffer of kMaxPathLength + 1.

#include "drop_files.h"

#include "storage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace pathlift {

namespace {

// Every code page spends at most four bytes on a character and gives at least one UTF-16 unit for it, so the
// characters wholly inside a name's first kAnsiBytesNeeded bytes give more than kMaxPathLength units; a character
// cut at that point changes only units after them, which are cut away anyway.
constexpr std::size_t kAnsiBytesNeeded = 4 * (kMaxPathLength + 1);

std::uint32_t LoadUint32(const unsigned char* bytes) noexcept {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The names may start at any byte offset, so characters are copied out rather than read in place.
char16_t UnitAt(const unsigned char* bytes, std::size_t index) noexcept {
    char16_t unit;
    std::memcpy(&unit, bytes + index * sizeof(char16_t), sizeof(unit));
    return unit;
}

// The index of the first null unit at or after from, or units when there is none. Four units are tested at once:
// a 16-bit lane is zero exactly when subtracting one borrows into its top bit while the lane's own top bit is clear.
std::size_t FindNullUnit(const unsigned char* bytes, std::size_t from, std::size_t units) noexcept {
    constexpr std::uint64_t kOnes = 0x0001000100010001u;
    constexpr std::uint64_t kTops = 0x8000800080008000u;
    std::size_t i = from;
    for (; units - i >= 4; i += 4) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i * sizeof(char16_t), sizeof(word));
        if (((word - kOnes) & ~word & kTops) != 0) {
            break;
        }
    }
    while (i < units && UnitAt(bytes, i) != u'\0') {
        ++i;
    }
    return i;
}

// Calls visit(start, length) for every complete name of the wide list, in order.
template <class Visit> void ForEachWideName(const unsigned char* names, std::size_t units, Visit&& visit) {
    std::size_t start = 0;
    while (start < units) {
        const std::size_t end = FindNullUnit(names, start, units);
        if (end == units || end == start) {
            return; // a name that runs into the block's end, or the empty name that ends the list
        }
        visit(start, std::min(end - start, kMaxPathLength));
        start = end + 1;
    }
}

Selection ReadWideNames(const unsigned char* names, std::size_t bytes) {
    const std::size_t units = bytes / sizeof(char16_t);
    std::size_t count = 0;
    std::size_t characters = 0;
    ForEachWideName(names, units, [&](std::size_t, std::size_t length) {
        ++count;
        characters += length;
    });
    SelectionBuilder builder(count, characters);
    ForEachWideName(names, units, [&](std::size_t start, std::size_t length) {
        std::memcpy(builder.Add(length), names + start * sizeof(char16_t), length * sizeof(char16_t));
    });
    return builder.Finish();
}

// Calls visit(units, length) for every name of the 8-bit list, decoded into units, in order.
template <class Visit>
void ForEachAnsiName(const char* names, std::size_t bytes, AnsiDecoder& ansi, char16_t* units, Visit&& visit) {
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
        // A whole name is converted with its terminator, as DragQueryFileW does; of a longer one only the part
        // that can reach the kept characters.
        const std::size_t decoded = ansi.Decode(names + start, std::min(length + 1, kAnsiBytesNeeded), units);
        if (decoded == AnsiDecoder::kFailed) {
            return; // no name is made up for one that cannot be converted, and none after it is misnumbered
        }
        // The name ends at the first null the conversion gives, the converted terminator.
        const std::size_t end = std::find(units, units + decoded, u'\0') - units;
        visit(units, std::min(end, kMaxPathLength));
        start += length + 1;
    }
}

struct BytesReleaser {
    void* block;
    ~BytesReleaser() { ReleaseBytes(block); }
};

Selection ReadAnsiNames(const char* names, std::size_t bytes, AnsiDecoder& ansi) {
    const BytesReleaser scratch{TryAllocateBytes(2 * kAnsiBytesNeeded * sizeof(char16_t))};
    if (scratch.block == nullptr) {
        throw std::bad_alloc();
    }
    auto* units = static_cast<char16_t*>(scratch.block);
    std::size_t count = 0;
    std::size_t characters = 0;
    ForEachAnsiName(names, bytes, ansi, units, [&](const char16_t*, std::size_t length) {
        ++count;
        characters += length;
    });
    SelectionBuilder builder(count, characters);
    std::size_t added = 0;
    ForEachAnsiName(names, bytes, ansi, units, [&](const char16_t* name, std::size_t length) {
        // A decoder that answers differently the second time cannot make the block overflow.
        if (added < count && length <= characters) {
            std::memcpy(builder.Add(length), name, length * sizeof(char16_t));
            characters -= length;
            ++added;
        }
    });
    return builder.Finish();
}

} // namespace

Selection ReadDropFiles(const void* data, std::size_t size, AnsiDecoder& ansi) {
    if (data == nullptr || size < kDropFilesHeaderSize) {
        return {};
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    const std::size_t offset = LoadUint32(bytes);
    if (offset < kDropFilesHeaderSize || offset >= size) {
        return {};
    }
    if (LoadUint32(bytes + kDropFilesWideOffset) != 0) {
        return ReadWideNames(bytes + offset, size - offset);
    }
    return ReadAnsiNames(reinterpret_cast<const char*>(bytes + offset), size - offset, ansi);
}

} // namespace pathlift
