#include "engine/path_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pathlift {
namespace {

// Runs an in-place primitive on a buffer of the given capacity, filled beyond the text with a marker so that a
// write past the capacity or a missing terminator shows.
template <class F> std::u16string InPlace(std::u16string_view text, std::size_t capacity, F&& operation) {
    std::vector<char16_t> buffer(capacity + 8, u'#');
    CopyText(buffer.data(), capacity, text);
    operation(buffer.data(), capacity);
    for (std::size_t i = capacity; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], u'#') << "written past the capacity at " << i;
    }
    return std::u16string(buffer.data(), BoundedLength(buffer.data(), capacity));
}

struct ReplaceRow {
    std::u16string text;
    std::size_t capacity;
    std::u16string find;
    std::u16string replacement;
    std::u16string expected;
    std::size_t count;
};

TEST(Replacement, LeftToRightWithoutOverlapAndNeverSearchingInsertedText) {
    const ReplaceRow rows[] = {
        {uR"(C:\Work\my file.txt)", 100, u" ", u"%20", uR"(C:\Work\my%20file.txt)", 1},
        {uR"(\\srv\a)", 100, uR"(\)", uR"(\\)", uR"(\\\\srv\\a)", 3},
        {uR"(C:\a\b)", 100, uR"(\)", u"/", u"C:/a/b", 2},
        {u"aaaa", 100, u"aa", u"b", u"bb", 2},
        {u"aaa", 100, u"aa", u"b", u"ba", 1},
        {u"a", 100, u"ab", u"x", u"a", 0}, // the terminator ends a partial match
        {u"my%20file", 100, u" ", u"%20", u"my%20file", 0},
        {u"", 100, u" ", u"%20", u"", 0},
        {u"a b", 4, u" ", u"%20", u"a%2", 1}, // cut to capacity - 1 characters
        {u"  ", 3, u" ", u"%20", u"%2", 1},   // the replacement stops early at the capacity
        {u"abc", 3, u"b", u"", u"a", 1},      // only capacity characters of the text are looked at
    };
    for (const ReplaceRow& row : rows) {
        SCOPED_TRACE(::testing::Message() << "capacity " << row.capacity);
        std::vector<char16_t> scratch(row.capacity, u'#');
        std::size_t count = 0;
        const std::u16string result = InPlace(row.text, row.capacity, [&](char16_t* text, std::size_t capacity) {
            count = ReplaceAll(text, capacity, row.find, row.replacement, scratch.data());
        });
        EXPECT_EQ(result, row.expected);
        EXPECT_EQ(count, row.count);
    }
}

TEST(LongPathPrefix, AddedForDrivesAndSharesAndKeptWhenPresent) {
    const std::pair<std::u16string, std::u16string> rows[] = {
        {uR"(C:\Work\memo.txt)", uR"(\\?\C:\Work\memo.txt)"},
        {uR"(\\srv\share\memo.txt)", uR"(\\?\UNC\srv\share\memo.txt)"},
        {uR"(\\?\C:\Work\memo.txt)", uR"(\\?\C:\Work\memo.txt)"},
        {uR"(\\?\UNC\srv\share)", uR"(\\?\UNC\srv\share)"},
        {uR"(\\?x)", uR"(\\?\\\?x)"}, // a question mark without a backslash after it is no prefix
        {uR"(relative\name)", uR"(\\?\relative\name)"},
        {u"", uR"(\\?\)"},
    };
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(InPlace(text, 64, AddLongPathPrefix), expected);
    }
}

TEST(LongPathPrefix, RemovedToThePlainDriveOrDoubleBackslashForm) {
    const std::pair<std::u16string, std::u16string> rows[] = {
        {uR"(\\?\C:\Work\memo.txt)", uR"(C:\Work\memo.txt)"},
        {uR"(\\?\UNC\srv\share\memo.txt)", uR"(\\srv\share\memo.txt)"},
        {uR"(\\?\unc\srv\share)", uR"(unc\srv\share)"}, // only upper-case UNC names a share
        {uR"(\\?\UNC)", u"UNC"},
        {uR"(C:\Work\memo.txt)", uR"(C:\Work\memo.txt)"},
        {uR"(\\srv\share)", uR"(\\srv\share)"},
    };
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(InPlace(text, 64, RemoveLongPathPrefix), expected);
    }
}

