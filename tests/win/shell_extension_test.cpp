// The built Pathlift.dll as the shell and the COM runtime use it: trace lines, reference counts, the unload
// answer, the menu entry (and its absence where Windows 11 shows our packaged command), the command strings, the
// command itself, exports, version record and manifest.

#include "tests/win/import_patch.h"
#include "tests/win/loaded_dll.h"
#include "tests/win/shell_support.h"
#include "tests/win/temp_directory.h"
#include "tests/win/trace_capture.h"
#include "tools/console.h"
#include "tools/dialog_driver.h"

#include <gtest/gtest.h>

#include <olectl.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <thread>
#include <tuple>

namespace pathlift {
namespace {

using namespace pathlift::testing;
using Lines = std::vector<std::string>;

// {D80CD655-4791-4491-85E2-4B66894F5E00}, written out here on its own.
const CLSID kClassId = {0xd80cd655, 0x4791, 0x4491, {0x85, 0xe2, 0x4b, 0x66, 0x89, 0x4f, 0x5e, 0x00}};

std::string Hex(const void* value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(value)));
    return text;
}

ComPtr<IClassFactory> Factory() {
    ComPtr<IClassFactory> factory;
    Loaded().getClassObject(kClassId, IID_IClassFactory, factory.Out());
    return factory;
}

ComPtr<IContextMenu> Handler() {
    ComPtr<IContextMenu> menu;
    Factory()->CreateInstance(nullptr, IID_IContextMenu, menu.Out());
    return menu;
}

HRESULT CanUnloadNow() {
    const HRESULT hr = Loaded().canUnloadNow();
    TraceCapture::Instance().Take();
    return hr;
}

Lines Take() {
    return TraceCapture::Instance().Take();
}

TEST(ModuleLoad, AttachAndDetachWriteTheWholeHandleInLowerCaseHex) {
    TraceCapture::Instance().Take();
    HMODULE module = LoadLibraryW(BuiltDllPath().c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(Take(), Lines{"In DLLMain, DLL_PROCESS_ATTACH (HINSTANCE: " + Hex(module) + ")\r\n"});
    auto canUnload = Export<CanUnloadNowFn>(module, "DllCanUnloadNow");
    EXPECT_EQ(canUnload(), S_OK) << "nothing alive right after load";
    EXPECT_EQ(Take(), Lines{"In DLLCanUnloadNow\r\n"});
    FreeLibrary(module);
    EXPECT_EQ(Take(), Lines{"In DLLMain, DLL_PROCESS_DETACH (HINSTANCE: " + Hex(module) + ")\r\n"});
}

TEST(ClassObject, CreationAndQueryLines) {
    Dll& dll = Loaded();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(dll.getClassObject(kClassId, IID_IClassFactory, factory.Out()), S_OK);
    EXPECT_EQ(Take(), (Lines{"In DllGetClassObject\r\n", "CShellMenuExtFactory::CShellMenuExtFactory()\r\n",
                             "CShellMenuExtFactory::QueryInterface()\r\n"}));
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_TRUE(Take().empty()) << "AddRef, Release and LockServer write nothing";

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(dll.getClassObject(kClassId, IID_IUnknown, unknown.Out()), S_OK);
    EXPECT_NE(unknown.get(), static_cast<IUnknown*>(factory.get())) << "every call makes a new factory";
    Take();

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.getClassObject(IID_IClassFactory, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Take(), Lines{"In DllGetClassObject\r\n"});

    none = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.getClassObject(kClassId, IID_IContextMenu, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Take(), (Lines{"In DllGetClassObject\r\n", "CShellMenuExtFactory::CShellMenuExtFactory()\r\n",
                             "CShellMenuExtFactory::QueryInterface()\r\n"}));
    unknown.Reset();
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK) << "the refused factory was destroyed; a server lock keeps nothing";
    EXPECT_TRUE(Take().empty());
}

