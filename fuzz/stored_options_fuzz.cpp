// Loading the copy options from whatever the registry holds: each value missing or present with any size and
// bytes, read as RegQueryValueExW reads it (data larger than the buffer fails). Reads ask for no type, so the type
// of a stored value plays no part. Every option must come out in range, and a value stored whole and in range must
// come out unchanged.

#include "fuzz/fuzz_input.h"

#include "engine/stored_options.h"

#include <cstring>
#include <vector>

namespace pathlift::fuzzing {

namespace {

struct StoredValue {
    bool present = false;
    std::vector<std::uint8_t> data;
};

// The registry's answers: a value that is missing or larger than the buffer fails, and a failed read leaves the
// buffer as the platform may, scribbled on.
class StoredValues final : public StoredOptionReader {
public:
    StoredValue values[kStoredOptionCount];
    std::vector<StoredOption> asked;

    bool Read(StoredOption option, void* buffer, std::size_t& size) override {
        asked.push_back(option);
        const StoredValue& value = values[static_cast<std::size_t>(option)];
        if (!value.present || value.data.size() > size) {
            std::memset(buffer, 0xA5, size);
            if (value.present) {
                size = value.data.size();
            }
            return false;
        }
        if (!value.data.empty()) {
            std::memcpy(buffer, value.data.data(), value.data.size());
        }
        size = value.data.size();
        return true;
    }
};

// What a successful read of a DWORD option gives: the stored bytes, little-endian, in a zeroed buffer.
bool StoredDword(const StoredValue& value, std::uint32_t& out) {
    if (!value.present || value.data.size() > kStoredDwordBytes) {
        return false;
    }
    out = 0;
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        out |= static_cast<std::uint32_t>(value.data[i]) << (8 * i);
    }
    return true;
}

void RequireDword(const StoredValue& value, std::uint32_t loaded, std::uint32_t first, std::uint32_t last,
                  std::uint32_t fallback, const char* property) {
    Require(loaded >= first && loaded <= last, property);
    std::uint32_t stored = 0;
    const bool kept = StoredDword(value, stored) && stored >= first && stored <= last;
    Require(loaded == (kept ? stored : fallback), "a value stored whole and in range is kept, any other defaults");
}

} // namespace

} // namespace pathlift::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pathlift;
    using namespace pathlift::fuzzing;
    FuzzInput in(data, size);
    StoredValues stored;
    for (StoredValue& value : stored.values) {
        const std::uint8_t b = in.Byte();
        value.present = (b & 0x80) == 0;
        // Mostly around the buffer sizes, sometimes far larger.
        const std::size_t bytes = (b & 0x40) != 0 ? in.Upto(65536) : b % 11u;
        for (std::size_t i = 0; i < bytes; ++i) {
            value.data.push_back(in.Byte());
        }
    }

    const CopyOptions options = LoadStoredOptions(stored);

    Require(stored.asked.size() == kStoredOptionCount, "each value is read once");
    for (std::size_t i = 0; i < stored.asked.size(); ++i) {
        Require(stored.asked[i] == static_cast<StoredOption>(i), "the values are read in their stored order");
    }
    const auto& v = stored.values;
    RequireDword(v[0], options.Mode, kModeFullPath, kModeUniversal, kModeFullPath, "Mode is 1 to 3");
    RequireDword(v[4], options.WQuotation, kQuoteNever, kQuoteIfSpace, kQuoteNever, "WQuotation is 0 to 2");
    RequireDword(v[5], options.DirectorySepalator, kSeparatorBackslash, kSeparatorDoubleBackslash, kSeparatorBackslash,
                 "DirectorySepalator is 1 to 3");
    RequireDword(v[7], options.ConvertUpLower, kCaseUnchanged, kCaseLower, kCaseUnchanged, "ConvertUpLower is 0 to 2");
    // A flag is used as stored, any value being "on".
    RequireDword(v[1], options.ShortName, 0, UINT32_MAX, 0, "ShortName is any value");
    RequireDword(v[2], options.NoExtension, 0, UINT32_MAX, 0, "NoExtension is any value");
    RequireDword(v[3], options.ConvertSpace, 0, UINT32_MAX, 0, "ConvertSpace is any value");

    Require(IsFileSeparator(options.FileSeparator), "FileSeparator is one of the four");
    const StoredValue& separator = v[6];
    if (separator.present && separator.data.size() <= kStoredSeparatorBytes) {
        // Read into a zeroed buffer of four units: an odd last byte is the low half of a unit.
        std::uint8_t bytes[kStoredSeparatorBytes] = {};
        if (!separator.data.empty()) {
            std::memcpy(bytes, separator.data.data(), separator.data.size());
        }
        std::u16string text;
        for (std::size_t i = 0; i < sizeof(bytes) && (bytes[i] | bytes[i + 1]) != 0; i += 2) {
            text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
        }
        Require(!IsFileSeparator(text) || options.FileSeparator == text, "a stored separator of the four is kept");
    }
    CopyOptions again = options;
    Normalise(again);
    Require(again == options, "loaded options are already normal");
    return 0;
}
