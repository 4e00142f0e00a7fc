#pragma once
// Works real copy dialogs as a user would, for the shell host and the tests alike: finds them, clicks their
// buttons, sets options on them, runs the thread's messages until they are gone, and presses OK on every message
// box they show, remembering what each one said.

#include "engine/copy_options.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace pathlift::tools {

// The caption of the copy dialog the menu entry opens.
inline constexpr wchar_t kCopyDialogCaption[] = L"パスをクリップボードにコピー";

struct SeenMessageBox {
    HWND owner;
    std::wstring caption;
    std::wstring text;
    int buttons; // visible push buttons
};

// Presses OK on every message box this process shows while it lives, and remembers what each one said. It runs
// on a thread of its own because a message box shown from inside a button click blocks the thread that clicked.
// It only reads windows (InternalGetWindowText sends no message) and posts, so it can never wait on the dialog.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() : thread_([this] { Watch(); }) {}
    ~MessageBoxWatcher() { Stop(); }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    std::vector<SeenMessageBox> Seen();
    // Ends the watching; what was seen stays readable. Safe to call twice.
    std::vector<SeenMessageBox> Stop();

private:
    void Watch();
    static BOOL CALLBACK Visit(HWND window, LPARAM self);

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenMessageBox> seen_;
    std::set<HWND> handled_; // only the watching thread touches it
    std::thread thread_;
};

void Click(HWND dialog, int id);
// The window with the keyboard focus on the thread of the given window (a copy dialog runs on a thread of its own).
HWND FocusOf(HWND window);
// A key pressed and released on the dialog's focused control (the dialog itself when none of its controls has the
// focus), as the keyboard's messages arrive: posted, for the dialog thread's loop to take off the queue.
void PressKey(HWND dialog, WORD key);
bool Checked(HWND dialog, int id);
// The ids of every checked button, in template order.
std::vector<int> CheckedControls(HWND dialog);

// The copy dialogs among this process's top-level windows, on any thread: class #32770 with the dialog's caption.
std::vector<HWND> CopyDialogsOfThisProcess();

// Clicks what a user would click to get these options; false, with the reason in words, when a control is
// missing, the dialog closed or a control does not show the option afterwards.
bool ApplyOptions(HWND dialog, const CopyOptions& options, std::wstring& error);

// Dispatches this thread's pending messages.
void PumpMessages();
// Runs this thread's messages until done() holds or the time is up (INFINITE waits for ever); false when the time
// ran out. A plain GetMessageW, TranslateMessage, DispatchMessageW loop, as Explorer's is: no IsDialogMessageW,
// the dialog's own thread does that.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
bool PumpUntilGone(HWND dialog, DWORD timeoutMs);
// Waits until done() holds or the time is up, taking none of this thread's messages, as a host's thread that is
// busy elsewhere; false when the time ran out. A copy dialog runs on a thread of its own and needs none of them.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);

} // namespace pathlift::tools
