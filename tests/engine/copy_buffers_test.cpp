// What a Copy reserves: everything before the text is written, nothing while it is, all of it released on failure.

#include "engine/name_formatter.h"

#include "tests/support/fake_path_queries.h"

#include <gtest/gtest.h>

namespace pathlift {
namespace {

using testing::FakePathQueries;

// Counts the reservations of the engine and refuses every one from the index asked for.
class RecordingProbe final : public AllocationProbe {
public:
    explicit RecordingProbe(int refuseFrom = -1) : refuse_(refuseFrom) { SetAllocationProbe(this); }
    ~RecordingProbe() { SetAllocationProbe(nullptr); }

    bool Allow(std::size_t) noexcept override {
        const int index = calls++;
        if (refuse_ >= 0 && index >= refuse_) {
            return false;
        }
        ++live;
        return true;
    }
    void Released() noexcept override { --live; }

    int calls = 0;
    int live = 0;

private:
    int refuse_;
};

// Names on a share whose universal and short forms are longer than the local paths.
FakePathQueries LongerAnswers() {
    FakePathQueries queries;
    queries.universalNames[uR"(Z:)"] = uR"(\\a-server-with-a-long-name\and-a-long-share)";
    queries.universalNames[uR"(Y:)"] = uR"(\\another-server\another-share)";
    for (const char16_t* name : {u"a", u"b c", u"d"}) {
        queries.shortPaths[uR"(\\another-server\another-share\)" + std::u16string(name)] =
            uR"(\\?\UNC\another-server\another-share\A-LONGER-SHORT-NAME-)" + std::u16string(name);
    }
    return queries;
}

const FileList kFiles = {uR"(Z:\a)", uR"(Z:\b c)", uR"(Y:\d)", uR"(Y:\b c)", uR"(\\?\UNC\srv\x)", uR"(C:\e)"};

TEST(CopyStorage, EveryReservationRefusedInTurnReleasesEverythingAndWritingReservesNothing) {
    struct Row {
        const char* name;
        CopyOptions options;
        std::u16string expected;
    };
    const Row rows[] = {
        {"defaults", {}, u"Z:\\a\r\nZ:\\b c\r\nY:\\d\r\nY:\\b c\r\n\\\\srv\\x\r\nC:\\e"},
        {"universal names",
         {.Mode = 3, .WQuotation = 2, .FileSeparator = u";"},
         uR"(\\a-server-with-a-long-name\and-a-long-share\a;"\\a-server-with-a-long-name\and-a-long-share\b c";)"
         uR"(\\another-server\another-share\d;"\\another-server\another-share\b c";\\srv\x;C:\e)"},
        {"short names of the universal names, escaped",
         {.Mode = 3, .ShortName = 1, .ConvertSpace = 1, .DirectorySepalator = 2, .FileSeparator = u" "},
         u"//a-server-with-a-long-name/and-a-long-share/a //a-server-with-a-long-name/and-a-long-share/b%20c "
         u"//another-server/another-share/A-LONGER-SHORT-NAME-d "
         u"//another-server/another-share/A-LONGER-SHORT-NAME-b%20c "
         u"//srv/x C:/e"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Selection files = Selection::FromList(kFiles);
        int reservations = 0;
        {
            RecordingProbe counting;
            FakePathQueries queries = LongerAnswers();
            CopyBuffers buffers;
            ASSERT_TRUE(AllocateCopyBuffers(files, row.options, queries, buffers));
            reservations = counting.calls;
            std::u16string text(buffers.textLength + 1, u'?');
            FormatFileList(buffers, text.data());
            EXPECT_EQ(counting.calls, reservations) << "the writing reserved something";
            EXPECT_EQ(text, row.expected + u'\0');
            FreeCopyBuffers(buffers);
            EXPECT_EQ(counting.live, 0);
        }
        for (int refused = 0; refused < reservations; ++refused) {
            SCOPED_TRACE(::testing::Message() << "refused reservation " << refused << " of " << reservations);
            RecordingProbe refusing(refused);
            FakePathQueries queries = LongerAnswers();
            CopyBuffers buffers;
            EXPECT_FALSE(AllocateCopyBuffers(files, row.options, queries, buffers));
            EXPECT_EQ(refusing.live, 0);
            EXPECT_EQ(buffers.answers, nullptr);
        }
    }
}

TEST(CopyStorage, TheDefaultsOfAHundredThousandPathsReserveNothing) {
    FileList paths;
    for (int i = 0; i < 100000; ++i) {
        paths.push_back(uR"(C:\Users\someone\Documents\Reports\2026\quarterly-)" + std::u16string(1, u'a' + i % 26));
    }
    const Selection files = Selection::FromList(paths);
    RecordingProbe probe;
    FakePathQueries queries;
    CopyBuffers buffers;
    const CopyOptions defaults;
    ASSERT_TRUE(AllocateCopyBuffers(files, defaults, queries, buffers));
    EXPECT_EQ(probe.calls, 0);
    EXPECT_EQ(buffers.textLength, files.TextLength() + 2 * (paths.size() - 1));
}

} // namespace
} // namespace pathlift
