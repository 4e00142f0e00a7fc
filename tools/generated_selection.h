#pragma once
// A made-up selection of any size for measuring: paths of 58 characters that need not exist, handed over as the
// CF_HDROP of a data object of its own.

#include "shell_host_handles.h"

#include <windows.h>

#include <objidl.h>

#include <cstddef>
#include <string>

namespace pathlift::tools {

// "C:\Users\someone\Documents\Report\archive\item-1000000.txt" for index 0, the number counting up.
std::wstring GeneratedPath(std::size_t index);

// The text a Copy with the default options gives for the first count generated paths.
std::wstring GeneratedText(std::size_t count);

// A data object whose CF_HDROP names the first count generated paths: one block, rendered here and lent to every
// GetData; null when there is no memory for it.
ComPtr<IDataObject> CreateGeneratedDataObject(std::size_t count);

} // namespace pathlift::tools
