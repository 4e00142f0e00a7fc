#include "engine/name_formatter.h"

#include "tests/support/fake_path_queries.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pathlift {
namespace {

using testing::FakePathQueries;
using testing::FormatSelection;

struct Row {
    const char* name;
    CopyOptions options;
    FileList files;
    std::u16string expected;
};

void ExpectRows(std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FormatSelection(row.files, row.options), row.expected);
    }
}

const std::u16string kMyFile = uR"(C:\Work\my file.txt)";

TEST(EntryFormatting, EachOptionOnAPathWithASpace) {
    ExpectRows({
        {"defaults", {}, {kMyFile}, uR"(C:\Work\my file.txt)"},
        {"file name", {.Mode = 2}, {kMyFile}, u"my file.txt"},
        {"file name without extension", {.Mode = 2, .NoExtension = 1}, {kMyFile}, u"my file"},
        {"no extension", {.NoExtension = 1}, {kMyFile}, uR"(C:\Work\my file)"},
        {"space escaped", {.ConvertSpace = 1}, {kMyFile}, uR"(C:\Work\my%20file.txt)"},
        {"quoted if space", {.WQuotation = 2}, {kMyFile}, uR"("C:\Work\my file.txt")"},
        {"quoted if space, space escaped",
         {.ConvertSpace = 1, .WQuotation = 2},
         {kMyFile},
         uR"(C:\Work\my%20file.txt)"},
        {"always quoted, space escaped",
         {.ConvertSpace = 1, .WQuotation = 1},
         {kMyFile},
         uR"("C:\Work\my%20file.txt")"},
        {"slashes", {.DirectorySepalator = 2}, {kMyFile}, u"C:/Work/my file.txt"},
        {"doubled backslashes", {.DirectorySepalator = 3}, {kMyFile}, uR"(C:\\Work\\my file.txt)"},
        {"upper case", {.ConvertUpLower = 1}, {kMyFile}, uR"(C:\WORK\MY FILE.TXT)"},
        {"lower case", {.ConvertUpLower = 2}, {kMyFile}, uR"(c:\work\my file.txt)"},
        {"flags on for any non-zero value",
         {.NoExtension = 5, .ConvertSpace = 0xFFFFFFFF},
         {kMyFile},
         uR"(C:\Work\my%20file)"},
        {"unknown mode acts as full path", {.Mode = 9}, {kMyFile}, kMyFile},
        {"everything at once",
         {.Mode = 2,
          .NoExtension = 1,
          .ConvertSpace = 1,
          .WQuotation = 1,
          .DirectorySepalator = 3,
          .ConvertUpLower = 1},
         {kMyFile},
         uR"("MY%20FILE")"},
    });
}

TEST(EntryFormatting, NetworkPathsDriveRootsAndFolders) {
    const std::u16string memo = uR"(\\srv\share\docs\memo.txt)";
    ExpectRows({
        {"share path doubled", {.DirectorySepalator = 3}, {memo}, uR"(\\\\srv\\share\\docs\\memo.txt)"},
        {"share path slashes", {.DirectorySepalator = 2}, {memo}, u"//srv/share/docs/memo.txt"},
        {"share path file name", {.Mode = 2}, {memo}, u"memo.txt"},
        {"share root file name", {.Mode = 2}, {uR"(\\srv\share)"}, u"share"},
        {"share root kept", {}, {uR"(\\srv\share)"}, uR"(\\srv\share)"},
        {"drive root file name", {.Mode = 2}, {uR"(D:\)"}, u""},
        {"drive root", {}, {uR"(D:\)"}, uR"(D:\)"},
        {"folder with a dot", {.NoExtension = 1}, {uR"(C:\Work\Site.old)"}, uR"(C:\Work\Site)"},
        {"dot only in a folder", {.NoExtension = 1}, {uR"(C:\Site.old\Makefile)"}, uR"(C:\Site.old\Makefile)"},
        {"multi-dot name", {.NoExtension = 1}, {uR"(C:\Work\logs.tar.gz)"}, uR"(C:\Work\logs.tar)"},
        {"dot file", {.NoExtension = 1}, {uR"(C:\Work\.profile)"}, uR"(C:\Work\)"},
        {"dot file name", {.Mode = 2, .NoExtension = 1}, {uR"(C:\Work\.profile)"}, u""},
        {"slash as separator in input", {.Mode = 2}, {u"C:/Work/a.txt"}, u"a.txt"},
        {"prefixed drive path", {}, {uR"(\\?\C:\Work\memo.txt)"}, uR"(C:\Work\memo.txt)"},
        {"prefixed share path", {}, {uR"(\\?\UNC\srv\share\memo.txt)"}, uR"(\\srv\share\memo.txt)"},
        {"prefixed share file name", {.Mode = 2}, {uR"(\\?\UNC\srv\share\memo.txt)"}, u"memo.txt"},
    });
}

