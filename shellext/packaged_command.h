#pragma once
// Whether Windows 11's menu already shows our packaged Explorer command for a selection, so that a classic entry
// would be a second one.

#include <windows.h>

#include <shtypes.h>

#include <string_view>

namespace pathlift {

// True only where Explorer shows the packaged command for the selection: Windows 11, this process is Explorer, our
// package registered for this user before this process started, and the selection's folder (Initialize's) a
// file-system folder, whose items are files and folders. Answered without looking at the items themselves.
bool PackagedCommandShown(PCIDLIST_ABSOLUTE folder) noexcept;

// Whether the items of the folder at `path` are files and folders: the path is a drive's, a share's or a volume's
// root or a folder under one ("C:\", "\\server\share", "\\?\Volume{...}\"), told from the text alone. A
// server's items are shares and This PC's are drives, whose roots Explorer offers no packaged file or directory
// verb for.
bool ItemsAreFilesAndFolders(std::u16string_view path) noexcept;

} // namespace pathlift
