#pragma once
// Self-registration: the class key, the handler keys for all files and folders, and the approval value.

#include <windows.h>

namespace pathlift {

// Removes name below parent with every key under it; 0 when name could not be opened, 1 otherwise. A sub-key that
// cannot be removed is skipped, so the walk always ends, and everything removable is removed.
int DeleteRegistryKeyTree(HKEY parent, const wchar_t* name);

} // namespace pathlift