TEST(ClassObject, CreateInstanceLinesAndAggregation) {
    ComPtr<IClassFactory> factory = Factory();
    Take();
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, menu.Out()), S_OK);
    EXPECT_EQ(Take(), (Lines{"CShellMenuExtFactory::CreateInstance()\r\n", "CShellMenuExt::CShellMenuExt()\r\n",
                             "CShellMenuExt::QueryInterface()==>IID_IContextMenu\r\n", "CShellMenuExt::AddRef()\r\n"}));

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(menu.get(), IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Take(), Lines{"CShellMenuExtFactory::CreateInstance()\r\n"});

    none = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Take(), (Lines{"CShellMenuExtFactory::CreateInstance()\r\n", "CShellMenuExt::CShellMenuExt()\r\n",
                             "CShellMenuExt::QueryInterface()==>Unknown Interface!\r\n"}));
    menu.Reset();
    EXPECT_EQ(Take(), Lines{"CShellMenuExt::Release()\r\n"});
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(Handler, QueryInterfaceIdentityAndLines) {
    ComPtr<IContextMenu> menu = Handler();
    Take();
    struct Row {
        const char* name;
        IID iid;
        HRESULT result;
        Lines lines;
    };
    const Row rows[] = {
        {"IShellExtInit",
         IID_IShellExtInit,
         S_OK,
         {"CShellMenuExt::QueryInterface()==>IID_IShellExtInit\r\n", "CShellMenuExt::AddRef()\r\n"}},
        {"IUnknown",
         IID_IUnknown,
         S_OK,
         {"CShellMenuExt::QueryInterface()==>IID_IShellExtInit\r\n", "CShellMenuExt::AddRef()\r\n"}},
        {"IContextMenu",
         IID_IContextMenu,
         S_OK,
         {"CShellMenuExt::QueryInterface()==>IID_IContextMenu\r\n", "CShellMenuExt::AddRef()\r\n"}},
        {"IClassFactory",
         IID_IClassFactory,
         E_NOINTERFACE,
         {"CShellMenuExt::QueryInterface()==>Unknown Interface!\r\n"}},
        {"IContextMenu2",
         IID_IContextMenu2,
         E_NOINTERFACE,
         {"CShellMenuExt::QueryInterface()==>Unknown Interface!\r\n"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(menu->QueryInterface(row.iid, &out), row.result);
        EXPECT_EQ(Take(), row.lines);
        if (out != nullptr) {
            static_cast<IUnknown*>(out)->Release();
            EXPECT_EQ(Take(), Lines{"CShellMenuExt::Release()\r\n"});
        }
    }
    // One identity: IUnknown through either interface is the IShellExtInit pointer.
    ComPtr<IShellExtInit> init;
    ComPtr<IUnknown> fromMenu;
    ComPtr<IUnknown> fromInit;
    ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, init.Out()), S_OK);
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, fromMenu.Out()), S_OK);
    ASSERT_EQ(init->QueryInterface(IID_IUnknown, fromInit.Out()), S_OK);
    EXPECT_EQ(fromMenu.get(), fromInit.get());
    EXPECT_EQ(static_cast<void*>(fromMenu.get()), static_cast<void*>(init.get()));
    // An unknown interface leaves the count as it was: AddRef then Release report the same number as before.
    void* none = nullptr;
    menu->QueryInterface(IID_IClassFactory, &none);
    const ULONG before = menu->AddRef();
    menu->Release();
    EXPECT_EQ(before, 5u) << "menu, init, fromMenu, fromInit and the AddRef just made";
}

TEST(Handler, LiveHandlersAndFactoriesKeepTheModule) {
    ASSERT_EQ(CanUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, menu.Out()), S_OK);
    factory->LockServer(TRUE);
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the handler outlives its factory";
    menu.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK) << "a server lock does not keep the module";
    Take();
}

TEST(Handler, QueryContextMenuFollowsTheLowFlagBits) {
    struct Row {
        UINT flags;
        bool inserted;
        Lines lines;
    };
    const std::string entry = "CShellMenuExt::QueryContextMenu()\r\n";
    const Row rows[] = {
        {0x0, true, {entry, "CMF_NORMAL...\r\n"}},
        {0x1, false, {entry, "CMF_DEFAULTONLY...\r\n"}},
        {0x2, true, {entry, "CMF_VERBSONLY...\r\n"}},
        {0x3, true, {entry, "CMF_VERBSONLY...\r\n"}},
        {0x4, true, {entry, "CMF_EXPLORE...\r\n"}},
        {0x5, true, {entry, "CMF_EXPLORE...\r\n"}},
        {0x6, true, {entry, "CMF_VERBSONLY...\r\n"}},
        {0x8, false, {entry, "CMF_default...\r\n", "uFlags==>8\r\n"}},
        {0x9, false, {entry, "CMF_DEFAULTONLY...\r\n"}},
        {0xC, true, {entry, "CMF_EXPLORE...\r\n"}},
        {0x10, true, {entry, "CMF_NORMAL...\r\n"}},
        {0x18, false, {entry, "CMF_default...\r\n", "uFlags==>24\r\n"}},
        {0x80000008, false, {entry, "CMF_default...\r\n", "uFlags==>-2147483640\r\n"}},
    };
    ComPtr<IContextMenu> menu = Handler();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flags);
        HMENU popup = CreatePopupMenu();
        AppendMenuW(popup, MF_STRING, 1, L"first");
        AppendMenuW(popup, MF_STRING, 2, L"second");
        Take();
        const HRESULT hr = menu->QueryContextMenu(popup, 1, 100, 200, row.flags);
        EXPECT_EQ(Take(), row.lines);
        EXPECT_EQ(hr, row.inserted ? 1 : 0);
        ASSERT_EQ(GetMenuItemCount(popup), row.inserted ? 3 : 2);
        if (row.inserted) {
            wchar_t text[64] = {};
            GetMenuStringW(popup, 1, text, 64, MF_BYPOSITION);
            EXPECT_STREQ(text, L"選択ファイルのパスをコピー");
            EXPECT_EQ(GetMenuItemID(popup, 1), 100u);
            MENUITEMINFOW info = {};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_FTYPE | MIIM_SUBMENU | MIIM_BITMAP;
            GetMenuItemInfoW(popup, 1, TRUE, &info);
            EXPECT_EQ(info.fType, static_cast<UINT>(MFT_STRING));
            EXPECT_EQ(info.hSubMenu, nullptr);
            EXPECT_EQ(info.hbmpItem, nullptr);
        }
        DestroyMenu(popup);
    }
    // An invalid menu: nothing can be inserted, yet one identifier is reported used.
    EXPECT_EQ(menu->QueryContextMenu(reinterpret_cast<HMENU>(0x1234), 0, 1, 2, CMF_NORMAL), 1);
    Take();
}

