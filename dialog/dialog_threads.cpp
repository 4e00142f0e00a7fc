// One owner for the state the copy dialogs keep per thread, so that a thread that ends gives all of it back at once,
// and for the module reference that outlives a host which unloads the module while a dialog is still open (a
// program whose CoUninitialize unloads every DLL of the thread, without asking DllCanUnloadNow).
//
// Platform calls that may take the loader lock (GetModuleHandleExW, FreeLibrary) are made outside this lock:
// ForgetEndingThread takes it while the loader lock is held.

#include "dialog_threads.h"

#include "selected_files.h"

#include <algorithm>
#include <vector>

namespace pathlift {

namespace {

struct OpenDialog {
    HWND window;
    DWORD thread;
};

struct ThreadHook {
    DWORD thread;
    HHOOK hook;
    long users;
};

// A slim reader/writer lock needs no set-up and no memory, so it is safe wherever this module runs.
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<OpenDialog> g_dialogs;
std::vector<ThreadHook> g_hooks;
HMODULE g_heldModule = nullptr; // the reference taken by the first dialog, given back once nothing is left

// The records change and are read rarely, so one exclusive lock serves both.
class Lock {
public:
    Lock() noexcept { AcquireSRWLockExclusive(&g_lock); }
    ~Lock() { ReleaseSRWLockExclusive(&g_lock); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

std::vector<ThreadHook>::iterator HookOf(DWORD thread) {
    return std::find_if(g_hooks.begin(), g_hooks.end(), [thread](const ThreadHook& h) { return h.thread == thread; });
}

// Removes one dialog of the thread and gives back its window, or null when the thread has none left.
HWND TakeDialogOf(DWORD thread) noexcept {
    const Lock lock;
    const auto found =
        std::find_if(g_dialogs.begin(), g_dialogs.end(), [thread](const OpenDialog& d) { return d.thread == thread; });
    if (found == g_dialogs.end()) {
        return nullptr;
    }
    const HWND window = found->window;
    g_dialogs.erase(found);
    return window;
}

} // namespace

bool AddOpenDialog(HWND dialog) noexcept {
    // A reference of the dialog's own, taken before the lock: the loader takes its lock for it.
    HMODULE reference = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&AddOpenDialog), &reference);
    bool added = false;
    {
        const Lock lock;
        try {
            g_dialogs.push_back({dialog, GetCurrentThreadId()});
            added = true;
        } catch (...) {
        }
        if (added && g_heldModule == nullptr) {
            g_heldModule = reference; // kept until the unload question finds nothing left
            reference = nullptr;
        }
    }
    if (reference != nullptr) {
        FreeLibrary(reference); // an extra one: the kept reference, or the caller's, holds the module
    }
    return added;
}

bool RemoveOpenDialog(HWND dialog) noexcept {
    const Lock lock;
    const DWORD thread = GetCurrentThreadId();
    const auto found = std::find_if(g_dialogs.begin(), g_dialogs.end(), [dialog, thread](const OpenDialog& d) {
        return d.window == dialog && d.thread == thread;
    });
    if (found == g_dialogs.end()) {
        return false;
    }
    g_dialogs.erase(found);
    return true;
}

long OpenCopyDialogCount() noexcept {
    const Lock lock;
    return static_cast<long>(g_dialogs.size());
}

bool AddKeyboardUser(HHOOK (*install)()) noexcept {
    const Lock lock;
    const DWORD thread = GetCurrentThreadId();
    if (const auto found = HookOf(thread); found != g_hooks.end()) {
        ++found->users;
        return true;
    }
    const HHOOK hook = install();
    if (hook == nullptr) {
        return false;
    }
    try {
        g_hooks.push_back({thread, hook, 1});
    } catch (...) {
        UnhookWindowsHookEx(hook);
        return false;
    }
    return true;
}

HHOOK RemoveKeyboardUser() noexcept {
    const Lock lock;
    const auto found = HookOf(GetCurrentThreadId());
    if (found == g_hooks.end() || --found->users > 0) {
        return nullptr;
    }
    const HHOOK hook = found->hook;
    g_hooks.erase(found);
    return hook;
}

long KeyboardHookCount() noexcept {
    const Lock lock;
    return static_cast<long>(g_hooks.size());
}

// The thread's windows and its hook go with the thread, so nothing here calls the window manager: only the
// records and the selections of its dialogs are given back, one dialog at a time, without allocating.
void ForgetEndingThread() noexcept {
    const DWORD thread = GetCurrentThreadId();
    for (HWND window = TakeDialogOf(thread); window != nullptr; window = TakeDialogOf(thread)) {
        try {
            UnregisterSelectedFiles(window); // a later window with the same handle must not find this selection
        } catch (...) {
        }
    }
    const Lock lock;
    if (const auto found = HookOf(thread); found != g_hooks.end()) {
        g_hooks.erase(found);
    }
}

bool LetGoOfModuleWhenUnused(bool objectsAlive) noexcept {
    HMODULE release = nullptr;
    bool unused = false;
    {
        const Lock lock;
        unused = !objectsAlive && g_dialogs.empty() && g_hooks.empty();
        if (unused) {
            release = g_heldModule;
            g_heldModule = nullptr;
        }
    }
    if (release != nullptr) {
        FreeLibrary(release); // the caller's own reference keeps the module mapped until it lets go itself
    }
    return unused;
}

} // namespace pathlift
