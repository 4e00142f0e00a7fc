#pragma once
// The process-wide table from each open copy dialog's window to its own selection.

#include "engine/selection.h"

#include <windows.h>

#include <cstddef>
#include <memory>

namespace pathlift {

// A selection is never changed once made, so the table and a Copy can share one without copying it.
using SharedSelection = std::shared_ptr<const Selection>;

// 1: a new entry at the end holds the selection; 0: null window. std::bad_alloc leaves the table unchanged.
int RegisterSelectedFiles(HWND window, SharedSelection files);
// The oldest entry's selection for this window; null when there is none.
SharedSelection GetSelectedFiles(HWND window);
// 1: the oldest entry for this window was removed; 0: null window or no entry.
int UnregisterSelectedFiles(HWND window);

std::size_t SelectedFilesEntryCount();

} // namespace pathlift