TEST(LongPathPrefix, AddThenRemoveGivesThePathBackWhateverItsLength) {
    for (std::size_t length : {1u, 1017u, 1018u, 5000u, 32766u}) {
        const std::u16string drive = uR"(C:\)" + std::u16string(length - 1, u'd');
        const std::u16string share = uR"(\\s\)" + std::u16string(length - 1, u's');
        for (const std::u16string& path : {drive, share}) {
            EXPECT_EQ(InPlace(path, path.size() + 7,
                              [](char16_t* text, std::size_t capacity) {
                                  AddLongPathPrefix(text, capacity);
                                  RemoveLongPathPrefix(text, capacity);
                              }),
                      path);
        }
    }
}

TEST(LongPathPrefix, NullTextIsLeftAlone) {
    AddLongPathPrefix(nullptr, 10);
    RemoveLongPathPrefix(nullptr, 10);
}

TEST(LongPathPrefix, NeverWritesPastTheCapacity) {
    EXPECT_EQ(InPlace(uR"(\\srv\s)", 9, AddLongPathPrefix), uR"(\\?\UNC\)");
    EXPECT_EQ(InPlace(uR"(C:\x)", 3, AddLongPathPrefix), uR"(\\)");
}

struct SplitRow {
    std::u16string path, drive, directory, fileName, extension;
};

TEST(PathSplit, DriveDirectoryNameAndExtension) {
    const SplitRow rows[] = {
        {uR"(C:\Work\my file.txt)", u"C:", uR"(\Work\)", u"my file", u".txt"},
        {uR"(D:\)", u"D:", uR"(\)", u"", u""},
        {u"D:", u"D:", u"", u"", u""},
        {uR"(\\srv\share)", u"", uR"(\\srv\)", u"share", u""},
        {uR"(\\srv\share\docs\memo.txt)", u"", uR"(\\srv\share\docs\)", u"memo", u".txt"},
        {uR"(C:\Work\.profile)", u"C:", uR"(\Work\)", u"", u".profile"},
        {uR"(C:\Work\logs.tar.gz)", u"C:", uR"(\Work\)", u"logs.tar", u".gz"},
        {uR"(C:\Site.old\Makefile)", u"C:", uR"(\Site.old\)", u"Makefile", u""},
        {uR"(C:\Work\Site.old)", u"C:", uR"(\Work\)", u"Site", u".old"},
        {u"C:/a/b.c", u"C:", u"/a/", u"b", u".c"},
        {uR"(C:\a/b\c)", u"C:", uR"(\a/b\)", u"c", u""},
        {u"name.", u"", u"", u"name", u"."},
        {u"x:y.z", u"x:", u"", u"y", u".z"}, // only the second character decides the drive
        {u"ab:c", u"", u"", u"ab:c", u""},
        {u"", u"", u"", u"", u""},
    };
    for (const SplitRow& row : rows) {
        const PathParts parts = SplitPath(row.path);
        SCOPED_TRACE(std::string(row.path.begin(), row.path.end()));
        EXPECT_EQ(parts.drive, row.drive);
        EXPECT_EQ(parts.directory, row.directory);
        EXPECT_EQ(parts.fileName, row.fileName);
        EXPECT_EQ(parts.extension, row.extension);
    }
}

TEST(PathSplit, LongPartsAreKeptWhole) {
    const std::u16string directory = u"\\" + std::u16string(300, u'd') + u"\\";
    const std::u16string name(300, u'n');
    const std::u16string extension = u"." + std::u16string(300, u'e');
    const std::u16string path = u"C:" + directory + name + extension;
    const PathParts parts = SplitPath(path);
    EXPECT_EQ(parts.directory, directory);
    EXPECT_EQ(parts.fileName, name);
    EXPECT_EQ(parts.extension, extension);
}

TEST(LetterCase, OnlyAsciiLettersChange) {
    const std::u16string text = u"C:\\Data\\émile ÉMILE αβΓ жЖ ＡＢｃ かな漢字 z[`{@A.txt";
    EXPECT_EQ(InPlace(text, 64, [](char16_t* t, std::size_t) { ToUpperInPlace(t); }),
              u"C:\\DATA\\éMILE ÉMILE αβΓ жЖ ＡＢｃ かな漢字 Z[`{@A.TXT");
    EXPECT_EQ(InPlace(text, 64, [](char16_t* t, std::size_t) { ToLowerInPlace(t); }),
              u"c:\\data\\émile Émile αβΓ жЖ ＡＢｃ かな漢字 z[`{@a.txt");
}

} // namespace
} // namespace pathlift
