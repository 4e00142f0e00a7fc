// The selected-files table: shared selections, oldest entry first, null windows, and several threads at once.

#include "dialog/selected_files.h"

#include <gtest/gtest.h>

#include <memory>
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

SharedSelection Shared(const FileList& paths) {
    return std::make_shared<const Selection>(Selection::FromList(paths));
}
FileList Got(HWND window) {
    const SharedSelection files = GetSelectedFiles(window);
    return files != nullptr ? files->ToList() : FileList();
}

class SelectedFiles : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(SelectedFilesEntryCount(), 0u) << "a test left entries behind"; }
};

TEST_F(SelectedFiles, NullWindowIsNeverRegistered) {
    EXPECT_EQ(RegisterSelectedFiles(nullptr, Shared(kA)), 0);
    EXPECT_EQ(SelectedFilesEntryCount(), 0u);
    EXPECT_EQ(Got(nullptr), FileList());
    EXPECT_EQ(UnregisterSelectedFiles(nullptr), 0);
}

TEST_F(SelectedFiles, EachWindowGetsItsOwnList) {
    ASSERT_EQ(RegisterSelectedFiles(Window(1), Shared(kA)), 1);
    ASSERT_EQ(RegisterSelectedFiles(Window(2), Shared(kB)), 1);
    EXPECT_EQ(Got(Window(1)), kA);
    EXPECT_EQ(Got(Window(2)), kB);
    EXPECT_EQ(Got(Window(3)), FileList());
    EXPECT_EQ(SelectedFilesEntryCount(), 2u);

    EXPECT_EQ(UnregisterSelectedFiles(Window(1)), 1);
    EXPECT_EQ(UnregisterSelectedFiles(Window(1)), 0);
    EXPECT_EQ(Got(Window(2)), kB);
    EXPECT_EQ(UnregisterSelectedFiles(Window(2)), 1);
}

TEST_F(SelectedFiles, TheSameWindowTwiceIsServedOldestFirst) {
    ASSERT_EQ(RegisterSelectedFiles(Window(5), Shared(kA)), 1);
    ASSERT_EQ(RegisterSelectedFiles(Window(5), Shared(kB)), 1);
    EXPECT_EQ(Got(Window(5)), kA);
    EXPECT_EQ(UnregisterSelectedFiles(Window(5)), 1);
    EXPECT_EQ(Got(Window(5)), kB);
    EXPECT_EQ(UnregisterSelectedFiles(Window(5)), 1);
    EXPECT_EQ(Got(Window(5)), FileList());
    EXPECT_EQ(UnregisterSelectedFiles(Window(5)), 0);
}

TEST_F(SelectedFiles, ASelectionHeldByACopyOutlivesItsEntry) {
    ASSERT_EQ(RegisterSelectedFiles(Window(7), Shared(kA)), 1);
    const SharedSelection held = GetSelectedFiles(Window(7));
    EXPECT_EQ(GetSelectedFiles(Window(7)), held) << "shared, not copied";
    EXPECT_EQ(UnregisterSelectedFiles(Window(7)), 1);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->ToList(), kA);
}

TEST_F(SelectedFiles, AnEmptyListIsKeptButReadsLikeNone) {
    ASSERT_EQ(RegisterSelectedFiles(Window(9), nullptr), 1);
    EXPECT_EQ(Got(Window(9)), FileList());
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
                RegisterSelectedFiles(window, Shared(own));
                if (Got(window) != own) {
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
