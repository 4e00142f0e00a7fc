// Reads a CF_HDROP block: a DROPFILES header, then at its pFiles offset the names, each ending with a null, the list
// ending with an empty name; the names are UTF-16 when fWide is set, else 8-bit text in the system's code page.
// The platform's DragQueryFileW walks the list from its start for every index; here it is swept once to size the
// Selection and copied once into it, so one reservation holds every name.
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

#include "null_units.h"
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

// The units of the wide list's complete names, up to and including the last one's null, and how many names there
// are, in one sweep: every null ends a name, and a null right after another (or at the start) ends the list.
struct WideList {
    std::size_t names = 0;
    std::size_t units = 0;
};
WideList MeasureWideList(const unsigned char* names, std::size_t units) noexcept {
    WideList list;
    bool afterNull = true; // the start counts as just after a null: an empty first name ends the list
    std::size_t i = 0;
    for (; units - i >= kNullScanUnits; i += kNullScanUnits) {
        const std::uint64_t nulls = NullPairs(names + i * sizeof(char16_t));
        if (nulls == 0) {
            afterNull = false;
            continue;
        }
        const std::uint64_t doubled = nulls & ((nulls << 2) | (afterNull ? 3u : 0u));
        if (doubled != 0) {
            const std::size_t end = i + FirstNull(doubled);
            list.names += NullCount(nulls & ((std::uint64_t{1} << (2 * FirstNull(doubled))) - 1));
            list.units = end;
            return list;
        }
        list.names += NullCount(nulls);
        list.units = i + LastNull(nulls) + 1;
        afterNull = (nulls >> (2 * (kNullScanUnits - 1))) != 0;
    }
    for (; i < units; ++i) {
        const bool null = UnitAt(names, i) == u'\0';
        if (null && afterNull) {
            return list;
        }
        if (null) {
            ++list.names;
            list.units = i + 1;
        }
        afterNull = null;
    }
    return list; // a name that runs into the block's end is not part of it
}

Selection ReadWideNames(const unsigned char* names, std::size_t bytes) {
    const WideList list = MeasureWideList(names, bytes / sizeof(char16_t));
    SelectionBuilder builder(list.names, list.units);
    builder.AddNames(names, list.units);
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
    SelectionBuilder builder(count, characters + count);
    std::size_t added = 0;
    ForEachAnsiName(names, bytes, ansi, units, [&](const char16_t* name, std::size_t length) {
        // A decoder that answers differently the second time cannot make the block overflow.
        if (added < count && length <= characters) {
            builder.Add(name, length);
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
