// Which radio button of the copy dialog stands for which option value. The dialog shows and reads the options
// through these tables; anything that drives the dialog from outside finds the button to click in them too.
#pragma once

#include "engine/copy_options.h"
#include "res/resource.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pathlift {

struct OptionControl {
    int control;
    std::uint32_t value;
};

inline constexpr OptionControl kModeControls[] = {
    {IDC_RADIO_PATH, kModeFullPath}, {IDC_RADIO_FILENAME, kModeFileName}, {IDC_RADIO_UNCPATH, kModeUniversal}};
inline constexpr OptionControl kQuoteControls[] = {
    {IDC_RADIO_QUOTE, kQuoteAlways}, {IDC_RADIO_NOQUOTE, kQuoteNever}, {IDC_RADIO_QUOTE_IFSPACE, kQuoteIfSpace}};
inline constexpr OptionControl kDirectorySeparatorControls[] = {{IDC_RADIO_BACKSLASH, kSeparatorBackslash},
                                                                {IDC_RADIO_SLASH, kSeparatorSlash},
                                                                {IDC_RADIO_DOUBLEBACKSLASH, kSeparatorDoubleBackslash}};
// The value is an index into kFileSeparators.
inline constexpr OptionControl kFileSeparatorControls[] = {
    {IDC_RADIO_NEWLINE, 0}, {IDC_RADIO_SEMICOLON, 1}, {IDC_RADIO_SPACE, 2}, {IDC_RADIO_TAB, 3}};
inline constexpr OptionControl kCaseControls[] = {
    {IDC_RADIO_NOCONVERT, kCaseUnchanged}, {IDC_RADIO_UPPER, kCaseUpper}, {IDC_RADIO_LOWER, kCaseLower}};

// The control that stands for value, or 0 when none does.
template <std::size_t N> constexpr int ControlFor(const OptionControl (&controls)[N], std::uint32_t value) {
    for (const OptionControl& entry : controls) {
        if (entry.value == value) {
            return entry.control;
        }
    }
    return 0;
}

// The control of the item separator text, or 0 when it is none of the four the dialog offers.
inline int FileSeparatorControl(const std::u16string& separator) {
    for (const OptionControl& entry : kFileSeparatorControls) {
        if (separator == kFileSeparators[entry.value]) {
            return entry.control;
        }
    }
    return 0;
}

} // namespace pathlift
