#pragma once
// Owners for what the shell host borrows from the system: COM interface pointers, item id lists, menus, modules
// and the COM apartment of the calling thread. Each gives its resource back exactly once.

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace pathlift::tools {

// Holds one reference to a COM interface and releases it when replaced or destroyed.
template <class Interface> class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }

    Interface* get() const noexcept { return pointer_; }
    Interface* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    // The address to hand to a function that returns a new reference; whatever was held is released first.
    Interface** put() noexcept {
        Reset();
        return &pointer_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    void Reset() noexcept {
        if (Interface* held = std::exchange(pointer_, nullptr)) {
            held->Release();
        }
    }

private:
    Interface* pointer_ = nullptr;
};

struct ItemIdListFree {
    void operator()(ITEMIDLIST* list) const noexcept { ILFree(list); }
};
// An item id list allocated by the shell (SHParseDisplayName, ILClone).
using UniquePidl = std::unique_ptr<ITEMIDLIST, ItemIdListFree>;

struct MenuDestroy {
    void operator()(HMENU menu) const noexcept { DestroyMenu(menu); }
};
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroy>;

struct ModuleFree {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

// The calling thread's single-threaded apartment, as Explorer's window threads have: entered on construction,
// left on destruction when entering it succeeded (also when the thread was already in one, S_FALSE).
class ComApartment {
public:
    ComApartment() noexcept : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    HRESULT Result() const noexcept { return result_; }

private:
    HRESULT result_;
};

} // namespace pathlift::tools
