// The copy dialog's own thread. It holds a loader reference on this module from before it starts until
// FreeLibraryAndExitThread, so the module's code stays mapped under it whoever else lets go, and the host's process
// reference (SHGetInstanceExplorer), as the shell's own UI threads do, so that a host that waits for its
// references before ending waits for the dialog too. A new thread starts in the process's DPI awareness, and a
// window takes its thread's: the dialog's thread takes the invoking thread's, as the shell's folder windows of a
// mixed-mode Explorer are per-monitor aware where the process is not.

#include "dialog_thread.h"

#include "copy_dialog.h"
#include "display_scale.h"

#include "engine/win/unique_handles.h"
#include "res/resource.h"

#include <shlobj.h>

#include <memory>
#include <new>

namespace pathlift {

namespace {

LONG g_dialogThreads = 0;

// Filled by the dialog thread before it sets `ready`; the starting thread owns both and reads them afterwards.
struct Handshake {
    HANDLE ready = nullptr;
    HRESULT result = E_FAIL;
};

struct ThreadStart {
    HINSTANCE resources;
    CopyDialogStart dialog;
    HMODULE module;                  // the thread's loader reference
    IUnknown* process;               // the host's process reference, or null
    DPI_AWARENESS_CONTEXT awareness; // the invoking thread's; null where the system has no per-thread awareness
    Handshake* handshake;
};

// The dialog's messages, with the dialog manager's keyboard (Tab, arrows, Enter, Esc, mnemonics), until the window
// is gone. A WM_QUIT, which nothing of ours posts, ends the dialog too.
void RunMessages(HWND dialog) {
    MSG message;
    while (IsWindow(dialog)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            DestroyWindow(dialog);
            return;
        }
        if (!IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// Makes and shows the dialog and tells the starting thread how it went; `handshake` is not touched afterwards.
void MakeAndRun(ThreadStart& start) {
    Handshake& handshake = *start.handshake;
    SetLastError(0);
    HWND dialog = CreateDialogParamW(start.resources, MAKEINTRESOURCEW(IDD_COPY_DIALOG), nullptr, DlgProc,
                                     reinterpret_cast<LPARAM>(&start.dialog));
    // A dialog that ended itself while starting (an empty selection) can leave a stale handle behind.
    if (dialog == nullptr || !IsWindow(dialog)) {
        const DWORD error = GetLastError();
        handshake.result = error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
        SetEvent(handshake.ready);
        return;
    }
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    handshake.result = S_OK;
    SetEvent(handshake.ready);
    RunMessages(dialog);
}

DWORD WINAPI DialogThread(void* parameter) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    const HMODULE module = start->module;
    IUnknown* process = start->process;
    AdoptDpiAwareness(start->awareness);
    MakeAndRun(*start); // nothing in it throws: the dialog procedure keeps its own exceptions
    start.reset();
    if (process != nullptr) {
        process->Release();
    }
    InterlockedDecrement(&g_dialogThreads);
    // The count may read 0 from here on: this thread's own reference keeps the code below mapped until the call.
    FreeLibraryAndExitThread(module, 0);
}

// Waits for the dialog thread's answer. Messages other threads send to this one are answered meanwhile, so a
// window of the host that the dialog's creation talks to cannot hold it up; posted messages and input stay queued.
void WaitAnsweringSentMessages(HANDLE ready) {
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjectsEx(1, &ready, INFINITE, QS_SENDMESSAGE, 0);
        if (woke != WAIT_OBJECT_0 + 1) {
            return;
        }
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

HRESULT StartCopyDialogThread(HINSTANCE resources, CopyDialogStart dialog) noexcept {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&DialogThread),
                            &module)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto* start = new (std::nothrow) ThreadStart{resources, {}, module, nullptr, ThreadDpiAwareness(), nullptr};
    if (ready == nullptr || start == nullptr) {
        const HRESULT hr = ready == nullptr ? HRESULT_FROM_WIN32(GetLastError()) : E_OUTOFMEMORY;
        delete start;
        FreeLibrary(module);
        return hr;
    }
    start->dialog = std::move(dialog); // moving a selection takes no memory
    Handshake handshake;
    handshake.ready = ready.get();
    start->handshake = &handshake;
    if (FAILED(SHGetInstanceExplorer(&start->process))) {
        start->process = nullptr; // a host without a process reference
    }
    InterlockedIncrement(&g_dialogThreads); // before the thread exists, so the unload question never misses it
    const UniqueHandle thread(CreateThread(nullptr, 0, &DialogThread, start, 0, nullptr));
    if (thread == nullptr) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        InterlockedDecrement(&g_dialogThreads);
        if (start->process != nullptr) {
            start->process->Release();
        }
        delete start;
        FreeLibrary(module);
        return hr;
    }
    WaitAnsweringSentMessages(ready.get());
    return handshake.result;
}

long CopyDialogThreadCount() noexcept {
    return InterlockedCompareExchange(&g_dialogThreads, 0, 0);
}

} // namespace pathlift