// What the handler learns about Windows 11 and our package, as it finds the two system functions through
// GetProcAddress. The stand-ins follow the documented behaviour: RtlGetVersion fills the caller's OSVERSIONINFOW
// and returns STATUS_SUCCESS; GetPackagesByPackageFamily asked for sizes only (zero count, null buffers) returns
// ERROR_INSUFFICIENT_BUFFER with the number of the family's packages for the current user, or ERROR_SUCCESS and
// zero when there are none; on Windows 7 kernel32 has no such function.
enum class PackageStore { Installed, Absent, Wines };
struct SystemAnswers {
    DWORD build = 0; // 0: Wine's own RtlGetVersion
    PackageStore store = PackageStore::Wines;
    const wchar_t* installedFamily = L"";
};
SystemAnswers g_answers;
std::wstring g_askedFamily; // what the handler asked the package store about

LONG WINAPI StandInRtlGetVersion(OSVERSIONINFOW* info) {
    info->dwMajorVersion = 10;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = g_answers.build;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return 0;
}

LONG WINAPI StandInGetPackagesByPackageFamily(PCWSTR family, UINT32* count, PWSTR*, UINT32* bufferLength, WCHAR*) {
    g_askedFamily = family;
    const bool installed = std::wcscmp(g_answers.installedFamily, family) == 0;
    *count = installed ? 1 : 0;
    *bufferLength = installed ? 64 : 0;
    return installed ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

// Wine's answers where the row keeps them, a recorder in front of Wine's package function.
LONG WINAPI WinesGetPackagesByPackageFamily(PCWSTR family, UINT32* count, PWSTR* names, UINT32* length, WCHAR* buf) {
    g_askedFamily = family;
    using Fn = LONG(WINAPI*)(PCWSTR, UINT32*, PWSTR*, UINT32*, WCHAR*);
    const auto wines = Export<Fn>(GetModuleHandleW(L"kernel32.dll"), "GetPackagesByPackageFamily");
    return wines != nullptr ? wines(family, count, names, length, buf) : ERROR_NOT_SUPPORTED;
}

FARPROC WINAPI StandInGetProcAddress(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "RtlGetVersion") == 0 && g_answers.build != 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StandInRtlGetVersion));
    }
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "GetPackagesByPackageFamily") == 0) {
        switch (g_answers.store) {
        case PackageStore::Installed:
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StandInGetPackagesByPackageFamily));
        case PackageStore::Absent:
            return nullptr;
        case PackageStore::Wines:
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&WinesGetPackagesByPackageFamily));
        }
    }
    return GetProcAddress(module, name);
}

// The installer's notes of the package: its family name, and when it registered it (a FILETIME, UTC).
void WritePackageNote(HKEY root, const wchar_t* family) {
    const auto bytes = static_cast<DWORD>((std::wcslen(family) + 1) * sizeof(wchar_t));
    RegSetKeyValueW(root, L"Software\\Pathlift\\Package", L"FamilyName", REG_SZ, family, bytes);
}
void WriteRegistrationTime(HKEY root, ULONGLONG time) {
    RegSetKeyValueW(root, L"Software\\Pathlift\\Package", L"Registered", REG_QWORD, &time, sizeof(time));
}
ULONGLONG ThisProcessStarted() {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// CF_HDROP with the given paths, as the shell's data object gives it; none of them need exist.
class DropDataObject final : public IDataObject {
public:
    explicit DropDataObject(std::vector<std::wstring> paths) : paths_(std::move(paths)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (format->cfFormat != CF_HDROP || (format->tymed & TYMED_HGLOBAL) == 0) {
            return DV_E_FORMATETC;
        }
        std::wstring names;
        for (const std::wstring& path : paths_) {
            names += path + L'\0';
        }
        names += L'\0';
        const SIZE_T bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
        auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        std::memcpy(drop + 1, names.data(), names.size() * sizeof(wchar_t));
        GlobalUnlock(block);
        *medium = {};
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block; // the caller's ReleaseStgMedium frees it
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        return format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    std::vector<std::wstring> paths_;
};

class PackagedCommand : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY key = nullptr;
        machineKeyExisted_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Pathlift", 0, KEY_READ, &key) == 0;
        if (key != nullptr) {
            RegCloseKey(key);
        }
        DeleteNotes();
    }
    void TearDown() override {
        DeleteNotes();
        if (!machineKeyExisted_) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Pathlift");
        }
        g_answers = {};
        g_askedFamily.clear();
    }
    static void DeleteNotes() {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift\\Package");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Pathlift\\Package");
    }

    bool machineKeyExisted_ = false;
    TempDirectory dir_;
};

