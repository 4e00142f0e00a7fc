#pragma once
// Module-wide state of the COM server: its instance handle, the count of live COM objects, its one class id,
// and the guard that keeps every exception inside the module.

#include <windows.h>

#include <new>

namespace pathlift {

extern HINSTANCE g_hInstDll;
// Changed only with interlocked operations: objects of different apartments come and go on their own threads.
extern LONG g_cLiveObjects;

// {D80CD655-4791-4491-85E2-4B66894F5E00}
inline constexpr CLSID CLSID_ShellMenuExt = {
    0xd80cd655, 0x4791, 0x4491, {0x85, 0xe2, 0x4b, 0x66, 0x89, 0x4f, 0x5e, 0x00}};
// {1E7844E8-15A0-493B-B7B9-3D3B65E11E0E}
inline constexpr CLSID CLSID_ExplorerCommand = {
    0x1e7844e8, 0x15a0, 0x493b, {0xb7, 0xb9, 0x3d, 0x3b, 0x65, 0xe1, 0x1e, 0x0e}};

inline void AddLiveObject() noexcept {
    InterlockedIncrement(&g_cLiveObjects);
}
inline void RemoveLiveObject() noexcept {
    InterlockedDecrement(&g_cLiveObjects);
}
inline LONG LiveObjects() noexcept {
    return InterlockedCompareExchange(&g_cLiveObjects, 0, 0);
}

// One guard around each export and COM method body: nothing thrown may reach the shell.
template <class F> HRESULT ComBoundary(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace pathlift
