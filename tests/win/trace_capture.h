#pragma once
// Captures every line the module writes to the debugger output: Wine raises DBG_PRINTEXCEPTION_C for each, with
// the narrow text as the second argument. The handler is installed before the DLL is loaded, so the loader's
// attach line is seen too.

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace pathlift::testing {

class TraceCapture {
public:
    static TraceCapture& Instance() {
        static TraceCapture capture;
        return capture;
    }

    // The lines written since the last call, in order, from this thread only.
    std::vector<std::string> Take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> lines;
        lines.swap(lines_);
        return lines;
    }

private:
    TraceCapture() : thread_(GetCurrentThreadId()) { AddVectoredExceptionHandler(1, &TraceCapture::Handler); }

    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
        const EXCEPTION_RECORD* record = info->ExceptionRecord;
        if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
            return EXCEPTION_CONTINUE_SEARCH;
        }
        TraceCapture& self = Instance();
        if (GetCurrentThreadId() == self.thread_) {
            const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
            const std::lock_guard<std::mutex> lock(self.mutex_);
            self.lines_.emplace_back(text);
        }
        return EXCEPTION_CONTINUE_EXECUTION;
    }

    DWORD thread_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace pathlift::testing
