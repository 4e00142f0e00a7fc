#pragma once
// The command-line flags of the tools that play the user: which options to set and which files to select.

#include "engine/copy_options.h"
#include "engine/file_list.h"

#include <string>
#include <vector>

namespace pathlift::tools {

struct HostRequest {
    CopyOptions options;
    FileList files;
    std::size_t generate = 0; // select this many made-up paths instead of files
    bool interactive = false; // leave the dialog to the user instead of pressing Copy
    bool help = false;
    std::wstring error; // set when the flags cannot be understood
};

// Flags: --mode full|name|unc, --short, --no-extension, --space-as-%20, --quote never|always|if-space,
// --dir-separator '\' | '/' | '\\', --separator crlf|';'|space|tab, --case keep|upper|lower, --interactive,
// --generate N (N made-up paths instead of files).
// Every other argument is a path to select.
HostRequest ParseHostArguments(const std::vector<std::wstring>& arguments);

const wchar_t* HostUsage();

} // namespace pathlift::tools
