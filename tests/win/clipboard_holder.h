#pragma once
// Another thread holding the clipboard, as a clipboard manager does for a moment. It holds it with a window of its
// own: a thread that opens the clipboard without one keeps nobody out.

#include <windows.h>

#include <thread>

namespace pathlift::testing {

class ClipboardHolder {
public:
    // Holds the clipboard from construction for holdMs, or until Release.
    explicit ClipboardHolder(DWORD holdMs)
        : held_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_([this, holdMs] {
              HWND window = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
              opened_ = OpenClipboard(window) != FALSE;
              SetEvent(held_);
              WaitForSingleObject(release_, holdMs);
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
    std::thread thread_;
};

} // namespace pathlift::testing