TEST(EntryFormatting, OnlyTheAsciiSpaceAndAsciiLettersAreTouched) {
    ExpectRows({
        {"accented upper", {.ConvertUpLower = 1}, {uR"(C:\Data\émile.txt)"}, uR"(C:\DATA\éMILE.TXT)"},
        {"full-width and Japanese",
         {.ConvertUpLower = 1},
         {uR"(C:\ｄａｔａ\日本語ｆｉｌｅ.txt)"},
         uR"(C:\ｄａｔａ\日本語ｆｉｌｅ.TXT)"},
        {"Cyrillic lower", {.ConvertUpLower = 2}, {uR"(C:\ЖУРНАЛ\A.TXT)"}, uR"(c:\ЖУРНАЛ\a.txt)"},
        {"ideographic space and tab", {.ConvertSpace = 1}, {u"C:\\a\u3000b\tc d"}, u"C:\\a\u3000b\tc%20d"},
        {"ideographic space is not quoted", {.WQuotation = 2}, {u"C:\\a\u3000b\tc"}, u"C:\\a\u3000b\tc"},
        {"existing %20 kept", {.ConvertSpace = 1}, {uR"(C:\my%20file.txt)"}, uR"(C:\my%20file.txt)"},
        {"escape then slashes", {.ConvertSpace = 1, .DirectorySepalator = 2}, {uR"(C:\a b\c)"}, u"C:/a%20b/c"},
    });
}

TEST(Joining, SeparatorsOnlyBetweenEntries) {
    const FileList two = {uR"(C:\a.txt)", uR"(C:\b c.txt)"};
    ExpectRows({
        {"single path", {}, {uR"(C:\a.txt)"}, uR"(C:\a.txt)"},
        {"line break", {}, two, u"C:\\a.txt\r\nC:\\b c.txt"},
        {"semicolon", {.FileSeparator = u";"}, two, uR"(C:\a.txt;C:\b c.txt)"},
        {"space", {.FileSeparator = u" "}, two, uR"(C:\a.txt C:\b c.txt)"},
        {"tab", {.FileSeparator = u"\t"}, two, u"C:\\a.txt\tC:\\b c.txt"},
        {"quoted only where a space is", {.WQuotation = 2, .FileSeparator = u";"}, two, uR"(C:\a.txt;"C:\b c.txt")"},
        {"always quoted", {.WQuotation = 1, .FileSeparator = u";"}, two, uR"("C:\a.txt";"C:\b c.txt")"},
        {"order kept", {.Mode = 2, .FileSeparator = u";"}, {u"C:\\z", u"C:\\a", u"C:\\m"}, u"z;a;m"},
    });
}

TEST(Joining, EmptyEntriesAreStillSeparatedAndQuoted) {
    const FileList roots = {uR"(D:\)", uR"(E:\)", uR"(F:\)"};
    ExpectRows({
        {"three empty entries", {.Mode = 2}, roots, u"\r\n\r\n"},
        {"three empty entries quoted", {.Mode = 2, .WQuotation = 1, .FileSeparator = u";"}, roots, uR"("";"";"")"},
        {"empty between two", {.Mode = 2, .FileSeparator = u";"}, {uR"(C:\a)", uR"(D:\)", uR"(C:\b)"}, u"a;;b"},
        {"empty entry is not quoted if space", {.Mode = 2, .WQuotation = 2}, {uR"(D:\)"}, u""},
    });
}

