#include "engine/copy_options.h"

#include <gtest/gtest.h>

namespace pathlift {
namespace {

TEST(Defaults, FullPathLongNamesBackslashesOneEntryPerLine) {
    const CopyOptions options;
    EXPECT_EQ(options.Mode, 1u);
    EXPECT_EQ(options.ShortName, 0u);
    EXPECT_EQ(options.NoExtension, 0u);
    EXPECT_EQ(options.ConvertSpace, 0u);
    EXPECT_EQ(options.WQuotation, 0u);
    EXPECT_EQ(options.DirectorySepalator, 1u);
    EXPECT_EQ(options.FileSeparator, u"\r\n");
    EXPECT_EQ(options.ConvertUpLower, 0u);
}

TEST(Normalisation, OutOfRangeNumbersBecomeTheirDefaults) {
    struct Row {
        std::uint32_t (*normalise)(std::uint32_t) noexcept;
        std::uint32_t stored;
        std::uint32_t used;
    };
    const Row rows[] = {
        {NormaliseMode, 0, 1},
        {NormaliseMode, 1, 1},
        {NormaliseMode, 2, 2},
        {NormaliseMode, 3, 3},
        {NormaliseMode, 4, 1},
        {NormaliseMode, 0x32, 1},
        {NormaliseMode, 0xFFFFFFFF, 1},
        {NormaliseQuotation, 0, 0},
        {NormaliseQuotation, 2, 2},
        {NormaliseQuotation, 3, 0},
        {NormaliseDirectorySeparator, 0, 1},
        {NormaliseDirectorySeparator, 3, 3},
        {NormaliseDirectorySeparator, 4, 1},
        {NormaliseCaseConversion, 2, 2},
        {NormaliseCaseConversion, 3, 0},
        {NormaliseCaseConversion, 7, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "stored " << row.stored);
        EXPECT_EQ(row.normalise(row.stored), row.used);
    }
}

TEST(Normalisation, OnlyTheFourSeparatorsAreKept) {
    const std::pair<std::u16string, std::u16string> rows[] = {
        {u"\r\n", u"\r\n"}, {u";", u";"},   {u" ", u" "},     {u"\t", u"\t"},   {u",", u"\r\n"},
        {u"\n", u"\r\n"},   {u"", u"\r\n"}, {u";;", u"\r\n"}, {u"\r", u"\r\n"}, {u"\r\n ", u"\r\n"},
    };
    for (const auto& [stored, used] : rows) {
        EXPECT_EQ(NormaliseFileSeparator(stored), used);
    }
}

TEST(Normalisation, EachFieldOnItsOwnAndFlagsKeepTheirValue) {
    CopyOptions options;
    options.Mode = 7;
    options.ShortName = 5;
    options.NoExtension = 1;
    options.ConvertSpace = 0xFFFFFFFF;
    options.WQuotation = 2;
    options.DirectorySepalator = 0;
    options.FileSeparator = u"\t";
    options.ConvertUpLower = 9;
    Normalise(options);

    CopyOptions expected;
    expected.Mode = 1;
    expected.ShortName = 5;
    expected.NoExtension = 1;
    expected.ConvertSpace = 0xFFFFFFFF;
    expected.WQuotation = 2;
    expected.DirectorySepalator = 1;
    expected.FileSeparator = u"\t";
    expected.ConvertUpLower = 0;
    EXPECT_EQ(options, expected);
}

} // namespace
} // namespace pathlift
