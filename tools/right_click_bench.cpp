// right_click_bench: what one right-click on a selection costs each DLL given, as Explorer pays it when the module
// is not loaded yet: LoadLibrary, the class object, a handler, Initialize with the shell's own data object,
// QueryContextMenu, the help text, the releases and FreeLibrary. Times 1,000 right-clicks and prints the median and
// the 99th percentile, one line per DLL:
//     right-click <label> <items> <data object> <median µs> <p99 µs>
// The data object is the shell's own for real files up to 1,000 items ("shell"). Wine's shell folder takes minutes
// to parse a hundred thousand names in one folder, so larger selections get the host's own data object with the
// same CF_HDROP form ("host"), made-up paths and no files.
// Usage: right_click_bench <items> <label>=<dll> [<label>=<dll>...]
//
// With --windows11 before the DLLs, the right-click is the one Windows 11's Explorer pays where the classic entry
// steps aside for the packaged command: the program must run as explorer.exe in a prefix that reports Windows 11
// (scripts/bench.sh sees to both); it writes the installer's notes itself, gives each loaded DLL a stand-in for
// GetPackagesByPackageFamily (Wine 8 has none) in its import table, initialises the handler with the selection's
// folder too, and counts a right-click as done only when the entry stepped aside.

#include "generated_selection.h"
#include "shell_selection.h"

#include "engine/file_list.h"
#include "tests/win/import_patch.h"

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace pathlift;
using namespace pathlift::tools;

// {D80CD655-4791-4491-85E2-4B66894F5E00}
const CLSID kClassId = {0xd80cd655, 0x4791, 0x4491, {0x85, 0xe2, 0x4b, 0x66, 0x89, 0x4f, 0x5e, 0x00}};
constexpr int kRightClicks = 1000;
constexpr std::size_t kLargestShellSelection = 1000;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// N empty files in a fresh folder under %TEMP%, as the shell needs real items for its data object.
FileList MakeFiles(std::size_t count, std::wstring& folder) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + L"pathlift-right-click-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    FileList files;
    for (std::size_t i = 0; i < count; ++i) {
        const std::wstring path = folder + L"\\item " + std::to_wstring(i) + L".txt";
        CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        files.emplace_back(reinterpret_cast<const char16_t*>(path.c_str()));
    }
    return files;
}

// One right-click; false when a step failed.
bool RightClick(const std::wstring& dll, IDataObject* data) {
    HMODULE module = LoadLibraryW(dll.c_str());
    if (module == nullptr) {
        return false;
    }
    bool worked = false;
    const auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (getClassObject != nullptr &&
        SUCCEEDED(getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
        IShellExtInit* init = nullptr;
        if (SUCCEEDED(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)))) {
            IContextMenu* menu = nullptr;
            if (SUCCEEDED(init->Initialize(nullptr, data, nullptr)) &&
                SUCCEEDED(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)))) {
                HMENU popup = CreatePopupMenu();
                const HRESULT added = menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
                wchar_t help[256] = {};
                menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(help), 256);
                worked = added == MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1) && help[0] != L'\0';
                DestroyMenu(popup);
                menu->Release();
            }
            init->Release();
        }
        factory->Release();
    }
    FreeLibrary(module);
    return worked;
}

// --- Windows 11: the classic entry steps aside -----------------------------------------------------------------------

constexpr wchar_t kBenchFamily[] = L"Pathlift_benchfamily01";

// GetPackagesByPackageFamily asked for sizes only, as documented: ERROR_INSUFFICIENT_BUFFER and the count of the
// family's packages for the user (one: ours) when there are any.
LONG WINAPI InstalledFamily(PCWSTR family, UINT32* count, PWSTR*, UINT32* bufferLength, WCHAR*) {
    const bool ours = std::wcscmp(family, kBenchFamily) == 0;
    *count = ours ? 1 : 0;
    *bufferLength = ours ? 64 : 0;
    return ours ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

FARPROC WINAPI StandInGetProcAddress(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "GetPackagesByPackageFamily") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&InstalledFamily));
    }
    return GetProcAddress(module, name);
}

// The installer's notes, registered ten minutes before this process started; taken away again by the destructor.
class PackageNotes {
public:
    PackageNotes() {
        FILETIME created = {}, exited = {}, kernel = {}, user = {};
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        const ULONGLONG registered =
            ((static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime) - 600ull * 10000000;
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"FamilyName", REG_SZ, kBenchFamily, sizeof(kBenchFamily));
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Registered", REG_QWORD, &registered, sizeof(registered));
    }
    ~PackageNotes() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
    PackageNotes(const PackageNotes&) = delete;
    PackageNotes& operator=(const PackageNotes&) = delete;

private:
    static constexpr wchar_t kKey[] = L"Software\\Pathlift\\Package";
};

