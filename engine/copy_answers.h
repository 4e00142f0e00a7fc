#pragma once
// The queries of one Copy, asked while its room is found: what they answer is kept for the writing.

#include "name_formatter.h"

#include <limits>
#include <string_view>

namespace pathlift {

inline constexpr std::size_t kNoAnswer = std::numeric_limits<std::size_t>::max();

// The path's entry starts from its answer when it has one, else from the path without its long-path prefix.
std::u16string_view EntrySource(const CopyBuffers& buffers, std::size_t index) noexcept;

// Fills buffers.answers and buffers.answerText for the selection and options already set in buffers. False when
// storage cannot be had; what was kept so far stays for FreeCopyBuffers.
bool FindAnswers(CopyBuffers& buffers, PathQueries& queries) noexcept;

} // namespace pathlift