// Whether the classic entry is there, from a handler of a copy of the DLL loaded for the case alone: the answer
// about the package is kept for the life of a module, as Explorer keeps its process. Calls QueryContextMenu
// twice, changing what the system says in between (change()), and expects the same answer both times.
struct MenuAnswer {
    HRESULT first = E_UNEXPECTED;
    HRESULT second = E_UNEXPECTED;
    Lines lines;
};
template <class Change>
MenuAnswer AskAFreshModule(const std::wstring& copy, const std::vector<std::wstring>& selection, Change change) {
    MenuAnswer answer;
    if (!CopyFileW(BuiltDllPath().c_str(), copy.c_str(), FALSE)) {
        return answer;
    }
    HMODULE module = LoadLibraryW(copy.c_str());
    const auto getClassObject = Export<GetClassObjectFn>(module, "DllGetClassObject");
    ComPtr<IClassFactory> factory;
    ComPtr<IShellExtInit> init;
    ComPtr<IContextMenu> menu;
    DropDataObject data(selection);
    if (getClassObject == nullptr || FAILED(getClassObject(kClassId, IID_IClassFactory, factory.Out())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, init.Out())) ||
        FAILED(init->Initialize(nullptr, &data, nullptr)) ||
        FAILED(init->QueryInterface(IID_IContextMenu, menu.Out()))) {
        FreeLibrary(module);
        return answer;
    }
    {
        const ImportPatch patch(module, "GetProcAddress", reinterpret_cast<const void*>(&StandInGetProcAddress));
        for (HRESULT* hr : {&answer.first, &answer.second}) {
            HMENU popup = CreatePopupMenu();
            AppendMenuW(popup, MF_STRING, 1, L"first");
            Take();
            *hr = menu->QueryContextMenu(popup, 0, 100, 200, CMF_NORMAL);
            const Lines lines = Take();
            answer.lines.insert(answer.lines.end(), lines.begin(), lines.end());
            DestroyMenu(popup);
            change();
        }
    }
    menu.Reset();
    init.Reset();
    factory.Reset();
    FreeLibrary(module);
    Take();
    return answer;
}

