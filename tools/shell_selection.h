#pragma once
// The selection as the shell hands it to a context-menu handler: a data object for the given paths.

#include "shell_host_handles.h"

#include "engine/file_list.h"

#include <windows.h>

#include <objidl.h>

#include <string>

namespace pathlift::tools {

struct ShellSelection {
    ComPtr<IDataObject> dataObject;
    std::wstring madeBy;
    std::wstring error;
    HRESULT failedResult = S_OK;
};

// The shell's data object for the paths (made absolute first), taken only when its CF_HDROP names exactly those
// items in order: IShellFolder::GetUIObjectOf over the common parent when every item has the same one, otherwise
// SHCreateDataObject and then CIDLData_CreateFromIDArray over the items' full id lists; when none of them names
// the selection (Wine 8 for items of different folders), the host's own object with the same two formats. COM
// must be initialised on the calling thread.
ShellSelection CreateShellSelection(const FileList& paths);

} // namespace pathlift::tools
