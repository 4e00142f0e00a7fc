#pragma once
// A data object for items of different folders, offered in the two formats the shell gives its context-menu
// handlers: CF_HDROP (DROPFILES with wide paths) and CFSTR_SHELLIDLIST (a CIDA of the desktop and each item's full
// id list). The host uses it where the system's own data object cannot name such a selection (Wine 8).

#include "shell_host_handles.h"

#include <windows.h>

#include <objidl.h>

#include <string>
#include <vector>

namespace pathlift::tools {

// items: absolute id lists (copied); paths: their file-system paths, in the same order.
ComPtr<IDataObject> CreateItemsDataObject(const std::vector<const ITEMIDLIST*>& items,
                                          const std::vector<std::wstring>& paths);

// The paths a data object gives as CF_HDROP, in order; empty when it gives none.
std::vector<std::wstring> DroppedPaths(IDataObject& dataObject);

} // namespace pathlift::tools
