// Entries in the order of registration, oldest first; every operation takes the first entry with the window.
// A selection is shared, never copied: it cannot change, and a Copy that holds it keeps it alive even if its entry
// goes meanwhile. A lock serialises dialogs that run on different shell threads.

#include "selected_files.h"

#include "engine/win/unique_handles.h"

#include <algorithm>
#include <vector>

namespace pathlift {

namespace {

struct SelectedFilesEntry {
    HWND window;
    SharedSelection files;
};

// A slim lock takes nothing from the process; a std::mutex of the static runtime would keep a block and, once two
// threads met on it, an event for good after every unload.
SRWLOCK g_tableLock = SRWLOCK_INIT;
std::vector<SelectedFilesEntry> g_table;

std::vector<SelectedFilesEntry>::iterator Oldest(HWND window) {
    return std::find_if(g_table.begin(), g_table.end(),
                        [window](const SelectedFilesEntry& entry) { return entry.window == window; });
}

} // namespace

int RegisterSelectedFiles(HWND window, SharedSelection files) {
    if (window == nullptr) {
        return 0;
    }
    SelectedFilesEntry entry{window, std::move(files)};
    const SrwExclusiveLock lock(g_tableLock);
    g_table.push_back(std::move(entry)); // on std::bad_alloc the table is as it was
    return 1;
}

SharedSelection GetSelectedFiles(HWND window) {
    if (window == nullptr) {
        return {};
    }
    const SrwExclusiveLock lock(g_tableLock);
    const auto found = Oldest(window);
    return found == g_table.end() ? nullptr : found->files;
}

int UnregisterSelectedFiles(HWND window) {
    if (window == nullptr) {
        return 0;
    }
    SharedSelection released; // freed after the lock is let go
    {
        const SrwExclusiveLock lock(g_tableLock);
        const auto found = Oldest(window);
        if (found == g_table.end()) {
            return 0;
        }
        released = std::move(found->files);
        g_table.erase(found);
    }
    return 1;
}

std::size_t SelectedFilesEntryCount() {
    const SrwExclusiveLock lock(g_tableLock);
    return g_table.size();
}

} // namespace pathlift