TEST(LongPaths, AreCopiedWhole) {
    const std::u16string longDirectory = uR"(C:\)" + std::u16string(300, u'd') + uR"(\file.txt)";
    const std::u16string longName = uR"(C:\Work\)" + std::u16string(300, u'n') + u".txt";
    const std::u16string longExtension = uR"(C:\Work\a.)" + std::u16string(300, u'e');
    std::u16string huge = uR"(C:\)";
    while (huge.size() < 20000) {
        huge += u"folder name\\";
    }
    huge.resize(20000, u'x');
    std::u16string hugeSlashes = huge;
    std::replace(hugeSlashes.begin(), hugeSlashes.end(), u'\\', u'/');

    // The largest path the shell gives, all spaces and backslashes, tripled by the escapes.
    std::u16string widest = uR"(\\s)";
    while (widest.size() < kMaxPathLength) {
        widest += widest.size() % 2 == 0 ? u" " : u"\\";
    }
    std::u16string widestExpected;
    for (char16_t c : widest) {
        widestExpected += c == u' ' ? u"%20" : c == u'\\' ? u"\\\\" : std::u16string(1, c);
    }

    ExpectRows({
        {"300-character directory", {}, {longDirectory}, longDirectory},
        {"300-character directory, file name", {.Mode = 2}, {longDirectory}, u"file.txt"},
        {"300-character name", {}, {longName}, longName},
        {"300-character name quoted", {.WQuotation = 1}, {longName}, u"\"" + longName + u"\""},
        {"300-character extension", {}, {longExtension}, longExtension},
        {"300-character extension dropped", {.NoExtension = 1}, {longExtension}, uR"(C:\Work\a)"},
        {"20,000 characters", {}, {huge}, huge},
        {"20,000 characters with slashes", {.DirectorySepalator = 2}, {huge}, hugeSlashes},
        {"32,766 characters, every escape", {.ConvertSpace = 1, .DirectorySepalator = 3}, {widest}, widestExpected},
        {"long between short", {.FileSeparator = u";"}, {u"a", huge, u"b"}, u"a;" + huge + u";b"},
    });
}

TEST(UniversalNames, NetworkDriveGivesTheShareAndLaterStepsApply) {
    FakePathQueries queries;
    queries.universalNames[uR"(Z:)"] = uR"(\\fileserver\team)";
    const FileList files = {uR"(Z:\docs\my memo.txt)", uR"(C:\local.txt)"};

    EXPECT_EQ(FormatSelection(files, {.Mode = 3}, queries),
              u"\\\\fileserver\\team\\docs\\my memo.txt\r\nC:\\local.txt");
    // The query sees each folder in its drive-based form, the only one a network provider answers for.
    EXPECT_EQ(queries.universalAsked, (std::vector<std::u16string>{uR"(Z:\docs\)", uR"(C:\)"}));

    EXPECT_EQ(
        FormatSelection(files, {.Mode = 3, .ConvertSpace = 1, .DirectorySepalator = 2, .ConvertUpLower = 2}, queries),
        u"//fileserver/team/docs/my%20memo.txt\r\nc:/local.txt");
    EXPECT_EQ(FormatSelection(files, {.Mode = 1}, queries), u"Z:\\docs\\my memo.txt\r\nC:\\local.txt");
}

TEST(UniversalNames, LocalFileGivesTheFullPathText) {
    FakePathQueries queries; // answers nothing, like a local disk
    for (const std::u16string& path :
         {kMyFile, std::u16string(uR"(\\?\C:\Work\memo.txt)"), std::u16string(uR"(\\srv\share\x y.txt)")}) {
        EXPECT_EQ(FormatSelection({path}, {.Mode = 3, .WQuotation = 2}, queries),
                  FormatSelection({path}, {.Mode = 1, .WQuotation = 2}, queries));
    }
}

TEST(ShortNames, ShortFormReplacesTheLongOne) {
    FakePathQueries queries;
    queries.shortPaths[uR"(\\?\C:\Work\my file.txt)"] = uR"(\\?\C:\Work\MY_F~QBX.TXT)";
    EXPECT_EQ(FormatSelection({kMyFile}, {.ShortName = 1}, queries), uR"(C:\Work\MY_F~QBX.TXT)");
    EXPECT_EQ(FormatSelection({kMyFile}, {.Mode = 2, .ShortName = 1, .NoExtension = 1}, queries), u"MY_F~QBX");
    EXPECT_EQ(queries.shortAsked.front(), uR"(\\?\C:\Work\my file.txt)");
}

