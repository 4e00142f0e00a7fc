// The 32-bit module's unwind tables, registered with its own unwinder whatever the host has loaded.
//
// GCC's i686 start-up code hands the module's DWARF unwind tables to libgcc_s_dw2-1.dll when the host has already
// loaded that DLL (a program built with MinGW), instead of to the unwinder linked into this module. Every exception
// thrown here (std::bad_alloc on the out-of-memory paths) would then find no frames and abort the host. So the
// tables are also registered with our own unwinder, at the same point of the start-up, and taken back at unload.

#include <windows.h>

namespace {

extern "C" void __register_frame_info(const void* begin, void* object);
extern "C" void* __deregister_frame_info(const void* begin);

// An empty array in the tables' own section: its address lies inside the section the linker builds from every
// object's tables, whichever comes first.
[[gnu::section(".eh_frame"), gnu::used]] const char kInsideTheTables[0] = {};

// The unwinder's record of one table; it is larger than libgcc's struct object on every version.
alignas(void*) unsigned char g_record[16 * sizeof(void*)];
const void* g_begin = nullptr;

// The start of the image section that holds addressOfTables, found from the section headers rather than by name.
const void* SectionStart(HMODULE module, const void* addressOfTables) {
    auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto* section = IMAGE_FIRST_SECTION(nt);
    const auto offset = static_cast<DWORD>(reinterpret_cast<const BYTE*>(addressOfTables) - base);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (offset >= section->VirtualAddress && offset <= section->VirtualAddress + section->Misc.VirtualSize) {
            return base + section->VirtualAddress;
        }
    }
    return nullptr;
}

struct OwnUnwindTables {
    OwnUnwindTables() noexcept {
        if (GetModuleHandleW(L"libgcc_s_dw2-1.dll") == nullptr) {
            return; // the start-up code gave the tables to our unwinder already
        }
        HMODULE self = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCWSTR>(kInsideTheTables), &self)) {
            return;
        }
        g_begin = SectionStart(self, kInsideTheTables);
        if (g_begin != nullptr) {
            __register_frame_info(g_begin, g_record);
        }
    }
    ~OwnUnwindTables() {
        if (g_begin != nullptr) {
            __deregister_frame_info(g_begin);
        }
    }
};

// Made with the module's other static objects, before DllMain runs and before any of its code can throw.
const OwnUnwindTables g_ownUnwindTables;

} // namespace
