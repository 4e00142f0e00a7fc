#pragma once
// Whether Windows 11's menu already shows our packaged Explorer command for a selection, so that a classic entry
// would be a second one.

#include <windows.h>

#include <objidl.h>

#include <string_view>

namespace pathlift {

// True only where Explorer can show the packaged command for every selected item: Windows 11, our package
// registered for this user before this process started, and no drive or share root among the items.
bool PackagedCommandShown(IDataObject* selection) noexcept;

// A drive's root ("C:\"), a share's root ("\\server\share") or a volume's ("\\?\Volume{...}\"), told from the
// text alone: the packaged verb is declared for files and directories, and Explorer offers it for neither.
bool IsDriveOrShareRoot(std::u16string_view path) noexcept;

} // namespace pathlift
