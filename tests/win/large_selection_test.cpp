// A very large selection formatted inside the DLL's own kind of process (32-bit on i686): it must fit.

#include "engine/win/system_path_queries.h"

#include "tests/support/fake_path_queries.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <chrono>
#include <cstdio>

namespace pathlift {
namespace {

FileList SixtyCharacterPaths(std::size_t count) {
    FileList files;
    files.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        char16_t number[16];
        std::size_t n = 0;
        for (std::size_t v = i + 1000000; v != 0; v /= 10) {
            number[n++] = static_cast<char16_t>(u'0' + v % 10);
        }
        std::u16string path = uR"(C:\Users\someone\Documents\Work\archive 260\item-)";
        while (n != 0) {
            path += number[--n];
        }
        path += u".txt";
        files.push_back(std::move(path));
    }
    return files;
}

TEST(LargeSelection, HundredThousandPathsBecomeOneText) {
    const FileList files = SixtyCharacterPaths(100000);
    ASSERT_EQ(files[0].size(), 60u);
    CopyOptions options;
    options.WQuotation = kQuoteIfSpace;
    options.DirectorySepalator = kSeparatorSlash;
    SystemPathQueries system;

    const auto start = std::chrono::steady_clock::now();
    const Selection selection = Selection::FromList(files);
    CopyBuffers buffers;
    ASSERT_TRUE(AllocateCopyBuffers(selection, options, system, buffers));
    std::u16string text(buffers.textLength + 1, u'?');
    FormatFileList(buffers, text.data());
    text.pop_back();
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(text.size(), files.size() * (60 + 2) + (files.size() - 1) * 2);
    EXPECT_EQ(std::u16string_view(text).substr(0, 64),
              uR"("C:/Users/someone/Documents/Work/archive 260/item-1000000.txt")"
              u"\r\n");
    EXPECT_EQ(std::u16string_view(text).substr(text.size() - 62),
              uR"("C:/Users/someone/Documents/Work/archive 260/item-1099999.txt")");

    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("100000 paths: %.2f s, peak working set %.1f MiB, %u-bit process\n", elapsed,
                memory.PeakWorkingSetSize / 1048576.0, static_cast<unsigned>(sizeof(void*) * 8));
    // The whole test process, selection copies included, stays far below a 32-bit process's 2 GiB.
    EXPECT_LT(memory.PeakWorkingSetSize, 256u * 1024 * 1024);
}

} // namespace
} // namespace pathlift
