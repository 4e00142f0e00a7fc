// The 32-bit module's unwind tables, registered with its own unwinder whatever the host has loaded.
//
// GCC's i686 start-up code hands the module's DWARF unwind tables to libgcc_s_dw2-1.dll when the host has already
// loaded that DLL (a program built with MinGW), instead of to the unwinder linked into this module. Every exception
// thrown here (std::bad_alloc on the out-of-memory paths) would then find no frames and abort the host. So the
// tables are also registered with our own unwinder, at the same point of the start-up, and taken back at unload.

#include <windows.h>

#include <winternl.h>

#include <cstddef>

namespace {

extern "C" void __register_frame_info(const void* begin, void* object);
extern "C" void* __deregister_frame_info(const void* begin);

// An empty array in the tables' own section: its address lies inside the section the linker builds from every
// object's tables, whichever comes first.
[[gnu::section(".eh_frame"), gnu::used]] const char kInsideTheTables[0] = {};

// The unwinder's record of one table; it is larger than libgcc's struct object on every version.
alignas(void*) unsigned char g_record[16 * sizeof(void*)];
const void* g_begin = nullptr;

// Whether a module of that file name is loaded, from the loader's own list: GetModuleHandleW would do, but for a
// module that is not loaded Wine's searches the disk for the file, a millisecond at every load of ours. The loader
// lock, which the caller holds, keeps the list still.
bool Loaded(const wchar_t* fileName) {
    const std::size_t length = lstrlenW(fileName);
    // The process's PEB, at fs:0x30 in every 32-bit thread (NtCurrentTeb's reading trips g++ 12's array-bounds check).
    const PEB* peb = nullptr;
    asm("movl %%fs:0x30, %0" : "=r"(peb));
    const LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
    for (const LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        const auto* module = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
        const std::size_t units = module->FullDllName.Length / sizeof(wchar_t);
        if (units > length && module->FullDllName.Buffer[units - length - 1] == L'\\' &&
            CompareStringOrdinal(module->FullDllName.Buffer + units - length, static_cast<int>(length), fileName,
                                 static_cast<int>(length), TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

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
        if (!Loaded(L"libgcc_s_dw2-1.dll")) {
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
