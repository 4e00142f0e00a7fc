#pragma once
// The selection as the shell hands it over: a CF_HDROP block read straight, in one pass, never past its end.

#include "engine/file_list.h"

#include <windows.h>

#include <cstddef>

namespace pathlift {

// Appends the names of a CF_HDROP block (a DROPFILES header followed by the names) to files, in order.
void AppendDropFiles(HGLOBAL block, FileList& files);

// The same for a block already in memory: data is its first byte, size its length in bytes; nothing at or past
// data + size is read. Throws only std::bad_alloc, and then leaves files as it was.
void AppendDropFileNames(const void* data, std::size_t size, FileList& files);

} // namespace pathlift