// The classic entry steps aside only where Explorer shows ours: Windows 11, the installer's note, the noted family
// installed for the user, registered before this process started, and every item a file or a folder that is not a
// drive's or a share's root. Every other combination gives the entry, and the answer does not change while the
// module lives. The 32-bit build never steps aside: the processes it runs in cannot load the packaged command.
TEST_F(PackagedCommand, TheClassicEntryStepsAsideOnlyWhereExplorerShowsOurs) {
    constexpr bool k64BitBuild = sizeof(void*) == 8;
    const wchar_t* const ours = L"Pathlift_0a1b2c3d4e5f6";
    const wchar_t* const other = L"Pathlift_zzzzzzzzzzzzz";
    const ULONGLONG started = ThisProcessStarted();
    const ULONGLONG before = started - 600ull * 10000000; // ten minutes earlier
    const ULONGLONG after = started + 10000000;           // a second later
    enum Selection { File, FilesAndFolder, DriveRoot, ShareRoot, ShareRootSlash, LongDriveRoot, Volume, InAShare };
    const std::vector<std::wstring> selections[] = {
        {L"C:\\Users\\me\\a.txt"},
        {L"C:\\Users\\me\\a.txt", L"C:\\Users\\me\\Documents", L"\\\\server\\share\\folder"},
        {L"C:\\Users\\me\\a.txt", L"D:\\"},
        {L"\\\\server\\share"},
        {L"C:\\Users\\me\\a.txt", L"\\\\server\\share\\"},
        {L"\\\\?\\E:\\"},
        {L"\\\\?\\Volume{12345678-1234-1234-1234-123456789abc}\\"},
        {L"\\\\?\\UNC\\server\\share\\a folder", L"X:\\sub"},
    };
    struct Row {
        const char* name;
        SystemAnswers answers;
        const wchar_t* userNote;    // null: none
        const wchar_t* machineNote; // null: none
        ULONGLONG userTime;         // 0: none
        ULONGLONG machineTime;      // 0: none
        Selection selection;
        bool inserted;
        const wchar_t* asked; // the family the package store was asked about, "" for none; null: not checked
    };
    const Row rows[] = {
        {"Windows 11, the user's note, installed before",
         {22000, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         File,
         false,
         ours},
        {"files, a folder and a folder in a share",
         {22000, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         FilesAndFolder,
         false,
         ours},
        {"long-path and UNC-prefixed folders",
         {22000, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         InAShare,
         false,
         ours},
        {"a drive's root among the items",
         {22000, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         DriveRoot,
         true,
         ours},
        {"a share's root", {22000, PackageStore::Installed, ours}, ours, nullptr, before, 0, ShareRoot, true, ours},
        {"a share's root with its separator",
         {22000, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         ShareRootSlash,
         true,
         ours},
        {"a drive's root behind the long-path prefix",
         {22000, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         LongDriveRoot,
         true,
         ours},
        {"a volume without a letter",
         {22000, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         Volume,
         true,
         ours},
        {"registered after this process started",
         {22000, PackageStore::Installed, ours},
         ours,
         nullptr,
         after,
         0,
         File,
         true,
         L""},
        {"no registration time", {22000, PackageStore::Installed, ours}, ours, nullptr, 0, 0, File, true, L""},
        {"provisioned for the machine before, the machine's note",
         {22631, PackageStore::Installed, ours},
         nullptr,
         ours,
         0,
         before,
         File,
         false,
         ours},
        {"provisioned after this process started, an old user's time",
         {22631, PackageStore::Installed, ours},
         nullptr,
         ours,
         before,
         after,
         File,
         true,
         L""},
        {"the user's note is read first",
         {22000, PackageStore::Installed, ours},
         ours,
         other,
         before,
         0,
         File,
         false,
         ours},
        {"the user's note of a family not installed",
         {22000, PackageStore::Installed, ours},
         other,
         ours,
         before,
         0,
         File,
         true,
         other},
        {"an empty user's note, the machine's note",
         {22000, PackageStore::Installed, ours},
         L"",
         ours,
         before,
         0,
         File,
         false,
         ours},
        {"Windows 10's last build", {19045, PackageStore::Installed, ours}, ours, nullptr, before, 0, File, true, L""},
        {"the build just before Windows 11",
         {21999, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         File,
         true,
         L""},
        {"no note", {22000, PackageStore::Installed, ours}, nullptr, nullptr, before, 0, File, true, L""},
        {"the noted family not installed",
         {22000, PackageStore::Installed, other},
         ours,
         nullptr,
         before,
         0,
         File,
         true,
         ours},
        {"no package store function", {22000, PackageStore::Absent, ours}, ours, nullptr, before, 0, File, true, L""},
        {"Wine's own package store", {22000, PackageStore::Wines, L""}, ours, nullptr, before, 0, File, true, ours},
        {"Wine's own version and store",
         {0, PackageStore::Wines, L""},
         ours,
         ours,
         before,
         before,
         File,
         true,
         nullptr},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteNotes();
        for (const auto& [root, note, time] : {std::tuple{HKEY_CURRENT_USER, row.userNote, row.userTime},
                                               std::tuple{HKEY_LOCAL_MACHINE, row.machineNote, row.machineTime}}) {
            if (note != nullptr) {
                WritePackageNote(root, note);
            }
            if (time != 0) {
                WriteRegistrationTime(root, time);
            }
        }
        g_answers = row.answers;
        g_askedFamily.clear();
        std::wstring asked;
        // Between the two menus the system turns to the opposite answer: a package now registered before the
        // process started, or every note gone.
        bool changed = false;
        const MenuAnswer answer = AskAFreshModule(dir_.Path() + L"\\copy" + std::to_wstring(index++) + L".dll",
                                                  selections[row.selection], [&] {
                                                      if (changed) {
                                                          return;
                                                      }
                                                      changed = true;
                                                      asked = g_askedFamily;
                                                      DeleteNotes();
                                                      if (row.inserted) {
                                                          WritePackageNote(HKEY_CURRENT_USER, ours);
                                                          WriteRegistrationTime(HKEY_CURRENT_USER, before);
                                                          g_answers = {22631, PackageStore::Installed, ours};
                                                      }
                                                  });
        const bool inserted = row.inserted || !k64BitBuild;
        EXPECT_EQ(answer.first, inserted ? 1 : 0);
        EXPECT_EQ(answer.second, answer.first) << "the same answer for the life of the module";
        Lines lines;
        for (int menu = 0; menu < 2; ++menu) {
            lines.insert(lines.end(), {"CShellMenuExt::QueryContextMenu()\r\n", "CMF_NORMAL...\r\n"});
            if (!inserted) {
                lines.push_back("Packaged command registered...\r\n");
            }
        }
        EXPECT_EQ(answer.lines, lines);
        if (k64BitBuild && row.asked != nullptr) {
            EXPECT_EQ(asked, row.asked);
        }
    }
}

TEST(Handler, CommandStringsOfEveryKind) {
    ComPtr<IContextMenu> menu = Handler();
    Take();
    char narrow[128];
    wchar_t wide[128];

    std::memset(narrow, 'x', sizeof(narrow));
    EXPECT_EQ(menu->GetCommandString(0, GCS_VERBA, nullptr, narrow, 128), S_OK);
    EXPECT_STREQ(narrow, "Copy selected file name or path to clipboard.");
    EXPECT_EQ(Take(), Lines{"CShellMenuExt::GetCommandString()\r\n"});

    std::memset(narrow, 'x', sizeof(narrow));
    EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 128), S_OK);
    const unsigned char cp932[] = {0x91, 0x49, 0x91, 0xF0, 0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8B, 0x96,
                                   0xBC, 0x81, 0x5E, 0x83, 0x70, 0x83, 0x58, 0x82, 0xF0, 0x83, 0x4E, 0x83, 0x8A,
                                   0x83, 0x62, 0x83, 0x76, 0x83, 0x7B, 0x81, 0x5B, 0x83, 0x68, 0x82, 0xC9, 0x83,
                                   0x52, 0x83, 0x73, 0x81, 0x5B, 0x82, 0xB5, 0x82, 0xDC, 0x82, 0xB7, 0x81, 0x42};
    static_assert(sizeof(cp932) == 52);
    EXPECT_EQ(std::memcmp(narrow, cp932, 52), 0);
    EXPECT_EQ(narrow[52], '\0');
    EXPECT_EQ(narrow[53], 'x') << "nothing past the terminator";
    // The bytes are the code-page-932 form of the wide help text, whatever this system's own code page is.
    wchar_t converted[64] = {};
    MultiByteToWideChar(932, 0, narrow, -1, converted, 64);
    EXPECT_STREQ(converted, L"選択ファイル名／パスをクリップボードにコピーします。");

    EXPECT_EQ(menu->GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<char*>(wide), 128), S_OK);
    EXPECT_STREQ(wide, L"Copy selected file name or path to clipboard.");
    EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 128), S_OK);
    EXPECT_STREQ(wide, L"選択ファイル名／パスをクリップボードにコピーします。");

    // Untouched: another command id, and the kinds that are not ours.
    for (const auto& [id, kind] : std::vector<std::pair<UINT_PTR, UINT>>{
             {1, GCS_HELPTEXTW}, {1, GCS_VERBA}, {0, GCS_VALIDATEW}, {0, GCS_VALIDATEA}, {0, 7}}) {
        SCOPED_TRACE(kind);
        std::memset(narrow, 'x', sizeof(narrow));
        EXPECT_EQ(menu->GetCommandString(id, kind, nullptr, narrow, 128), S_OK);
        EXPECT_EQ(narrow[0], 'x');
    }
    Take();
}

TEST(Handler, SmallCommandStringBuffersGetACutTerminatedText) {
    ComPtr<IContextMenu> menu = Handler();
    char narrow[64];
    wchar_t wide[64];
    std::memset(narrow, 'x', sizeof(narrow));
    menu->GetCommandString(0, GCS_VERBA, nullptr, narrow, 5);
    EXPECT_STREQ(narrow, "Copy");
    EXPECT_EQ(narrow[5], 'x');

    // Five bytes hold two double-byte characters and the terminator; no half character is left.
    std::memset(narrow, 'x', sizeof(narrow));
    menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 6);
    EXPECT_EQ(std::string(narrow), std::string("\x91\x49\x91\xF0"));
    EXPECT_EQ(narrow[5], 'x');
    std::memset(narrow, 'x', sizeof(narrow));
    menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 1);
    EXPECT_EQ(narrow[0], '\0');
    EXPECT_EQ(narrow[1], 'x');

    std::fill(std::begin(wide), std::end(wide), L'x');
    menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 3);
    EXPECT_STREQ(wide, L"選択");
    EXPECT_EQ(wide[3], L'x');
    std::fill(std::begin(wide), std::end(wide), L'x');
    menu->GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<char*>(wide), 0);
    EXPECT_EQ(wide[0], L'x') << "no room at all: nothing written";
    Take();
}

