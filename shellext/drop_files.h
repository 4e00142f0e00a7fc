#pragma once
// The selection as the shell hands it over: a CF_HDROP global block, locked while the engine reads it.

#include "engine/drop_files.h"

#include <windows.h>

namespace pathlift {

// 8-bit names in the system's ANSI code page, as DragQueryFileW converts them.
class SystemCodePageDecoder final : public AnsiDecoder {
public:
    std::size_t Decode(const char* text, std::size_t bytes, char16_t* out) noexcept override;
};

// The names of a CF_HDROP block, in order; an empty Selection when the block is null or cannot be locked.
// Throws only std::bad_alloc.
Selection ReadDropFiles(HGLOBAL block);

} // namespace pathlift
