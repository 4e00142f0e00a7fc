// The CF_HDROP reader on blocks built here, each copied into a heap block of exactly its size so that the address
// sanitizer stops any read at or past its end.

#include "engine/drop_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pathlift {
namespace {

using namespace std::literals;

using Bytes = std::vector<unsigned char>;

constexpr std::uint32_t kHeaderSize = kDropFilesHeaderSize;

Bytes operator+(Bytes bytes, std::u16string_view text) {
    for (char16_t c : text) {
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    }
    return bytes;
}
Bytes operator+(Bytes bytes, std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

void Put(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// A DROPFILES header, then non-null padding up to size; whatever is appended follows.
Bytes Header(std::uint32_t offset, bool wide, std::size_t size = kHeaderSize) {
    Bytes bytes(size < kHeaderSize ? kHeaderSize : size, 'P');
    Put(bytes, 0, offset);
    Put(bytes, 4, 0x41414141); // pt, "AAAABBBB" to a reader that starts inside the header
    Put(bytes, 8, 0x42424242);
    Put(bytes, 12, 0); // fNC
    Put(bytes, kDropFilesWideOffset, wide ? 1 : 0);
    return bytes;
}

std::u16string Long(std::size_t length, char16_t fill = u'a') {
    std::u16string path = uR"(C:\)";
    path.resize(length, fill);
    return path;
}

FileList Read(const Bytes& bytes) {
    const std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes.empty() ? 1 : bytes.size()]);
    if (!bytes.empty()) {
        std::memcpy(exact.get(), bytes.data(), bytes.size());
    }
    Latin1Decoder latin1;
    return ReadDropFiles(exact.get(), bytes.size(), latin1).ToList();
}

struct Row {
    const char* name;
    Bytes bytes;
    FileList expected;
};

void ExpectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Read(row.bytes), row.expected);
    }
}

TEST(DropFilesWellFormed, EveryNameInOrderAndWhole) {
    const std::u16string longest = Long(kMaxPathLength);
    const std::u16string tooLong = Long(kMaxPathLength + 1, u'b');
    ExpectRows({
        {"wide",
         Header(kHeaderSize, true) + u"C:\\b.txt\0C:\\a.txt\0D:\\\0\0"sv,
         {u"C:\\b.txt", u"C:\\a.txt", u"D:\\"}},
        {"wide, Japanese and outside the basic plane",
         Header(kHeaderSize, true) + u"C:\\データ\\日本語.txt\0C:\\😀 smile\0\0"sv,
         {u"C:\\データ\\日本語.txt", u"C:\\😀 smile"}},
        {"wide, padding before the names",
         Header(kHeaderSize + 12, true, kHeaderSize + 12) + u"C:\\a\0\0"sv,
         {u"C:\\a"}},
        {"wide, names at an odd offset",
         Header(kHeaderSize + 3, true, kHeaderSize + 3) + u"C:\\a\0b\0\0"sv,
         {u"C:\\a", u"b"}},
        {"wide, bytes after the list", Header(kHeaderSize, true) + u"C:\\a\0\0C:\\b\0\0"sv, {u"C:\\a"}},
        {"wide, the longest kept", Header(kHeaderSize, true) + longest + u"\0\0"sv, {longest}},
        {"wide, one too long is cut",
         Header(kHeaderSize, true) + tooLong + u"\0x\0\0"sv,
         {tooLong.substr(0, kMaxPathLength), u"x"}},
        {"8-bit", Header(kHeaderSize, false) + "C:\\b.txt\0C:\\caf\xe9\0\0"sv, {u"C:\\b.txt", u"C:\\café"}},
        {"8-bit, names at an odd offset", Header(kHeaderSize + 3, false, kHeaderSize + 3) + "C:\\a\0\0"sv, {u"C:\\a"}},
        {"8-bit, far too long is cut",
         Header(kHeaderSize, false) + std::string(200000, 'x') + "\0y\0\0"sv,
         {std::u16string(kMaxPathLength, u'x'), u"y"}},
    });
}

// A list that is only its terminator holds no names.
TEST(DropFilesWellFormed, EmptyListHoldsNoNames) {
    ExpectRows({
        {"wide, the terminator alone", Header(kHeaderSize, true) + u"\0"sv, {}},
        {"wide, the terminator and another null", Header(kHeaderSize, true) + u"\0\0"sv, {}},
        {"8-bit, the terminator alone", Header(kHeaderSize, false) + "\0"sv, {}},
        {"8-bit, the terminator and another null", Header(kHeaderSize, false) + "\0\0"sv, {}},
    });
}

