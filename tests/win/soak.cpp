// soak: Pathlift.dll as a host that runs for weeks uses it, in one process: right-clicks without unloading, load
// and unload cycles through LoadLibrary and through COM, dialogs opened from threads that end at once, and COM
// unloading idle servers in a tight loop while other threads open and close dialogs. Each part runs a warm-up,
// then reads the process's handles, GDI and USER objects, threads, private bytes and free thread-local and
// fibre-local slots before and after, prints one line and fails on growth above the floor, or when a window made
// afterwards has a handle past the sign bit (what hangs dialogs under Wine 8: see RightClick); the DLL's own counters
// (live objects, dialog threads) must read zero through DllCanUnloadNow at the end of every cycle or part:
//     soak <part> <cycles> <seconds> handles <n> gdi <n> user <n> threads <n> private <bytes> tls <n> fls <n>
// Usage: soak <divisor> [parts|all] [emulated]   (1: 100,000 right-clicks and cycles, 1,000 dialogs, 10,000
// rounds; the test command divides by 10, and by 100 under emulation). Under an emulator the process's private
// bytes include the emulator's own cache of translated code, which grows with every load of the module: there
// they are printed but not held to the floor.

#include "res/resource.h"
#include "tests/win/shell_support.h"
#include "tests/win/temp_directory.h"
#include "tools/console.h"
#include "tools/dialog_driver.h"
#include "tools/generated_selection.h"
#include "tools/shell_selection.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace pathlift;
using pathlift::testing::BuiltDllPath;
using pathlift::testing::Export;
using tools::ComPtr;

// {D80CD655-4791-4491-85E2-4B66894F5E00}
const CLSID kClassId = {0xd80cd655, 0x4791, 0x4491, {0x85, 0xe2, 0x4b, 0x66, 0x89, 0x4f, 0x5e, 0x00}};
constexpr wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{D80CD655-4791-4491-85E2-4B66894F5E00}";
constexpr std::size_t kDialogItems = 1000;
constexpr DWORD kTimeoutMs = 30000;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// Growth a part may show whatever its length: the heap's free lists and Wine's caches settle by whole pages and
// blocks (up to 5 MB measured for parts of 10 to 1,000 cycles, with no trend), a handle or window object may be
// cached once, and a thread of the runtime may still be ending. A per-cycle leak of one handle or object, or of a
// kilobyte, exceeds it at the test command's counts (a tenth), and slots have no floor at all.
struct Floor {
    long handles = 8, gdi = 8, user = 8, threads = 1, privateBytes = 8 << 20;
};

// Free slots, counted by taking them until the system refuses and giving them all back.
template <class Alloc, class Free> int FreeSlots(Alloc alloc, Free free, DWORD refused) {
    std::vector<DWORD> taken;
    for (DWORD slot; (slot = alloc()) != refused;) {
        taken.push_back(slot);
    }
    for (DWORD slot : taken) {
        free(slot);
    }
    return static_cast<int>(taken.size());
}

// Wine 8 answers 0 for GetProcessHandleCount; then the handle values the process has open are counted instead.
long Handles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        return static_cast<long>(count);
    }
    long open = 0;
    for (ULONG_PTR value = 4; value < 0x40000; value += 4) {
        DWORD flags = 0;
        open += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return open;
}

long Threads() {
    long count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

struct Reading {
    long handles, gdi, user, threads, privateBytes, tls, fls;
};

Reading Read() {
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    return {Handles(), static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)),
            static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)), Threads(),
            // Wine 8 answers 0 for PrivateUsage; the commit charge, which Windows gives as the same number, it fills.
            static_cast<long>(memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage),
            FreeSlots(TlsAlloc, TlsFree, TLS_OUT_OF_INDEXES),
            FreeSlots([] { return FlsAlloc(nullptr); }, FlsFree, FLS_OUT_OF_INDEXES)};
}

// One right-click as Explorer makes it: a handler from the class object, Initialize with the selection,
// QueryContextMenu, the help text and the releases; false when a step did not give its documented result. The host's
// popup menu is made once and emptied after each right-click: each new menu raises a handle's generation by one,
// and a menu per right-click took Wine's handles past the sign bit after about 33,000 right-clicks, where Wine 8's
// dialogs spin in this and every later program of the session (docs/DEVELOPMENT.md, "One Wine session, a
// wineserver per width").
bool RightClick(IClassFactory* factory, IDataObject* selection, HMENU popup) {
    ComPtr<IShellExtInit> init;
    ComPtr<IContextMenu> menu;
    if (FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(init.put()))) ||
        init->Initialize(nullptr, selection, nullptr) != S_OK ||
        FAILED(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(menu.put())))) {
        return false;
    }
    const HRESULT added = menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
    while (GetMenuItemCount(popup) > 0) {
        DeleteMenu(popup, 0, MF_BYPOSITION);
    }
    wchar_t help[256] = {};
    menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(help), 256);
    return added == MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1) && help[0] != L'\0';
}