TEST(Handler, InvokeCommandRefusesVerbsAndOtherOffsets) {
    ComPtr<IContextMenu> menu = Handler();
    Take();
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = "Copy selected file name or path to clipboard.";
    EXPECT_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
    EXPECT_EQ(Take(), Lines{"CShellMenuExt::InvokeCommand()\r\n"});
    info.lpVerb = MAKEINTRESOURCEA(1);
    EXPECT_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
    EXPECT_EQ(Take(), Lines{"CShellMenuExt::InvokeCommand()\r\n"});

    // No selection held: an empty list, which the dialog refuses, so no window and a failure result.
    info.lpVerb = MAKEINTRESOURCEA(0);
    const HRESULT hr = menu->InvokeCommand(&info);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(Take(), (Lines{"CShellMenuExt::InvokeCommand()\r\n", "CShellMenuExt::Pathlift()\r\n"}));
    EXPECT_TRUE(tools::CopyDialogsOfThisThread().empty());
}

// A data object that counts its references, to watch what Initialize holds.
class CountingDataObject final : public IDataObject {
public:
    ULONG references = 1;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP GetData(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return DV_E_FORMATETC; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
};

TEST(Handler, InitializeHoldsOneSelectionAtATime) {
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(Factory()->CreateInstance(nullptr, IID_IShellExtInit, init.Out()), S_OK);
    CountingDataObject first;
    CountingDataObject second;
    Take();
    EXPECT_EQ(init->Initialize(nullptr, &first, nullptr), S_OK);
    EXPECT_EQ(Take(), Lines{"CShellMenuExt::Initialize()\r\n"});
    EXPECT_EQ(first.references, 2u);
    EXPECT_EQ(init->Initialize(nullptr, &second, nullptr), S_OK);
    EXPECT_EQ(first.references, 1u);
    EXPECT_EQ(second.references, 2u);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(second.references, 1u);
    EXPECT_EQ(init->Initialize(nullptr, &first, nullptr), S_OK);
    init.Reset();
    EXPECT_EQ(first.references, 1u) << "the last Release lets go of the held selection";
    EXPECT_EQ(CanUnloadNow(), S_OK);
    Take();
}

TEST(Handler, TheDialogOutlivesTheHandlerAndKeepsTheModule) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"one file.txt"), dir.File(L"二つ目.txt"),
                                             dir.File(L"three.txt")};
    {
        ComPtr<IDataObject> data = ShellDataObject(files);
        ASSERT_TRUE(data);
        ComPtr<IShellExtInit> init;
        ASSERT_EQ(Factory()->CreateInstance(nullptr, IID_IShellExtInit, init.Out()), S_OK);
        ASSERT_EQ(init->Initialize(nullptr, data.get(), nullptr), S_OK);
        ComPtr<IContextMenu> menu;
        ASSERT_EQ(init->QueryInterface(IID_IContextMenu, menu.Out()), S_OK);
        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof(info);
        info.lpVerb = MAKEINTRESOURCEA(0);
        info.nShow = SW_HIDE; // not used: the dialog is shown all the same
        Take();
        EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
        EXPECT_EQ(Take(), (Lines{"CShellMenuExt::InvokeCommand()\r\n", "CShellMenuExt::Pathlift()\r\n"}));
    }
    const std::vector<HWND> dialogs = tools::CopyDialogsOfThisThread();
    ASSERT_EQ(dialogs.size(), 1u);
    HWND dialog = dialogs.front();
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "no COM object is left, but the dialog runs the module's code";

    SendDlgItemMessageW(dialog, 1020, BM_CLICK, 0, 0); // semicolons
    SendDlgItemMessageW(dialog, 1001, BM_CLICK, 0, 0); // Copy
    EXPECT_FALSE(IsWindow(dialog));
    OpenClipboard(nullptr);
    const auto* text = static_cast<const wchar_t*>(GlobalLock(GetClipboardData(CF_UNICODETEXT)));
    const std::wstring copied = text ? text : L"";
    GlobalUnlock(GetClipboardData(CF_UNICODETEXT));
    CloseClipboard();
    EXPECT_EQ(copied, files[0] + L";" + files[1] + L";" + files[2]);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    OleUninitialize();
}

