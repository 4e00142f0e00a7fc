#pragma once
// Another thread holding the clipboard, as a clipboard manager does for a moment. It holds it with a window of its
// own: a thread that opens the clipboard without one keeps nobody out. Given a window to ask, it sends that window a
// message and lets go only after the reply (or after holdMs without one), as clipboard managers and remote-desktop
// clipboards may do.

#include <windows.h>

#include <thread>

namespace pathlift::testing {

class ClipboardHolder {
public:
    // Holds the clipboard from construction for holdMs, or until Release.
    explicit ClipboardHolder(DWORD holdMs, HWND askFirst = nullptr)
        : held_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_([this, holdMs, askFirst] {
              HWND window = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
              opened_ = OpenClipboard(window) != FALSE;
              SetEvent(held_);
              if (askFirst != nullptr) {
                  DWORD_PTR reply = 0;
                  answered_ = SendMessageTimeoutW(askFirst, WM_NULL, 0, 0, SMTO_NORMAL, holdMs, &reply) != 0;
              } else {
                  WaitForSingleObject(release_, holdMs);
              }
              if (opened_) {
                  CloseClipboard();
              }
              DestroyWindow(window);
          }) {
        WaitForSingleObject(held_, 10000);
    }
    ~ClipboardHolder() {
        Release();
        CloseHandle(held_);
        CloseHandle(release_);
    }
    ClipboardHolder(const ClipboardHolder&) = delete;
    ClipboardHolder& operator=(const ClipboardHolder&) = delete;

    bool Holding() const { return opened_; }
    // Whether the window asked answered before the holder gave up waiting; valid after Release.
    bool Answered() const { return answered_; }
    void Release() {
        SetEvent(release_);
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    HANDLE held_;
    HANDLE release_;
    bool opened_ = false;
    bool answered_ = false;
    std::thread thread_;
};

} // namespace pathlift::testing