// Blocks no shell makes: the complete names before the fault are read, and nothing at or past the block's end.
TEST(DropFilesMalformed, CompleteNamesOnlyAndNothingPastTheEnd) {
    const Bytes header = Header(kHeaderSize, true);
    ExpectRows({
        {"no bytes at all", {}, {}},
        {"smaller than the header", Bytes(header.begin(), header.end() - 1), {}},
        {"only the header", Header(kHeaderSize, true), {}},
        {"offset past the end", Header(1000, true) + u"C:\\a\0\0"sv, {}},
        {"offset at the very end", Header(kHeaderSize + 8, true) + u"C:\\a"sv, {}},
        {"largest offset", Header(0xFFFFFFFF, false) + "C:\\a\0\0"sv, {}},
        {"wide, offset inside the header", Header(4, true) + u"C:\\a\0\0"sv, {}},
        {"8-bit, offset inside the header", Header(8, false) + "C:\\a\0\0"sv, {}},
        {"wide, the last name has no terminator", Header(kHeaderSize, true) + u"C:\\a\0C:\\b"sv, {u"C:\\a"}},
        {"wide, the only name has no terminator", Header(kHeaderSize, true) + u"C:\\a"sv, {}},
        {"wide, the final empty name is missing",
         Header(kHeaderSize, true) + u"C:\\a\0C:\\b\0"sv,
         {u"C:\\a", u"C:\\b"}},
        {"wide, an odd byte after the last terminator", Header(kHeaderSize, true) + u"C:\\a\0"sv + "\0"sv, {u"C:\\a"}},
        {"wide, an odd byte where the last terminator would be",
         Header(kHeaderSize, true) + u"C:\\a\0C:\\b"sv + "\0"sv,
         {u"C:\\a"}},
        {"wide, a single byte of names", Header(kHeaderSize, true) + "\0"sv, {}},
        {"wide, odd offset and odd length",
         Header(kHeaderSize + 1, true, kHeaderSize + 1) + u"C:\\a\0C:\\b"sv + "\0"sv,
         {u"C:\\a"}},
        {"wide, a long name without terminator", Header(kHeaderSize, true) + u"C:\\a\0"sv + Long(40000), {u"C:\\a"}},
        {"wide, an empty first name ends the list", Header(kHeaderSize, true) + u"\0C:\\b\0\0"sv, {}},
        {"8-bit, the last name has no terminator", Header(kHeaderSize, false) + "C:\\a\0C:\\b"sv, {u"C:\\a"}},
        {"8-bit, the only name has no terminator", Header(kHeaderSize, false) + "C:\\a"sv, {}},
        {"8-bit, the final empty name is missing",
         Header(kHeaderSize, false) + "C:\\a\0C:\\b\0"sv,
         {u"C:\\a", u"C:\\b"}},
        {"8-bit, a long name without terminator",
         Header(kHeaderSize, false) + "C:\\a\0"sv + std::string(200000, 'x'),
         {u"C:\\a"}},
        {"8-bit, an empty first name ends the list", Header(kHeaderSize, false) + "\0C:\\b\0\0"sv, {}},
    });
    Latin1Decoder latin1;
    EXPECT_TRUE(ReadDropFiles(nullptr, 100, latin1).empty());
}

// An 8-bit name the system cannot convert ends the list there.
TEST(DropFilesMalformed, AnUnconvertibleNameEndsTheList) {
    struct RefusesX final : AnsiDecoder {
        std::size_t Decode(const char* text, std::size_t bytes, char16_t* out) noexcept override {
            return text[0] == 'X' ? kFailed : Latin1Decoder().Decode(text, bytes, out);
        }
    } decoder;
    const Bytes bytes = Header(kHeaderSize, false) + "C:\\a\0X\0C:\\b\0\0"sv;
    EXPECT_EQ(ReadDropFiles(bytes.data(), bytes.size(), decoder).ToList(), FileList{u"C:\\a"});
}

TEST(SelectionBlock, KeepsEveryPathInPlaceEmptyOnesToo) {
    const FileList paths = {u"C:\\a", u"", Long(kMaxPathLength), u"", u"日本"};
    const Selection selection = Selection::FromList(paths);
    EXPECT_EQ(selection.ToList(), paths);
    EXPECT_EQ(selection.size(), paths.size());
    EXPECT_EQ(selection.TextLength(), 4 + kMaxPathLength + 2);
    EXPECT_EQ(selection.LongestPath(), kMaxPathLength);
    EXPECT_EQ(selection[1], u"");

    Selection moved = Selection::FromList(paths);
    const Selection taken = std::move(moved);
    EXPECT_TRUE(moved.empty()); // NOLINT(bugprone-use-after-move): a moved-from selection is empty
    EXPECT_EQ(taken.ToList(), paths);
    EXPECT_TRUE(Selection::FromList({}).empty());
}

} // namespace
} // namespace pathlift