// Opens the copy dialog for the files through a new handler, as the shell does; the handler is handed back. The
// class object comes from the module loaded for all tests unless another module's export is given.
HWND InvokeOnThisThread(const std::vector<std::wstring>& files, ComPtr<IContextMenu>& menu,
                        GetClassObjectFn getClassObject = nullptr) {
    ComPtr<IDataObject> data = ShellDataObject(files);
    ComPtr<IClassFactory> factory;
    (getClassObject != nullptr ? getClassObject : Loaded().getClassObject)(kClassId, IID_IClassFactory, factory.Out());
    ComPtr<IShellExtInit> init;
    if (!data || !factory || FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, init.Out())) ||
        FAILED(init->Initialize(nullptr, data.get(), nullptr)) ||
        FAILED(init->QueryInterface(IID_IContextMenu, menu.Out()))) {
        return nullptr;
    }
    const std::vector<HWND> before = tools::CopyDialogsOfThisThread();
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = MAKEINTRESOURCEA(0);
    menu->InvokeCommand(&info);
    for (HWND dialog : tools::CopyDialogsOfThisThread()) {
        if (std::find(before.begin(), before.end(), dialog) == before.end()) {
            return dialog;
        }
    }
    return nullptr;
}

// Two dialogs here and one on a second thread, each closed by an Esc that its thread's plain loop takes off the
// queue: the module stays while any dialog, and so any keyboard hook, is left, and then while an object is.
TEST(Handler, DialogsOnTwoThreadsAndTheLastObjectKeepTheModule) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"one file.txt")};
    ComPtr<IContextMenu> first, second;
    HWND dialogs[3] = {InvokeOnThisThread(files, first), InvokeOnThisThread(files, second), nullptr};
    second.Reset();
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&] {
        OleInitialize(nullptr);
        {
            ComPtr<IContextMenu> menu;
            dialogs[2] = InvokeOnThisThread(files, menu);
        }
        SetEvent(opened);
        tools::PumpUntilGone(dialogs[2], 20000);
        OleUninitialize();
    });
    WaitForSingleObject(opened, 10000);
    CloseHandle(opened);
    if (dialogs[0] == nullptr || dialogs[1] == nullptr || dialogs[2] == nullptr) {
        PostMessageW(dialogs[2], WM_CLOSE, 0, 0);
        other.join();
        FAIL() << "a dialog did not open";
    }
    for (int which : {0, 2, 1}) {
        EXPECT_EQ(CanUnloadNow(), S_FALSE) << "dialog " << which << " is still open";
        tools::PressKey(dialogs[which], VK_ESCAPE); // taken off the queue by that thread's plain loop
        EXPECT_TRUE(tools::PumpUntilGone(dialogs[which], 3000)) << "Esc closes dialog " << which;
    }
    other.join();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "a handler is still held";
    first.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
    OleUninitialize();
}

std::wstring ClipboardText() {
    std::wstring text;
    return tools::ReadClipboardText(text) ? text : L"<no text>";
}