HMODULE LoadedDll() {
    return GetModuleHandleW(BuiltDllPath().c_str());
}

// COM calls DllGetClassObject after letting go of its own lock: an unload pass of the same apartment in that moment
// frees the module under the call (Wine crashes there). Windows covers that window with its unload delay, ten minutes
// by default for the multithreaded apartment, which a delay of 0 turns off; the race part takes this lock around
// creation instead, so what is left racing is the module's own threads against the unloading.
std::mutex g_creation;

// Opens the dialog for the selection through InvokeCommand from a thread of its own, which ends at once; the handler
// comes from the class object when one is given, else from COM.
bool InvokeOnThread(IDataObject* selection, DWORD apartment, IClassFactory* factory) {
    bool invoked = false;
    std::thread([&] {
        CoInitializeEx(nullptr, apartment);
        ComPtr<IShellExtInit> init;
        ComPtr<IContextMenu> menu;
        HRESULT created;
        if (factory != nullptr) {
            created = factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(init.put()));
        } else {
            const std::lock_guard<std::mutex> creating(g_creation);
            created = CoCreateInstance(kClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                       reinterpret_cast<void**>(init.put()));
        }
        if (SUCCEEDED(created) && init->Initialize(nullptr, selection, nullptr) == S_OK &&
            SUCCEEDED(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(menu.put())))) {
            CMINVOKECOMMANDINFO info = {};
            info.cbSize = sizeof(info);
            info.lpVerb = MAKEINTRESOURCEA(0);
            info.nShow = SW_SHOWNORMAL;
            invoked = menu->InvokeCommand(&info) == S_OK;
        }
        menu.Reset();
        init.Reset();
        CoUninitialize();
    }).join();
    return invoked;
}

// A window made now takes the slot freed last, one the parts reused most. Its handle must stay below 0x80000000,
// where Wine 8's GetWindow and the calls that sign-extend agree (see RightClick), for this program's dialogs and for
// those of every later program in the same Wine session; the value is given back for the message.
bool WindowHandleBelowTheSignBit(ULONG_PTR& value) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    value = reinterpret_cast<ULONG_PTR>(window);
    DestroyWindow(window);
    return window != nullptr && (value & 0x80000000u) == 0;
}

bool NoDialogLeft() {
    for (HWND dialog : tools::CopyDialogsOfThisProcess()) {
        PostMessageW(dialog, WM_CLOSE, 0, 0); // another thread's window: only its own thread can destroy it
    }
    return tools::CopyDialogsOfThisProcess().empty();
}

class Soak {
public:
    Soak(int divisor, std::wstring only, bool emulated)
        : divisor_(divisor), only_(std::move(only)), emulated_(emulated) {}

