#pragma once
// Plays Explorer with Pathlift.dll: registers the server, creates its context-menu handler from the registered
// class, hands it the shell's own data object for a selection, asks it for its menu entry, invokes the entry and
// then works the copy dialog that opens, as a user would, and reads back what the clipboard holds.

#include "host_options.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace pathlift::tools {

// The handler's key under HKCR\<type>\ShellEx\ContextMenuHandlers.
inline constexpr wchar_t kHandlerName[] = L"Pathlift";

// What the host does once the dialog is open.
enum class DialogAction {
    SetOptionsAndCopy, // set the request's options on the controls, then press Copy
    CopySavedOptions,  // press Copy with the options as the dialog loaded them
    Cancel,            // press Cancel
    LeaveToUser,       // run the dialog's message loop until the user closes it
};

struct ShellHostSettings {
    std::wstring dllPath; // full path of Pathlift.dll
    bool registerServer = true;
    DialogAction action = DialogAction::SetOptionsAndCopy;
    // The menu as Explorer hands it over: this many items of its own first (ids 0x8000 and up, out of the
    // handler's range; the first six named as Explorer names them), and the place and the id range given to
    // QueryContextMenu.
    int existingMenuItems = 0;
    UINT menuIndex = 0;
    UINT firstCommandId = 1;
    UINT lastCommandId = 0x7FFF;
    // How long the dialog may take to go away after Copy or Cancel.
    DWORD closeTimeoutMs = 10000;
    // When not 0, for pictures: the menu is shown as a popup for this long, and the dialog is left on screen this
    // long before it is worked.
    DWORD showMs = 0;
    // Receives one line per step as it happens (the line has no newline); may be empty.
    std::function<void(const std::wstring&)> progress;
};

struct ShellHostResult {
    bool succeeded = false;
    std::wstring error;          // what failed, in words, when !succeeded
    HRESULT failedResult = S_OK; // the result of the call that failed, when a call failed

    std::wstring handlerKey;    // the registry key the class id was read from
    std::wstring classId;       // as stored there
    std::wstring selectionFrom; // which shell call made the data object
    HRESULT queryResult = E_FAIL;
    int menuItemCount = 0; // after QueryContextMenu
    std::wstring menuText;
    int menuPosition = -1;
    UINT menuId = 0;
    HRESULT helpTextResult = E_FAIL;
    std::wstring helpText;
    HWND dialog = nullptr; // gone by the time the result is returned
    HWND dialogOwner = nullptr;
    bool dialogVisible = false;
    bool clipboardHasText = false;
    std::wstring clipboard;
    // "caption: text" of every message box the process showed while the dialog was worked (they are dismissed).
    std::vector<std::wstring> messageBoxes;
};

// The whole run: the request gives the selection and the options, the settings what is done with the dialog. The
// calling thread becomes a single-threaded apartment for the duration; the module is loaded
// and freed again. Safe to call repeatedly in one process.
ShellHostResult RunShellHost(const ShellHostSettings& settings, const HostRequest& request);

} // namespace pathlift::tools