// On Windows a CoUninitialize unloads every DLL the thread's COM loaded without asking DllCanUnloadNow (Wine's asks
// first), so a program that lets a file dialog start and stop COM frees the module under an open copy dialog. A
// copy of the DLL under a name of its own gives this test the only references to it.
TEST(ModuleLifetime, AnOpenDialogKeepsTheModuleMappedWhenTheHostFreesIt) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    TempDirectory dir;
    const std::wstring copy = dir.Path() + L"\\PathliftHeld.dll";
    ASSERT_TRUE(CopyFileW(BuiltDllPath().c_str(), copy.c_str(), FALSE));
    const std::vector<std::wstring> files = {dir.File(L"kept open.txt"), dir.File(L"開いたまま.txt")};
    HMODULE module = LoadLibraryW(copy.c_str()); // the host's reference, as COM takes it
    ASSERT_NE(module, nullptr);
    HWND dialog = nullptr;
    {
        ComPtr<IContextMenu> menu;
        dialog = InvokeOnThisThread(files, menu, Export<GetClassObjectFn>(module, "DllGetClassObject"));
    } // every object released
    ASSERT_NE(dialog, nullptr);
    FreeLibrary(module);
    EXPECT_EQ(GetModuleHandleW(copy.c_str()), module) << "the open dialog holds the module";

    tools::PressKey(dialog, VK_RETURN); // Copy, through the module's keyboard hook
    EXPECT_TRUE(tools::PumpUntilGone(dialog, 3000));
    EXPECT_EQ(ClipboardText(), files[0] + L"\r\n" + files[1]);

    // COM, loading it again later, asks the unload question and then frees it for good.
    HMODULE again = LoadLibraryW(copy.c_str());
    EXPECT_EQ(again, module);
    EXPECT_EQ(Export<CanUnloadNowFn>(again, "DllCanUnloadNow")(), S_OK);
    FreeLibrary(again);
    EXPECT_EQ(GetModuleHandleW(copy.c_str()), nullptr) << "nothing holds the module once the dialog is gone";
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
    OleUninitialize();
}

// A folder window's thread that ends takes its copy dialog with it, and the system sends the dialog no message.
TEST(ModuleLifetime, AThreadThatEndsWithADialogOpenLeavesNothingBehind) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"left behind.txt"), dir.File(L"next.txt")};
    HWND ended = nullptr;
    std::thread([&] {
        OleInitialize(nullptr);
        {
            ComPtr<IContextMenu> menu;
            ended = InvokeOnThisThread(files, menu);
        }
        OleUninitialize();
    }).join();
    ASSERT_NE(ended, nullptr);
    EXPECT_FALSE(IsWindow(ended)) << "the system destroyed the ended thread's dialog";
    EXPECT_EQ(CanUnloadNow(), S_OK) << "no dialog, hook or object of the ended thread is left";

    bool closed = false;
    std::thread([&] {
        OleInitialize(nullptr);
        {
            ComPtr<IContextMenu> menu;
            HWND dialog = InvokeOnThisThread(files, menu);
            tools::PressKey(dialog, VK_RETURN);
            closed = dialog != nullptr && tools::PumpUntilGone(dialog, 3000);
        }
        OleUninitialize();
    }).join();
    EXPECT_TRUE(closed) << "Enter copies and closes a dialog opened after the thread ended";
    EXPECT_EQ(ClipboardText(), files[0] + L"\r\n" + files[1]);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
    OleUninitialize();
}

TEST(ModuleImage, ExportsExactlyTheFourEntryPointsByNameAndOrdinal) {
    const auto* base = reinterpret_cast<const BYTE*>(Loaded().module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    EXPECT_EQ(exports->Base, 1u);
    ASSERT_EQ(exports->NumberOfFunctions, 4u);
    ASSERT_EQ(exports->NumberOfNames, 4u);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    std::vector<std::pair<std::string, DWORD>> found;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        found.emplace_back(reinterpret_cast<const char*>(base + names[i]), ordinals[i] + exports->Base);
    }
    const std::vector<std::pair<std::string, DWORD>> expected = {
        {"DllCanUnloadNow", 1}, {"DllGetClassObject", 2}, {"DllRegisterServer", 3}, {"DllUnregisterServer", 4}};
    EXPECT_EQ(found, expected);
    for (const auto& [name, ordinal] : expected) {
        EXPECT_EQ(GetProcAddress(Loaded().module, name.c_str()),
                  GetProcAddress(Loaded().module, MAKEINTRESOURCEA(ordinal)))
            << name;
    }
}

TEST(ModuleImage, VersionRecordInJapaneseWithUnicode) {
    const std::wstring path = BuiltDllPath();
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size));
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {{L"FileDescription", L"Pathlift Shell Extension"},
                                                                 {L"InternalName", L"Pathlift"},
                                                                 {L"ProductName", L"Pathlift"},
                                                                 {L"OriginalFilename", L"Pathlift.dll"},
                                                                 {L"FileVersion", L"1.1"},
                                                                 {L"ProductVersion", L"1.1"}};
    for (const auto& [name, value] : strings) {
        wchar_t* text = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041104b0\\") + name;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &size)) << name;
        EXPECT_STREQ(text, value);
    }
}

TEST(ModuleImage, ManifestAsksToRunAsInvokerWithoutUiAccess) {
    HRSRC resource = FindResourceW(Loaded().module, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    const auto* data = static_cast<const char*>(LockResource(LoadResource(Loaded().module, resource)));
    const std::string manifest(data, SizeofResource(Loaded().module, resource));
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("urn:schemas-microsoft-com:asm.v3"), std::string::npos);
}

} // namespace
} // namespace pathlift
