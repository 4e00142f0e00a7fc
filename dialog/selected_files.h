#pragma once
// The process-wide table from each open copy dialog's window to its own copy of the selected paths.

#include "engine/file_list.h"

#include <windows.h>

#include <cstddef>

namespace pathlift {

// 1: the list was copied into a new entry at the end; 0: null window. std::bad_alloc leaves the table unchanged.
int RegisterSelectedFiles(HWND window, FileList files);
// A copy of the oldest entry's list for this window; an empty list when there is none.
FileList GetSelectedFiles(HWND window);
// 1: the oldest entry for this window was removed; 0: null window or no entry.
int UnregisterSelectedFiles(HWND window);

std::size_t SelectedFilesEntryCount();

} // namespace pathlift