    int Run() {
        OleInitialize(nullptr);
        RegisterClass();
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift"); // the default options, so the text is known
        testing::TempDirectory folder;
        const std::u16string file = testing::ToU16(folder.File(L"soak item.txt"));
        tools::ShellSelection shell = tools::CreateShellSelection({file});
        ComPtr<IDataObject> many = tools::CreateGeneratedDataObject(kDialogItems);
        ComPtr<IDataObject> few = tools::CreateGeneratedDataObject(10);
        if (!shell.dataObject || !many || !few) {
            return Fail(L"no selection: " + shell.error);
        }
        IDataObject* one = shell.dataObject.get();
        HMENU popup = CreatePopupMenu();

        Part(L"right-clicks", 100000, [&](int cycles) {
            HMODULE module = LoadLibraryW(BuiltDllPath().c_str());
            ComPtr<IClassFactory> factory;
            Export<GetClassObjectFn>(module, "DllGetClassObject")(kClassId, IID_IClassFactory,
                                                                  reinterpret_cast<void**>(factory.put()));
            bool worked = factory.get() != nullptr;
            for (int i = 0; i < cycles && worked; ++i) {
                worked = RightClick(factory.get(), one, popup);
            }
            factory.Reset();
            worked = worked && Export<CanUnloadNowFn>(module, "DllCanUnloadNow")() == S_OK;
            FreeLibrary(module);
            return worked;
        });
        Part(L"load-cycles", 100000, [&](int cycles) {
            for (int i = 0; i < cycles; ++i) {
                HMODULE module = LoadLibraryW(BuiltDllPath().c_str());
                ComPtr<IClassFactory> factory;
                Export<GetClassObjectFn>(module, "DllGetClassObject")(kClassId, IID_IClassFactory,
                                                                      reinterpret_cast<void**>(factory.put()));
                const bool worked = factory && RightClick(factory.get(), one, popup);
                factory.Reset();
                const HRESULT idle = Export<CanUnloadNowFn>(module, "DllCanUnloadNow")();
                FreeLibrary(module);
                if (!worked || idle != S_OK || LoadedDll() != nullptr) {
                    return false;
                }
            }
            return true;
        });
        Part(L"com-cycles", 100000, [&](int cycles) {
            for (int i = 0; i < cycles; ++i) {
                ComPtr<IClassFactory> factory;
                CoGetClassObject(kClassId, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                 reinterpret_cast<void**>(factory.put()));
                const bool worked = factory && RightClick(factory.get(), one, popup);
                factory.Reset();
                CoFreeUnusedLibrariesEx(0, 0);
                if (!worked || LoadedDll() != nullptr) {
                    return false;
                }
            }
            return true;
        });
        Part(L"dialogs", 1000, [&](int cycles) {
            const std::wstring expected = tools::GeneratedText(kDialogItems);
            // The handlers come from the class object: Wine's COM keeps a server loaded for good once an apartment
            // ends while the server cannot unload (a dialog is open), which the unload race would then never see go.
            HMODULE module = LoadLibraryW(BuiltDllPath().c_str());
            const auto canUnloadNow = Export<CanUnloadNowFn>(module, "DllCanUnloadNow");
            ComPtr<IClassFactory> factory;
            Export<GetClassObjectFn>(module, "DllGetClassObject")(kClassId, IID_IClassFactory,
                                                                  reinterpret_cast<void**>(factory.put()));
            const wchar_t* failed = nullptr;
            for (int i = 0; i < cycles && failed == nullptr; ++i) {
                std::vector<HWND> dialogs;
                std::wstring text;
                if (OpenClipboard(nullptr)) {
                    EmptyClipboard();
                    CloseClipboard();
                }
                if (!InvokeOnThread(many.get(), COINIT_APARTMENTTHREADED, factory.get())) {
                    failed = L"InvokeCommand";
                } else if (!tools::WaitUntil([&] { return !(dialogs = tools::CopyDialogsOfThisProcess()).empty(); },
                                             kTimeoutMs)) {
                    failed = L"no dialog";
                } else if (tools::Click(dialogs[0], IDC_BUTTON_COPY),
                           !tools::WaitUntil([&] { return tools::CopyDialogsOfThisProcess().empty(); }, kTimeoutMs)) {
                    failed = L"the dialog stayed open after Copy";
                } else if (!tools::ReadClipboardText(text) || text != expected) {
                    failed = L"another text on the clipboard";
                }
            }
            factory.Reset();
            if (failed == nullptr && !tools::WaitUntil([&] { return canUnloadNow() == S_OK; }, kTimeoutMs)) {
                failed = L"the DLL still counts an object or a dialog's thread";
            }
            FreeLibrary(module);
            if (failed != nullptr) {
                std::fwprintf(stderr, L"soak: dialogs: %ls\n", failed);
            }
            return failed == nullptr;
        });
        Part(L"unload-race", 10000, [&](int rounds) {
            // One apartment for all: COM unloads only the servers of the caller's apartment, and the multithreaded
            // one is the only apartment several threads share. The unloading thread keeps it alive throughout: Wine
            // leaves a server loaded, unasked, when its apartment ends.
            volatile bool stop = false;
            bool unloaded = false;
            std::thread unloader([&] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                while (!stop) {
                    {
                        const std::lock_guard<std::mutex> creating(g_creation);
                        CoFreeUnusedLibrariesEx(0, 0);
                    }
                    SwitchToThread(); // a creator waiting for the lock gets it, or the round waits on the loop
                }
                // Every dialog is gone: the next passes take the module away once its threads have ended.
                unloaded = tools::WaitUntil(
                    [] {
                        CoFreeUnusedLibrariesEx(0, 0);
                        return LoadedDll() == nullptr;
                    },
                    kTimeoutMs);
                CoUninitialize();
            });
            bool worked = true;
            for (int i = 0; i < rounds && worked; ++i) {
                bool opened[2] = {};
                std::thread openers[2];
                for (int k = 0; k < 2; ++k) {
                    openers[k] = std::thread([&, k] {
                        opened[k] = InvokeOnThread(few.get(), COINIT_MULTITHREADED, nullptr);
                        NoDialogLeft();
                    });
                }
                for (std::thread& opener : openers) {
                    opener.join();
                }
                worked = opened[0] && opened[1] && tools::WaitUntil(NoDialogLeft, kTimeoutMs);
            }
            stop = true;
            unloader.join();
            if (!worked || !unloaded) {
                std::fwprintf(stderr, L"soak: unload-race: %ls\n",
                              !worked ? L"a dialog did not open or close" : L"the module stayed loaded");
            }
            return worked && unloaded;
        });

