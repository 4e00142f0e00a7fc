#pragma once
// Shows a context menu as Explorer does, as a real popup menu, for a while: for pictures of the menu entry.

#include <windows.h>

namespace pathlift::tools {

// Shows the menu at the given screen point with TrackPopupMenuEx and closes it again after the given time,
// choosing nothing. Returns once the menu is gone.
void ShowPopupMenu(HMENU menu, POINT at, DWORD showMs);

} // namespace pathlift::tools
