#pragma once
// The built Pathlift.dll and its exports, COM pointers that release themselves, and real shell data objects.

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace pathlift::testing {

// The DLL's full path, from the test's own location and the relative path the build hands over.
inline std::wstring BuiltDllPath() {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    path.erase(path.find_last_of(L"\\/") + 1);
    path += L"" PATHLIFT_DLL_FROM_TEST_DIR;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return full;
}

// An export of a loaded module as the function type it really has (FARPROC is only a placeholder type).
template <class F> F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void** Out() {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }
    T** OutTyped() {
        Reset();
        return &p_;
    }
    void Reset() {
        if (p_ != nullptr) {
            std::exchange(p_, nullptr)->Release();
        }
    }
    T* Detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

// The shell's own data object for items of one folder, as Explorer hands it to a context-menu handler.
inline ComPtr<IDataObject> ShellDataObject(const std::vector<std::wstring>& paths) {
    ComPtr<IDataObject> result;
    std::vector<PIDLIST_ABSOLUTE> absolute;
    for (const std::wstring& path : paths) {
        PIDLIST_ABSOLUTE pidl = nullptr;
        if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr))) {
            break;
        }
        absolute.push_back(pidl);
    }
    if (absolute.size() == paths.size() && !absolute.empty()) {
        ComPtr<IShellFolder> parent;
        PCUITEMID_CHILD first = nullptr;
        if (SUCCEEDED(SHBindToParent(absolute[0], IID_IShellFolder, parent.Out(), &first))) {
            std::vector<PCUITEMID_CHILD> children;
            for (PIDLIST_ABSOLUTE pidl : absolute) {
                children.push_back(ILFindLastID(pidl));
            }
            parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                  nullptr, result.Out());
        }
    }
    for (PIDLIST_ABSOLUTE pidl : absolute) {
        CoTaskMemFree(pidl);
    }
    return result;
}

inline BOOL CALLBACK TakeCopyDialog(HWND window, LPARAM found) {
    wchar_t caption[32] = {};
    GetWindowTextW(window, caption, 32);
    if (std::wstring(caption) != L"パスをクリップボードにコピー") {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The copy dialog of this thread, or null: other test programs of the session may have theirs open meanwhile.
inline HWND CopyDialogOfThisThread() {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), TakeCopyDialog, reinterpret_cast<LPARAM>(&dialog));
    return dialog;
}

} // namespace pathlift::testing