        DestroyMenu(popup);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey);
        OleUninitialize();
        return status_;
    }

private:
    // The class as the installer registers it, for the machine (Wine 8's COM reads no per-user classes), except
    // "Both": the unload race runs in the multithreaded apartment, which an "Apartment" server is never loaded into.
    void RegisterClass() {
        const std::wstring key = std::wstring(kClassKey) + L"\\InprocServer32";
        const std::wstring dll = BuiltDllPath();
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, dll.c_str(),
                        static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t)));
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ThreadingModel", REG_SZ, L"Both", sizeof(L"Both"));
    }

    // A tenth of the cycles as warm-up, at least one; then the cycles between two readings.
    void Part(const wchar_t* name, int fullCycles, const std::function<bool(int)>& cycles) {
        const int count = fullCycles / divisor_ > 0 ? fullCycles / divisor_ : 1;
        if (only_ != L"all" && only_.find(name) == std::wstring::npos) {
            return;
        }
        if (!cycles(count / 10 > 0 ? count / 10 : 1)) {
            Fail(std::wstring(name) + L": the warm-up failed");
            return;
        }
        const Reading before = Read();
        const auto start = std::chrono::steady_clock::now();
        const bool worked = cycles(count);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const Reading after = Read();
        const Reading growth = {after.handles - before.handles,
                                after.gdi - before.gdi,
                                after.user - before.user,
                                after.threads - before.threads,
                                after.privateBytes - before.privateBytes,
                                before.tls - after.tls,
                                before.fls - after.fls};
        std::wprintf(L"soak %ls %d %.1f handles %ld gdi %ld user %ld threads %ld private %ld tls %ld fls %ld\n", name,
                     count, seconds, growth.handles, growth.gdi, growth.user, growth.threads, growth.privateBytes,
                     growth.tls, growth.fls);
        std::fflush(stdout);
        const Floor floor;
        if (!worked) {
            Fail(std::wstring(name) + L": a cycle failed");
        }
        if (growth.handles > floor.handles || growth.gdi > floor.gdi || growth.user > floor.user ||
            growth.threads > floor.threads || (!emulated_ && growth.privateBytes > floor.privateBytes) ||
            growth.tls != 0 || growth.fls != 0) {
            Fail(std::wstring(name) + L": growth above the floor");
        }
        if (ULONG_PTR handle = 0; !WindowHandleBelowTheSignBit(handle)) {
            wchar_t value[32];
            std::swprintf(value, 32, L"%llX", static_cast<unsigned long long>(handle));
            Fail(std::wstring(name) + L": a new window's handle is " + value + L", past the sign bit");
        }
    }

    int Fail(const std::wstring& why) {
        std::fwprintf(stderr, L"soak: %ls\n", why.c_str());
        status_ = 1;
        return status_;
    }

    int divisor_;
    std::wstring only_; // the parts named in it, or "all"
    bool emulated_;
    int status_ = 0;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    int divisor = argc > 1 ? _wtoi(argv[1]) : 10;
    divisor = divisor > 0 ? divisor : 10;
    bool emulated = argc > 3 && std::wstring(argv[3]) == L"emulated";
#if defined(__i386__)
    // The run's scripts say when 32-bit Wine runs under qemu-i386 (a kernel that cannot execute i386 programs):
    // a tenth of the counts then, as for emulated ARM64.
    if (wchar_t flag[4] = {}; GetEnvironmentVariableW(L"PATHLIFT_I386_EMULATED", flag, 4) > 0 && !emulated) {
        divisor *= 10;
        emulated = true;
    }
#endif
    return Soak(divisor, argc > 2 ? argv[2] : L"all", emulated).Run();
}
