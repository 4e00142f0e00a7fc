// The selected-files table: copies in and out, oldest entry first, null windows, and several threads at once.

#include "dialog/selected_files.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace pathlift {
namespace {

// Window handles are only compared, never used: any distinct values will do.
HWND Window(std::uintptr_t n) {
    return reinterpret_cast<HWND>(n * 16);
}

const FileList kA = {u"C:\\a.txt", u"C:\\b c.txt"};
const FileList kB = {u"D:\\other"};

class SelectedFiles : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(SelectedFilesEntryCount(), 0u) << "a test left entries behind"; }
};

TEST_F(SelectedFiles, NullWindowIsNeverRegistered) {
    EXPECT_EQ(RegisterSelectedFiles(nullptr, kA), 0);
    EXPECT_EQ(SelectedFilesEntryCount(), 0u);
    EXPECT_EQ(GetSelectedFiles(nullptr), FileList());
    EXPECT_EQ(UnregisterSelectedFiles(nullptr), 0);
}

TEST_F(SelectedFiles, EachWindowGetsItsOwnList) {
    ASSERT_EQ(RegisterSelectedFiles(Window(1), kA), 1);
    ASSERT_EQ(RegisterSelectedFiles(Window(2), kB), 1);
    EXPECT_EQ(GetSelectedFiles(Window(1)), kA);
    EXPECT_EQ(GetSelectedFiles(Window(2)), kB);
    EXPECT_EQ(GetSelectedFiles(Window(3)), FileList());
    EXPECT_EQ(SelectedFilesEntryCount(), 2u);

    EXPECT_EQ(UnregisterSelectedFiles(Window(1)), 1);
    EXPECT_EQ(UnregisterSelectedFiles(Window(1)), 0);
    EXPECT_EQ(GetSelectedFiles(Window(2)), kB);
    EXPECT_EQ(UnregisterSelectedFiles(Window(2)), 1);
}

TEST_F(SelectedFiles, TheSameWindowTwiceIsServedOldestFirst) {
    ASSERT_EQ(RegisterSelectedFiles(Window(5), kA), 1);
    ASSERT_EQ(RegisterSelectedFiles(Window(5), kB), 1);
    EXPECT_EQ(GetSelectedFiles(Window(5)), kA);
    EXPECT_EQ(UnregisterSelectedFiles(Window(5)), 1);
    EXPECT_EQ(GetSelectedFiles(Window(5)), kB);
    EXPECT_EQ(UnregisterSelectedFiles(Window(5)), 1);
    EXPECT_EQ(GetSelectedFiles(Window(5)), FileList());
    EXPECT_EQ(UnregisterSelectedFiles(Window(5)), 0);
}

TEST_F(SelectedFiles, ListsGoInAndOutAsCopies) {
    {
        FileList given = kA;
        ASSERT_EQ(RegisterSelectedFiles(Window(7), given), 1);
        given[0] = u"changed";
        given.clear();
    }
    FileList got = GetSelectedFiles(Window(7));
    got.push_back(u"extra");
    got[0] = u"changed";
    EXPECT_EQ(GetSelectedFiles(Window(7)), kA);
    EXPECT_EQ(UnregisterSelectedFiles(Window(7)), 1);
}

TEST_F(SelectedFiles, AnEmptyListIsKeptButReadsLikeNone) {
    ASSERT_EQ(RegisterSelectedFiles(Window(9), {}), 1);
    EXPECT_EQ(GetSelectedFiles(Window(9)), FileList());
    EXPECT_EQ(UnregisterSelectedFiles(Window(9)), 1);
}

TEST_F(SelectedFiles, DialogsOnManyThreadsNeverSeeEachOthersLists) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<std::thread> threads;
    std::vector<int> mismatches(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int round = 0; round < kRounds; ++round) {
                const HWND window = Window(1000 + t * kRounds + round);
                const FileList own = {std::u16string(1 + round % 50, static_cast<char16_t>(u'a' + t))};
                RegisterSelectedFiles(window, own);
                if (GetSelectedFiles(window) != own) {
                    ++mismatches[t];
                }
                if (UnregisterSelectedFiles(window) != 1) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

} // namespace
} // namespace pathlift
