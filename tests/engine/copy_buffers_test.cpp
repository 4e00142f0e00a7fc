#include "engine/name_formatter.h"

#include "tests/support/fake_path_queries.h"

#include <gtest/gtest.h>

#include <numeric>

namespace pathlift {
namespace {

using testing::FakePathQueries;

// Records every reservation of the engine and refuses every one from the index asked for.
class RecordingProbe final : public AllocationProbe {
public:
    RecordingProbe() { SetAllocationProbe(this); }
    ~RecordingProbe() { SetAllocationProbe(nullptr); }

    bool Allow(std::size_t bytes) noexcept override {
        const int index = calls++;
        if (refuse >= 0 && index >= refuse) {
            return false;
        }
        if (recorded < kRecorded) {
            sizes[recorded++] = bytes;
        }
        total += bytes;
        ++live;
        return true;
    }
    void Released() noexcept override { --live; }

    static constexpr std::size_t kRecorded = 64;
    int refuse = -1;
    int calls = 0;
    int live = 0;
    std::size_t total = 0;
    std::size_t sizes[kRecorded] = {};
    std::size_t recorded = 0;
};

const FileList kThree = {uR"(C:\a b\one.txt)", uR"(\\srv\share\two)", u"D:\\"};

TEST(CopyStorage, ReservedInOrderAndSizedFromThePaths) {
    RecordingProbe probe;
    CopyBuffers buffers;
    ASSERT_TRUE(AllocateCopyBuffers(kThree, buffers));

    ASSERT_EQ(probe.recorded, 1 + kThree.size() + 1 + 3);
    EXPECT_EQ(probe.sizes[0], kThree.size() * sizeof(CharBuffer));
    for (std::size_t i = 0; i < kThree.size(); ++i) {
        EXPECT_EQ(probe.sizes[1 + i], (kThree[i].size() + 1) * 2) << "entry " << i;
        EXPECT_EQ(std::u16string(buffers.entries[i].data()), kThree[i]);
    }
    // Each path, its spaces twice more and its backslashes once more, two quotes and a separator, one terminator.
    const std::size_t outputRoom = (14 + 2 + 2 + 4) + (15 + 0 + 4 + 4) + (3 + 0 + 1 + 4) + 1;
    EXPECT_EQ(probe.sizes[4], outputRoom * 2);
    EXPECT_EQ(buffers.Text(), u"");
    // The working storage of one formatting: 64 KiB for the queries, three times that for the entry and scratch.
    EXPECT_EQ(probe.sizes[5], 32768u * 2);
    EXPECT_EQ(probe.sizes[6], (3u * 32767 + 1) * 2);
    EXPECT_EQ(probe.sizes[7], (3u * 32767 + 1) * 2);

    FreeCopyBuffers(buffers);
    EXPECT_EQ(probe.live, 0);
    EXPECT_EQ(buffers.count, 0u);
    EXPECT_EQ(buffers.entries, nullptr);
}

TEST(CopyStorage, FailureAtAnyReservationReleasesEverything) {
    const int reservations = static_cast<int>(1 + kThree.size() + 1 + 3);
    for (int refuse = 0; refuse < reservations; ++refuse) {
        SCOPED_TRACE(::testing::Message() << "refused reservation " << refuse);
        RecordingProbe probe;
        probe.refuse = refuse;
        CopyBuffers buffers;
        EXPECT_FALSE(AllocateCopyBuffers(kThree, buffers));
        EXPECT_EQ(probe.live, 0);
        EXPECT_EQ(probe.calls, refuse + 1) << "nothing is reserved after the failure";
        EXPECT_EQ(buffers.entries, nullptr);
        EXPECT_EQ(buffers.count, 0u);
        EXPECT_FALSE(buffers.output);
        EXPECT_FALSE(buffers.entry);
        FakePathQueries queries;
        EXPECT_FALSE(FormatFileList(buffers, {}, queries));
    }
}

TEST(CopyStorage, FormattingReservesNothingMoreWhenNoQueryLengthensAPath) {
    RecordingProbe probe;
    CopyBuffers buffers;
    ASSERT_TRUE(AllocateCopyBuffers(kThree, buffers));
    const int reserved = probe.calls;
    FakePathQueries queries;
    ASSERT_TRUE(FormatFileList(
        buffers, {.ConvertSpace = 1, .WQuotation = 1, .DirectorySepalator = 3, .FileSeparator = u"\r\n"}, queries));
    EXPECT_EQ(probe.calls, reserved);
    EXPECT_EQ(buffers.Text(), u"\"C:\\\\a%20b\\\\one.txt\"\r\n\"\\\\\\\\srv\\\\share\\\\two\"\r\n\"D:\\\\\"");
}

TEST(CopyStorage, ALongerNetworkNameGrowsTheTextAndAFailedGrowthGivesNoText) {
    FakePathQueries queries;
    FileList files;
    for (int i = 0; i < 50; ++i) {
        const std::u16string local = u"Z:\\f" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
        files.push_back(local);
        queries.universalNames[uR"(\\?\)" + local] =
            uR"(\\a-server-with-a-long-name\and-a-long-share)" + local.substr(2);
    }
    std::u16string expected;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i != 0) {
            expected += u';';
        }
        expected += uR"(\\a-server-with-a-long-name\and-a-long-share)";
        expected += files[i].substr(2);
    }
    const CopyOptions mode3{.Mode = 3, .FileSeparator = u";"};
    EXPECT_EQ(testing::FormatSelection(files, mode3, queries), expected);

    RecordingProbe probe;
    CopyBuffers buffers;
    ASSERT_TRUE(AllocateCopyBuffers(files, buffers));
    probe.refuse = probe.calls; // the growth, and its second, smaller attempt
    EXPECT_FALSE(FormatFileList(buffers, mode3, queries));
    EXPECT_EQ(buffers.Text(), u"");
    FreeCopyBuffers(buffers);
    EXPECT_EQ(probe.live, 0);
}

TEST(CopyStorage, HundredThousandShortPathsNeedLittleMoreThanTheirText) {
    FileList files;
    files.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
        std::u16string path = uR"(C:\Users\someone\Documents\Reports\2026\quarterly-)";
        for (int v = i; path.size() < 60; v /= 10) {
            path += static_cast<char16_t>(u'0' + v % 10);
        }
        files.push_back(std::move(path));
    }
    RecordingProbe probe;
    CopyBuffers buffers;
    ASSERT_TRUE(AllocateCopyBuffers(files, buffers));
    // The text itself is 100,000 * 62 characters, 12 MiB; reserving for the worst case of every path would take
    // 37 GiB, more than a 32-bit process has.
    EXPECT_LT(probe.total, 40u * 1024 * 1024) << "bytes reserved";
    FakePathQueries queries;
    ASSERT_TRUE(FormatFileList(buffers, {}, queries));
    EXPECT_EQ(buffers.outputLength, 100000u * 62 - 2);
    EXPECT_EQ(buffers.Text().substr(0, 62), files[0] + u"\r\n");
}

} // namespace
} // namespace pathlift
