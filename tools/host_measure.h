#pragma once
// What the shell host measures of each step: its time, and the process's working set.

#include <windows.h>

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace pathlift::tools {

inline PROCESS_MEMORY_COUNTERS MemoryCounters() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

inline std::wstring Mebibytes(std::size_t bytes) {
    wchar_t text[32] = {};
    swprintf(text, 32, L"%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

// The time since it was made.
class StepClock {
public:
    StepClock() : start_(std::chrono::steady_clock::now()) {}
    double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

private:
    std::chrono::steady_clock::time_point start_;
};

} // namespace pathlift::tools