TEST(ShortNames, WithoutAShortFormTheLongPathIsUsed) {
    FakePathQueries queries;
    EXPECT_EQ(FormatSelection({kMyFile}, {.ShortName = 1, .WQuotation = 2}, queries), uR"("C:\Work\my file.txt")");
    EXPECT_EQ(FormatSelection({uR"(\\srv\share\gone.txt)"}, {.ShortName = 1}, queries), uR"(\\srv\share\gone.txt)");
}

TEST(ShortNames, OfTheUniversalNameInModeThree) {
    FakePathQueries queries;
    queries.universalNames[uR"(Z:)"] = uR"(\\srv\share)";
    queries.shortPaths[uR"(\\srv\share\long name.txt)"] = uR"(\\srv\share\LONGNA~1.TXT)";
    const FileList files = {uR"(Z:\long name.txt)", uR"(Z:\other name.txt)", uR"(C:\local name.txt)"};

    // The second has no short form: the network name the user asked for stays, in its long form.
    EXPECT_EQ(FormatSelection(files, {.Mode = 3, .ShortName = 1, .FileSeparator = u";"}, queries),
              uR"(\\srv\share\LONGNA~1.TXT;\\srv\share\other name.txt;C:\local name.txt)");
    EXPECT_EQ(queries.shortAsked,
              (std::vector<std::u16string>{uR"(\\srv\share\long name.txt)", uR"(\\srv\share\other name.txt)",
                                           uR"(\\?\C:\local name.txt)"}));
}

// A mapped drive answers for a folder what it answers for each of its paths with the rest of the path after it, so
// asking once per folder gives what asking per path gives; a folder without an answer gives its paths their own,
// and a path in the network form is not asked about at all.
TEST(UniversalNames, AskedOncePerFolderWithTheTextOfAskingPerPath) {
    FakePathQueries queries;
    queries.universalNames[uR"(Z:)"] = uR"(\\srv\share)";
    FakePathQueries perPath = queries;
    const std::u16string folders[] = {uR"(Z:\docs\)", uR"(C:\local\)", uR"(Z:\)", uR"(\\nas\media\)"};
    FileList files;
    std::u16string expected;
    for (int i = 0; i < 400; ++i) {
        const std::u16string path = folders[i % 4] + u"item " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
        files.push_back(path);
        char16_t answer[512];
        expected +=
            (i == 0 ? u"" : u";") + (perPath.UniversalName(path.c_str(), answer, 512) ? std::u16string(answer) : path);
    }
    EXPECT_EQ(FormatSelection(files, {.Mode = 3, .FileSeparator = u";"}, queries), expected);
    EXPECT_EQ(queries.universalAsked, (std::vector<std::u16string>{uR"(Z:\docs\)", uR"(C:\local\)", uR"(Z:\)"}));
    EXPECT_NE(expected.find(uR"(;\\srv\share\item c;\\nas\media\item d;)"), std::u16string::npos);
    EXPECT_NE(expected.find(uR"(;C:\local\item b;)"), std::u16string::npos);
}

// Whatever form the shell gives a path in, the question is the drive-based folder: a provider refuses "\\?\Y:\".
TEST(UniversalNames, AskedWithoutTheLongPathPrefixAtAnyLength) {
    const std::u16string deep = uR"(dir\)" + std::u16string(300, u'd') + uR"(\)";
    struct Row {
        std::u16string path, asked, expected;
    };
    const Row rows[] = {
        {uR"(Y:\dir\a.txt)", uR"(Y:\dir\)", uR"(\\srv\share\dir\a.txt)"},
        {uR"(Y:\)" + deep + u"a.txt", uR"(Y:\)" + deep, uR"(\\srv\share\)" + deep + u"a.txt"},
        {uR"(\\?\Y:\)" + deep + u"b.txt", uR"(Y:\)" + deep, uR"(\\srv\share\)" + deep + u"b.txt"},
        {uR"(\\?\UNC\srv\share\c.txt)", u"", uR"(\\srv\share\c.txt)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.path.begin(), row.path.begin() + 12));
        FakePathQueries queries;
        queries.universalNames[uR"(Y:)"] = uR"(\\srv\share)";
        EXPECT_EQ(FormatSelection({row.path}, {.Mode = 3}, queries), row.expected);
        EXPECT_EQ(queries.universalAsked,
                  row.asked.empty() ? std::vector<std::u16string>{} : std::vector<std::u16string>{row.asked});
    }
}

} // namespace
} // namespace pathlift
