#pragma once
// A stand-in for one system function as seen by one module: the module's import slot for it is rewritten while a
// scope lasts, so a test can give the answers a real Windows gives where Wine gives others.

#include <windows.h>

#include <cstring>
#include <type_traits>

namespace pathlift::testing {

// Points a loaded module's import of a system function at a double while the scope lasts.
class ImportPatch {
public:
    ImportPatch(HMODULE module, const char* name, const void* replacement) {
        auto* base = reinterpret_cast<BYTE*>(module);
        const auto* nt =
            reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                    continue;
                }
                const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0) {
                    slot_ = &slots->u1.Function;
                }
            }
        }
        if (slot_ != nullptr) {
            original_ = Swap(reinterpret_cast<Slot>(replacement));
        }
    }
    ~ImportPatch() {
        if (slot_ != nullptr) {
            Swap(original_);
        }
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    bool Patched() const { return slot_ != nullptr; }

private:
    using Slot = std::remove_reference_t<decltype(IMAGE_THUNK_DATA{}.u1.Function)>;
    Slot Swap(Slot value) {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &protection);
        const Slot previous = *slot_;
        *slot_ = value;
        VirtualProtect(slot_, sizeof(*slot_), protection, &protection);
        return previous;
    }

    Slot* slot_ = nullptr;
    Slot original_ = 0;
};

} // namespace pathlift::testing
