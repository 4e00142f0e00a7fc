#pragma once
// The eight user choices that decide how the selected paths become clipboard text.

#include <cstdint>
#include <string>
#include <string_view>

namespace pathlift {

enum : std::uint32_t { kModeFullPath = 1, kModeFileName = 2, kModeUniversal = 3 };
enum : std::uint32_t { kQuoteNever = 0, kQuoteAlways = 1, kQuoteIfSpace = 2 };
enum : std::uint32_t { kSeparatorBackslash = 1, kSeparatorSlash = 2, kSeparatorDoubleBackslash = 3 };
enum : std::uint32_t { kCaseUnchanged = 0, kCaseUpper = 1, kCaseLower = 2 };

// Field names follow the registry values that store them, spelling included.
struct CopyOptions {
    std::uint32_t Mode = kModeFullPath;
    std::uint32_t ShortName = 0;
    std::uint32_t NoExtension = 0;
    std::uint32_t ConvertSpace = 0;
    std::uint32_t WQuotation = kQuoteNever;
    std::uint32_t DirectorySepalator = kSeparatorBackslash;
    std::u16string FileSeparator = u"\r\n";
    std::uint32_t ConvertUpLower = kCaseUnchanged;

    friend bool operator==(const CopyOptions&, const CopyOptions&) = default;
};

// The separators a user can choose; anything else is never used as one.
inline constexpr std::u16string_view kFileSeparators[] = {u"\r\n", u";", u" ", u"\t"};

std::uint32_t NormaliseMode(std::uint32_t value) noexcept;
std::uint32_t NormaliseQuotation(std::uint32_t value) noexcept;
std::uint32_t NormaliseDirectorySeparator(std::uint32_t value) noexcept;
std::uint32_t NormaliseCaseConversion(std::uint32_t value) noexcept;
bool IsFileSeparator(std::u16string_view text) noexcept;
std::u16string NormaliseFileSeparator(std::u16string_view text);

// Maps every field that is out of range to its default, each field on its own.
void Normalise(CopyOptions& options);

} // namespace pathlift