// One right-click in Explorer on Windows 11: as RightClick, with the folder given to Initialize and the package
// store's stand-in in place from the load on; done when QueryContextMenu added nothing (the entry stepped aside).
bool RightClickOnWindows11(const std::wstring& dll, IDataObject* data, PCIDLIST_ABSOLUTE folder) {
    HMODULE module = LoadLibraryW(dll.c_str());
    if (module == nullptr) {
        return false;
    }
    bool steppedAside = false;
    {
        const testing::ImportPatch store(module, "GetProcAddress",
                                         reinterpret_cast<const void*>(&StandInGetProcAddress));
        const auto getClassObject =
            reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        IClassFactory* factory = nullptr;
        if (store.Patched() && getClassObject != nullptr &&
            SUCCEEDED(getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
            IShellExtInit* init = nullptr;
            if (SUCCEEDED(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)))) {
                IContextMenu* menu = nullptr;
                if (SUCCEEDED(init->Initialize(folder, data, nullptr)) &&
                    SUCCEEDED(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)))) {
                    HMENU popup = CreatePopupMenu();
                    steppedAside =
                        menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL) == S_OK && GetMenuItemCount(popup) == 0;
                    DestroyMenu(popup);
                    menu->Release();
                }
                init->Release();
            }
            factory->Release();
        }
    }
    FreeLibrary(module);
    return steppedAside;
}

// 1,000 such right-clicks for each DLL, one line each as the other rows, labelled windows11-<label>.
int TimeWindows11RightClicks(std::size_t count, IDataObject* data, const std::wstring& folderPath, bool shells,
                             int argc, wchar_t** argv, int first) {
    const PackageNotes notes;
    PIDLIST_ABSOLUTE folder = SHSimpleIDListFromPath(folderPath.c_str());
    int status = folder != nullptr ? 0 : 1;
    for (int i = first; status == 0 && i < argc; ++i) {
        const std::wstring argument = argv[i];
        const std::size_t equals = argument.find(L'=');
        const std::wstring label = argument.substr(0, equals);
        const std::wstring dll = argument.substr(equals + 1);
        std::vector<double> micros;
        for (int click = 0; click < kRightClicks && status == 0; ++click) {
            const auto start = std::chrono::steady_clock::now();
            if (!RightClickOnWindows11(dll, data, folder)) {
                std::fwprintf(stderr,
                              L"right_click_bench: the entry of %ls did not step aside (run as explorer.exe "
                              L"in a prefix that reports Windows 11?)\n",
                              dll.c_str());
                status = 1;
            }
            micros.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
        if (status == 0) {
            std::sort(micros.begin(), micros.end());
            std::wprintf(L"right-click windows11-%ls %zu %ls %.0f %.0f\n", label.c_str(), count,
                         shells ? L"shell" : L"host", micros[micros.size() / 2], micros[micros.size() * 99 / 100]);
        }
    }
    CoTaskMemFree(folder);
    return status;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: right_click_bench <items> <label>=<dll>...\n");
        return 2;
    }
    const std::size_t count = static_cast<std::size_t>(_wtoi(argv[1]));
    OleInitialize(nullptr);
    std::wstring folder;
    const bool shells = count <= kLargestShellSelection;
    const FileList files = shells ? MakeFiles(count, folder) : FileList();
    ShellSelection selection;
    if (shells) {
        selection = CreateShellSelection(files);
    } else {
        selection.dataObject = CreateGeneratedDataObject(count);
    }
    int status = selection.dataObject ? 0 : 1;
    const bool windows11 = argc > 2 && std::wcscmp(argv[2], L"--windows11") == 0;
    if (windows11 && status == 0) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        status = TimeWindows11RightClicks(count, selection.dataObject.get(), shells ? folder : std::wstring(temp),
                                          shells, argc, argv, 3);
    }
    for (int i = 2; !windows11 && status == 0 && i < argc; ++i) {
        const std::wstring argument = argv[i];
        const std::size_t equals = argument.find(L'=');
        const std::wstring label = argument.substr(0, equals);
        const std::wstring dll = argument.substr(equals + 1);
        std::vector<double> micros;
        for (int click = 0; click < kRightClicks && status == 0; ++click) {
            const auto start = std::chrono::steady_clock::now();
            if (!RightClick(dll, selection.dataObject.get())) {
                std::fwprintf(stderr, L"right_click_bench: a right-click with %ls failed\n", dll.c_str());
                status = 1;
            }
            micros.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
        if (status == 0) {
            std::sort(micros.begin(), micros.end());
            std::wprintf(L"right-click %ls %zu %ls %.0f %.0f\n", label.c_str(), count, shells ? L"shell" : L"host",
                         micros[micros.size() / 2], micros[micros.size() * 99 / 100]);
        }
    }
    if (!selection.dataObject) {
        std::fwprintf(stderr, L"right_click_bench: no shell data object: %ls\n", selection.error.c_str());
    }
    selection.dataObject = {};
    for (const std::u16string& file : files) {
        DeleteFileW(reinterpret_cast<const wchar_t*>(file.c_str()));
    }
    if (shells) {
        RemoveDirectoryW(folder.c_str());
    }
    OleUninitialize();
    return status;
}
