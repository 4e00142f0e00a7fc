#pragma once
// The selection as the shell numbers it: one absolute path per selected item.

#include <string>
#include <vector>

namespace pathlift {

using FileList = std::vector<std::u16string>;

// Longest path the shell hands over: it is read through a buffer of 32767 characters, terminator included.
inline constexpr std::size_t kMaxPathLength = 32766;

} // namespace pathlift
