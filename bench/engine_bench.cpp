// The engine's two bulk steps against memcpy of the same bytes, in the same run: the name formatter writing the
// text of n paths, and the CF_HDROP reader turning a block of n names into a selection.

#include "engine/drop_files.h"
#include "engine/name_formatter.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace pathlift {
namespace {

// 58 characters, as the shell host's generated selection has them.
std::u16string Path(std::size_t index) {
    std::u16string path = uR"(C:\Users\someone\Documents\Report\archive\item-)";
    const std::string number = std::to_string(1000000 + index);
    path.append(number.begin(), number.end());
    return path + u".txt";
}

const Selection& Paths(std::size_t count) {
    static std::size_t made = 0;
    static Selection selection;
    if (made != count) {
        FileList paths;
        for (std::size_t i = 0; i < count; ++i) {
            paths.push_back(Path(i));
        }
        selection = Selection::FromList(paths);
        made = count;
    }
    return selection;
}

// A local disk: neither query ever answers.
class NoAnswers final : public PathQueries {
public:
    bool UniversalName(const char16_t*, char16_t*, std::size_t) override { return false; }
    bool ShortPath(const char16_t*, char16_t*, std::size_t) override { return false; }
};

void Format(benchmark::State& state, const CopyOptions& options) {
    const Selection& files = Paths(static_cast<std::size_t>(state.range(0)));
    NoAnswers queries;
    // The text goes where the clipboard's block would be: reserved, and its pages touched, outside the timing.
    std::vector<char16_t> out;
    {
        CopyBuffers sizing;
        if (!AllocateCopyBuffers(files, options, queries, sizing)) {
            state.SkipWithError("no storage");
            return;
        }
        out.assign(sizing.textLength + 1, u'x');
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        CopyBuffers buffers;
        AllocateCopyBuffers(files, options, queries, buffers);
        FormatFileList(buffers, out.data());
        bytes = buffers.textLength * sizeof(char16_t);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["text_bytes"] = static_cast<double>(bytes);
}

void FormatDefaults(benchmark::State& state) {
    Format(state, {});
}

void FormatEveryOption(benchmark::State& state) {
    Format(state, {.Mode = kModeUniversal,
                   .ShortName = 1,
                   .NoExtension = 1,
                   .ConvertSpace = 1,
                   .WQuotation = kQuoteAlways,
                   .DirectorySepalator = kSeparatorDoubleBackslash,
                   .FileSeparator = u";",
                   .ConvertUpLower = kCaseUpper});
}

// memcpy of as many bytes as the default text of the same paths has.
void MemcpyText(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::size_t bytes = (Paths(count).TextLength() + 2 * (count - 1)) * sizeof(char16_t);
    std::vector<char> from(bytes, 'x');
    std::vector<char> to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

std::vector<unsigned char> DropBlock(std::size_t count) {
    std::vector<unsigned char> block(kDropFilesHeaderSize, 0);
    block[0] = kDropFilesHeaderSize;
    block[kDropFilesWideOffset] = 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::u16string path = Path(i) + u'\0';
        const auto* bytes = reinterpret_cast<const unsigned char*>(path.data());
        block.insert(block.end(), bytes, bytes + path.size() * sizeof(char16_t));
    }
    block.push_back(0);
    block.push_back(0);
    return block;
}

void ReadDropBlock(benchmark::State& state) {
    const std::vector<unsigned char> block = DropBlock(static_cast<std::size_t>(state.range(0)));
    Latin1Decoder ansi;
    for (auto _ : state) {
        Selection selection = ReadDropFiles(block.data(), block.size(), ansi);
        benchmark::DoNotOptimize(selection.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}

// memcpy of the block into fresh storage, as the reader has to reserve its own.
void MemcpyBlock(benchmark::State& state) {
    const std::vector<unsigned char> block = DropBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::vector<unsigned char> copy(block.size());
        std::memcpy(copy.data(), block.data(), block.size());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}

#define PATHLIFT_SIZES ->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond)
BENCHMARK(FormatDefaults) PATHLIFT_SIZES;
BENCHMARK(FormatEveryOption) PATHLIFT_SIZES;
BENCHMARK(MemcpyText) PATHLIFT_SIZES;
BENCHMARK(ReadDropBlock) PATHLIFT_SIZES;
BENCHMARK(MemcpyBlock) PATHLIFT_SIZES;

} // namespace
} // namespace pathlift

BENCHMARK_MAIN();
