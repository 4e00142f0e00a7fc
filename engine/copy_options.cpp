// Defaults and the mapping of stored values that are out of range.

#include "copy_options.h"

#include <algorithm>

namespace pathlift {

std::uint32_t NormaliseMode(std::uint32_t value) noexcept {
    return value >= kModeFullPath && value <= kModeUniversal ? value : kModeFullPath;
}

std::uint32_t NormaliseQuotation(std::uint32_t value) noexcept {
    return value <= kQuoteIfSpace ? value : kQuoteNever;
}

std::uint32_t NormaliseDirectorySeparator(std::uint32_t value) noexcept {
    return value >= kSeparatorBackslash && value <= kSeparatorDoubleBackslash ? value : kSeparatorBackslash;
}

std::uint32_t NormaliseCaseConversion(std::uint32_t value) noexcept {
    return value <= kCaseLower ? value : kCaseUnchanged;
}

bool IsFileSeparator(std::u16string_view text) noexcept {
    return std::find(std::begin(kFileSeparators), std::end(kFileSeparators), text) != std::end(kFileSeparators);
}

std::u16string NormaliseFileSeparator(std::u16string_view text) {
    return std::u16string(IsFileSeparator(text) ? text : kFileSeparators[0]);
}

// The flags are used as stored: any non-zero value means on.
void Normalise(CopyOptions& options) {
    options.Mode = NormaliseMode(options.Mode);
    options.WQuotation = NormaliseQuotation(options.WQuotation);
    options.DirectorySepalator = NormaliseDirectorySeparator(options.DirectorySepalator);
    if (!IsFileSeparator(options.FileSeparator)) {
        options.FileSeparator = kFileSeparators[0];
    }
    options.ConvertUpLower = NormaliseCaseConversion(options.ConvertUpLower);
}

} // namespace pathlift
