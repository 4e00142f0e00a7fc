// The CF_HDROP reader on any block: any header, offset, size and content, wide and 8-bit, with code-page decoders
// that convert, grow the text, fail, or answer differently the second time. Every name must be one the block
// holds whole, terminator included, at or after the header's offset: never a character from past the block's end.

#include "fuzz/fuzz_input.h"

#include "engine/drop_files.h"

#include <cstring>
#include <string>
#include <vector>

namespace pathlift::fuzzing {

namespace {

enum class Decoding { Latin1, Doubled, FailOnFF, Inconsistent };

// Latin1: one unit per byte. Doubled: two units per byte, the most the reader promises room for. FailOnFF: no
// conversion for text holding 0xFF. Inconsistent: Latin1 and Doubled by turns.
class FuzzDecoder final : public AnsiDecoder {
public:
    explicit FuzzDecoder(Decoding decoding) noexcept : decoding_(decoding) {}

    std::size_t Decode(const char* text, std::size_t bytes, char16_t* out) noexcept override {
        const bool doubled = decoding_ == Decoding::Doubled || (decoding_ == Decoding::Inconsistent && (calls_ & 1));
        ++calls_;
        if (decoding_ == Decoding::FailOnFF && std::memchr(text, 0xFF, bytes) != nullptr) {
            return kFailed;
        }
        std::size_t n = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            const auto unit = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
            out[n++] = unit;
            if (doubled) {
                out[n++] = unit;
            }
        }
        return n;
    }

private:
    Decoding decoding_;
    unsigned calls_ = 0;
};

std::uint32_t Load32(const std::uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The names the block holds, read the slow and obvious way: unit by unit, or byte by byte through the decoding.
std::vector<std::u16string> Expected(const std::uint8_t* block, std::size_t size, Decoding decoding) {
    std::vector<std::u16string> names;
    if (size < kDropFilesHeaderSize) {
        return names;
    }
    const std::size_t offset = Load32(block);
    if (offset < kDropFilesHeaderSize || offset >= size) {
        return names;
    }
    const bool wide = Load32(block + kDropFilesWideOffset) != 0;
    const std::size_t width = wide ? 2 : 1;
    const std::size_t characters = (size - offset) / width;
    std::u16string name;
    for (std::size_t i = 0; i < characters; ++i) {
        const std::uint8_t* at = block + offset + i * width;
        const auto c = static_cast<char16_t>(wide ? at[0] | at[1] << 8 : at[0]);
        if (c != u'\0') {
            name.push_back(c);
            if (!wide && decoding == Decoding::Doubled) {
                name.push_back(c);
            }
            continue;
        }
        if (name.empty()) {
            break;
        }
        // The decoder sees no more of a name than can reach its kept units: four bytes for each.
        if (!wide && decoding == Decoding::FailOnFF && name.find(u'\xFF') < 4 * (kMaxPathLength + 1)) {
            break;
        }
        names.push_back(name.substr(0, kMaxPathLength));
        name.clear();
    }
    return names;
}

} // namespace

} // namespace pathlift::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pathlift;
    using namespace pathlift::fuzzing;
    FuzzInput in(data, size);
    const auto decoding = static_cast<Decoding>(in.Byte() % 4);
    std::size_t blockSize = 0;
    const std::uint8_t* rest = in.Rest(blockSize);
    // A block of its own, exactly as large as it says, so a read past its end is caught at once.
    const std::vector<std::uint8_t> block(rest, rest + blockSize);
    FuzzDecoder decoder(decoding);

    const Selection selection = ReadDropFiles(block.data(), block.size(), decoder);

    const std::vector<std::u16string> expected = Expected(block.data(), block.size(), decoding);
    std::size_t longest = 0;
    for (std::size_t i = 0; i < selection.size(); ++i) {
        Require(!selection[i].empty() && selection[i].size() <= kMaxPathLength, "a name has 1 to 32766 units");
        Require(selection[i].find(u'\0') == std::u16string_view::npos, "a name holds no terminator");
        longest = std::max(longest, selection[i].size());
    }
    Require(selection.LongestPath() == longest, "the longest path is the longest name");
    if (decoding == Decoding::Inconsistent) {
        // Two answers for one name: the names are not known, but they never outnumber those the block holds.
        Require(selection.size() <= expected.size(), "no more names than the block holds");
        return 0;
    }
    Require(selection.size() == expected.size(), "every complete name is read, and only those");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        Require(selection[i] == expected[i], "each name is the block's own, whole or cut at 32766 units");
    }
    return 0;
}
