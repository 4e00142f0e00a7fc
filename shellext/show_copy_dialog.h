#pragma once
// The one way from a selection to the copy dialog, for every kind of menu entry the shell may show.

#include "engine/selection.h"

#include <windows.h>

namespace pathlift {

HRESULT ShowCopyDialog(Selection files) noexcept;

} // namespace pathlift
