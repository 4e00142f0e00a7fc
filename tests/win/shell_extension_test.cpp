// The built Pathlift.dll as the shell and the COM runtime use it: trace lines, reference counts, the unload
// answer, the menu entry (and its absence where Windows 11 shows our packaged command), the command strings, the
// command itself, exports, version record and manifest.

#include "engine/win/unique_handles.h"
#include "shellext/packaged_command.h"
#include "tests/win/import_patch.h"
#include "tests/win/loaded_dll.h"
#include "tests/win/shell_support.h"
#include "tests/win/temp_directory.h"
#include "tests/win/trace_capture.h"
#include "tests/win/two_monitors.h"
#include "tools/console.h"
#include "tools/dialog_driver.h"

#include <gtest/gtest.h>

#include <olectl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <functional>
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

// A data object that counts its references, to watch what Initialize holds. It renders nothing; it says it offers
// CF_HDROP only when asked to, as the shell's data object does for files and folders and Windows' does not for
// This PC, Control Panel, the Recycle Bin or Network.
class CountingDataObject final : public IDataObject {
public:
    ULONG references = 1;
    bool offersHdrop = false;
    HGLOBAL block = nullptr; // a CF_HDROP block to hand out, which stays the test's (this object is its releaser)
    int renders = 0;         // GetData calls
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        ++renders;
        if (QueryGetData(format) != S_OK || block == nullptr) {
            return DV_E_FORMATETC;
        }
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        medium->pUnkForRelease = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        return offersHdrop && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
};

// A selection of `count` long paths as one CF_HDROP block, far larger than the memory left to the process.
HGLOBAL HugeDropBlock(std::size_t count) {
    const std::wstring name = L"C:\\" + std::wstring(200, L'x') + L"\\file.txt";
    const std::size_t bytes = sizeof(DROPFILES) + (count * (name.size() + 1) + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, bytes);
    auto* header = static_cast<DROPFILES*>(block);
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(header + 1);
    for (std::size_t i = 0; i < count; ++i, text += name.size() + 1) {
        std::memcpy(text, name.c_str(), name.size() * sizeof(wchar_t));
    }
    return block;
}

// A new handler initialised, as the shell does before it asks for the menu, with a selection of file-system items.
ComPtr<IContextMenu> Handler() {
    static CountingDataObject files;
    files.offersHdrop = true;
    ComPtr<IShellExtInit> init;
    Factory()->CreateInstance(nullptr, IID_IShellExtInit, init.Out());
    init->Initialize(nullptr, &files, nullptr);
    ComPtr<IContextMenu> menu;
    init->QueryInterface(IID_IContextMenu, menu.Out());
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

// Default-only wins over the other low bits: Explorer passes it with the explore bit for a double-click.
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
        {0x3, false, {entry, "CMF_DEFAULTONLY...\r\n"}},
        {0x4, true, {entry, "CMF_EXPLORE...\r\n"}},
        {0x5, false, {entry, "CMF_DEFAULTONLY...\r\n"}},
        {0x6, true, {entry, "CMF_VERBSONLY...\r\n"}},
        {0x7, false, {entry, "CMF_DEFAULTONLY...\r\n"}},
        {0x8, false, {entry, "CMF_default...\r\n", "uFlags==>8\r\n"}},
        {0x9, false, {entry, "CMF_DEFAULTONLY...\r\n"}},
        {0xC, true, {entry, "CMF_EXPLORE...\r\n"}},
        {0xD, false, {entry, "CMF_DEFAULTONLY...\r\n"}},
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

// Without CF_HDROP there is nothing to copy, and without a selection too: no entry, asked without rendering the data.
TEST(Handler, NoEntryForASelectionWithoutFileSystemPaths) {
    CountingDataObject thisPc;
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(Factory()->CreateInstance(nullptr, IID_IShellExtInit, init.Out()), S_OK);
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, menu.Out()), S_OK);
    for (IDataObject* data : {static_cast<IDataObject*>(&thisPc), static_cast<IDataObject*>(nullptr)}) {
        SCOPED_TRACE(data != nullptr ? "no CF_HDROP" : "never initialised");
        if (data != nullptr) {
            init->Initialize(nullptr, data, nullptr);
        }
        HMENU popup = CreatePopupMenu();
        Take();
        EXPECT_EQ(menu->QueryContextMenu(popup, 0, 100, 200, CMF_NORMAL), 0);
        EXPECT_EQ(Take(), (Lines{"CShellMenuExt::QueryContextMenu()\r\n", "CMF_NORMAL...\r\n"}));
        EXPECT_EQ(GetMenuItemCount(popup), 0);
        DestroyMenu(popup);
        init->Initialize(nullptr, nullptr, nullptr);
    }
    Take();
}

// --- Windows 11: where the classic entry steps aside for our packaged command -------------------------------------

// What the handler learns about Windows 11 and our package, as it finds the two system functions through
// GetProcAddress. The stand-ins follow the documented behaviour: RtlGetVersion fills the caller's OSVERSIONINFOW
// and returns STATUS_SUCCESS; GetPackagesByPackageFamily asked for sizes only (zero count, null buffers) returns
// ERROR_INSUFFICIENT_BUFFER with the number of the family's packages for the current user, or ERROR_SUCCESS and
// zero when there are none; on Windows 7 kernel32 has no such function (nor has Wine 8's).
enum class PackageStore { Installed, Absent };
struct SystemAnswers {
    DWORD build = 0; // 0: the prefix's own answer
    PackageStore store = PackageStore::Installed;
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

FARPROC WINAPI StandInGetProcAddress(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "RtlGetVersion") == 0 && g_answers.build != 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StandInRtlGetVersion));
    }
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "GetPackagesByPackageFamily") == 0) {
        return g_answers.store == PackageStore::Installed
                   ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StandInGetPackagesByPackageFamily))
                   : nullptr;
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

// The folder Initialize is given with a selection, as an absolute item id list (null: none).
enum class Folder { Files, DriveRoot, ThisPc, Desktop, None };
UniqueIdList FolderId(Folder folder, const std::wstring& files) {
    PIDLIST_ABSOLUTE id = nullptr;
    switch (folder) {
    case Folder::Files:
        id = SHSimpleIDListFromPath(files.c_str());
        break;
    case Folder::DriveRoot:
        id = SHSimpleIDListFromPath(L"C:\\");
        break;
    case Folder::ThisPc:
        SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &id);
        break;
    case Folder::Desktop:
        SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &id);
        break;
    case Folder::None:
        break;
    }
    return UniqueIdList(id);
}

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
MenuAnswer AskAFreshModule(const std::wstring& copy, PCIDLIST_ABSOLUTE folder, IDataObject* data, Change change) {
    MenuAnswer answer;
    if (!CopyFileW(BuiltDllPath().c_str(), copy.c_str(), FALSE)) {
        return answer;
    }
    HMODULE module = LoadLibraryW(copy.c_str());
    const auto getClassObject = Export<GetClassObjectFn>(module, "DllGetClassObject");
    ComPtr<IClassFactory> factory;
    ComPtr<IShellExtInit> init;
    ComPtr<IContextMenu> menu;
    if (getClassObject == nullptr || FAILED(getClassObject(kClassId, IID_IClassFactory, factory.Out())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, init.Out())) ||
        FAILED(init->Initialize(folder, data, nullptr)) || FAILED(init->QueryInterface(IID_IContextMenu, menu.Out()))) {
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

Lines MenuLines(bool inserted) {
    Lines lines;
    for (int menu = 0; menu < 2; ++menu) {
        lines.insert(lines.end(), {"CShellMenuExt::QueryContextMenu()\r\n", "CMF_NORMAL...\r\n"});
        if (!inserted) {
            lines.push_back("Packaged command registered...\r\n");
        }
    }
    return lines;
}

// The folder's path text says whether its items can be drive or share roots; Wine makes no item id list of a share
// or a server, so the text alone is asked here.
TEST(PackagedCommandFolder, ItemsOfADriveOrShareOrVolumeOrAFolderUnderOneAreFilesAndFolders) {
    const std::pair<std::u16string_view, bool> rows[] = {
        {u"C:\\", true},
        {u"C:\\Users\\me", true},
        {u"d:", true},
        {u"\\\\server\\share", true},
        {u"\\\\server\\share\\", true},
        {u"\\\\server\\share\\folder", true},
        {u"\\\\?\\C:\\", true},
        {u"\\\\?\\Volume{12345678-1234-1234-1234-123456789abc}\\", true},
        {u"\\\\?\\UNC\\server\\share", true},
        {u"\\\\server", false},
        {u"\\\\server\\", false},
        {u"\\\\?\\UNC\\server", false},
        {u"\\\\?\\", false},
        {u"", false},
        {u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", false},
        {u"1:\\", false},
    };
    for (const auto& [path, expected] : rows) {
        EXPECT_EQ(ItemsAreFilesAndFolders(path), expected)
            << std::string(path.begin(), path.end()); // ASCII in every row
    }
}

// Run as explorer.exe, in a prefix that reports Windows 11, by the test below. The classic entry steps aside only
// where Explorer shows ours: Windows 11, the installer's note, the noted family installed for the user, registered
// before this process started, and the selection's folder a file-system folder, whose items are files and folders,
// not This PC (drives), a server (shares) or the desktop (This PC, the Recycle Bin and the like among the files).
// Every other combination gives the entry, and the answer does not change while the module lives. The 32-bit build
// never steps aside: the processes it runs in cannot load the packaged command.
TEST_F(PackagedCommand, DISABLED_InExplorerTheClassicEntryStepsAsideOnlyWhereOursIsShown) {
    constexpr bool k64BitBuild = sizeof(void*) == 8;
    const wchar_t* const ours = L"Pathlift_0a1b2c3d4e5f6";
    const wchar_t* const other = L"Pathlift_zzzzzzzzzzzzz";
    const ULONGLONG started = ThisProcessStarted();
    const ULONGLONG before = started - 600ull * 10000000; // ten minutes earlier
    const ULONGLONG after = started + 10000000;           // a second later
    const SystemAnswers windows11 = {0, PackageStore::Installed, ours};
    struct Row {
        const char* name;
        SystemAnswers answers;
        const wchar_t* userNote;    // null: none
        const wchar_t* machineNote; // null: none
        ULONGLONG userTime;         // 0: none
        ULONGLONG machineTime;      // 0: none
        Folder folder;
        bool inserted;
        const wchar_t* asked; // the family the package store was asked about, "" for none
    };
    const Row rows[] = {
        {"the prefix's Windows 11, the user's note", windows11, ours, nullptr, before, 0, Folder::Files, false, ours},
        {"a drive's root as the folder", windows11, ours, nullptr, before, 0, Folder::DriveRoot, false, ours},
        {"This PC's drives", windows11, ours, nullptr, before, 0, Folder::ThisPc, true, ours},
        {"the desktop", windows11, ours, nullptr, before, 0, Folder::Desktop, true, L""},
        {"no folder", windows11, ours, nullptr, before, 0, Folder::None, true, L""},
        {"registered after this process started", windows11, ours, nullptr, after, 0, Folder::Files, true, L""},
        {"no registration time", windows11, ours, nullptr, 0, 0, Folder::Files, true, L""},
        {"provisioned for the machine before", windows11, nullptr, ours, 0, before, Folder::Files, false, ours},
        {"provisioned after this process started, an old user's time", windows11, nullptr, ours, before, after,
         Folder::Files, true, L""},
        {"the user's note is read first", windows11, ours, other, before, 0, Folder::Files, false, ours},
        {"the user's note of a family not installed", windows11, other, ours, before, 0, Folder::Files, true, other},
        {"an empty user's note, the machine's note", windows11, L"", ours, before, 0, Folder::Files, false, ours},
        {"no note", windows11, nullptr, nullptr, before, 0, Folder::Files, true, L""},
        {"the noted family not installed",
         {0, PackageStore::Installed, other},
         ours,
         nullptr,
         before,
         0,
         Folder::Files,
         true,
         ours},
        {"no package store function",
         {0, PackageStore::Absent, ours},
         ours,
         nullptr,
         before,
         0,
         Folder::Files,
         true,
         L""},
        {"Windows 10's last build",
         {19045, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         Folder::Files,
         true,
         L""},
        {"the build just before Windows 11",
         {21999, PackageStore::Installed, ours},
         ours,
         nullptr,
         before,
         0,
         Folder::Files,
         true,
         L""},
    };
    CountingDataObject files;
    files.offersHdrop = true;
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
        const UniqueIdList folder = FolderId(row.folder, dir_.Path());
        ASSERT_EQ(folder == nullptr, row.folder == Folder::None);
        std::wstring asked;
        // Between the two menus the system turns to the opposite answer: a package now registered before the
        // process started, or every note gone.
        bool changed = false;
        const MenuAnswer answer =
            AskAFreshModule(dir_.Path() + L"\\copy" + std::to_wstring(index++) + L".dll", folder.get(), &files, [&] {
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
        EXPECT_EQ(answer.lines, MenuLines(inserted));
        if (k64BitBuild) {
            EXPECT_EQ(asked, row.asked);
        }
    }
    EXPECT_EQ(files.renders, 0) << "no menu renders the selection";
}

// Run as explorer.exe as above: the answer comes from the folder alone, so the selection is never rendered (no
// GetData) whether it has one item or a hundred thousand.
TEST_F(PackagedCommand, DISABLED_InExplorerTheMenuRendersNoItemAtAnySize) {
    WritePackageNote(HKEY_CURRENT_USER, L"Pathlift_0a1b2c3d4e5f6");
    WriteRegistrationTime(HKEY_CURRENT_USER, ThisProcessStarted() - 600ull * 10000000);
    g_answers = {0, PackageStore::Installed, L"Pathlift_0a1b2c3d4e5f6"};
    const UniqueIdList folder = FolderId(Folder::Files, dir_.Path());
    int index = 0;
    for (const std::size_t items : {std::size_t{1}, std::size_t{100000}}) {
        SCOPED_TRACE(::testing::Message() << items << " items");
        CountingDataObject selection;
        selection.offersHdrop = true;
        selection.block = HugeDropBlock(items);
        const MenuAnswer answer = AskAFreshModule(dir_.Path() + L"\\sized" + std::to_wstring(index++) + L".dll",
                                                  folder.get(), &selection, [] {});
        EXPECT_EQ(answer.first, sizeof(void*) == 8 ? 0 : 1);
        EXPECT_EQ(selection.renders, 0);
        GlobalFree(selection.block);
    }
}

// The Windows version every process started from now on reads, both registry views, put back afterwards: Wine
// takes it from the NT keys when no Windows version is configured (Wine 8 has no name for Windows 11).
class PrefixReportsWindows11 {
public:
    PrefixReportsWindows11() {
        for (int view = 0; view < 2; ++view) {
            Saved& saved = saved_[view];
            saved.view = view == 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | saved.view, &saved.key) !=
                ERROR_SUCCESS) {
                continue;
            }
            DWORD size = sizeof(saved.build);
            saved.hadBuild = RegGetValueW(saved.key, nullptr, L"CurrentBuildNumber", RRF_RT_REG_SZ, nullptr,
                                          saved.build, &size) == ERROR_SUCCESS;
            size = sizeof(DWORD);
            saved.hadMajor = RegGetValueW(saved.key, nullptr, L"CurrentMajorVersionNumber", RRF_RT_REG_DWORD, nullptr,
                                          &saved.major, &size) == ERROR_SUCCESS;
            const DWORD major = 10;
            const DWORD minor = 0;
            RegSetValueExW(saved.key, L"CurrentMajorVersionNumber", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&major),
                           sizeof(major));
            RegSetValueExW(saved.key, L"CurrentMinorVersionNumber", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&minor),
                           sizeof(minor));
            RegSetValueExW(saved.key, L"CurrentBuildNumber", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"22000"),
                           sizeof(L"22000"));
        }
    }
    ~PrefixReportsWindows11() {
        for (Saved& saved : saved_) {
            if (saved.key == nullptr) {
                continue;
            }
            if (saved.hadBuild) {
                RegSetValueExW(saved.key, L"CurrentBuildNumber", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved.build),
                               static_cast<DWORD>((std::wcslen(saved.build) + 1) * sizeof(wchar_t)));
            }
            if (!saved.hadMajor) {
                RegDeleteValueW(saved.key, L"CurrentMajorVersionNumber");
                RegDeleteValueW(saved.key, L"CurrentMinorVersionNumber");
            }
            RegCloseKey(saved.key);
        }
    }
    PrefixReportsWindows11(const PrefixReportsWindows11&) = delete;
    PrefixReportsWindows11& operator=(const PrefixReportsWindows11&) = delete;

private:
    static constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
    struct Saved {
        REGSAM view = 0;
        HKEY key = nullptr;
        bool hadBuild = false;
        bool hadMajor = false;
        wchar_t build[32] = {};
        DWORD major = 0;
    };
    Saved saved_[2];
};

// This test program copied as explorer.exe beside itself (the module is found from there), run with a filter.
DWORD RunAsExplorer(const wchar_t* filter) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring explorer = self;
    explorer = explorer.substr(0, explorer.find_last_of(L"\\/") + 1) + L"explorer.exe";
    if (!CopyFileW(self, explorer.c_str(), FALSE)) {
        return GetLastError();
    }
    std::wstring command = L"\"" + explorer + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, 120000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteFileW(explorer.c_str());
    return code;
}

TEST(PackagedCommandHost, InExplorerOnWindows11TheClassicEntryStepsAsideAndTheMenuRendersNothing) {
    const PrefixReportsWindows11 windows11;
    EXPECT_EQ(RunAsExplorer(L"PackagedCommand.DISABLED_InExplorer*"), 0u)
        << "the cases run as explorer.exe failed: see their output above";
}

// Another program's open or save dialog shows the classic menu; whether it shows packaged verbs is not documented,
// so with everything else as where the entry steps aside in Explorer, it stays here, and the package store is not
// even asked.
TEST_F(PackagedCommand, TheClassicEntryStaysInAHostThatIsNotExplorer) {
    WritePackageNote(HKEY_CURRENT_USER, L"Pathlift_0a1b2c3d4e5f6");
    WriteRegistrationTime(HKEY_CURRENT_USER, ThisProcessStarted() - 600ull * 10000000);
    g_answers = {22631, PackageStore::Installed, L"Pathlift_0a1b2c3d4e5f6"};
    const UniqueIdList folder = FolderId(Folder::Files, dir_.Path());
    CountingDataObject files;
    files.offersHdrop = true;
    const MenuAnswer answer = AskAFreshModule(dir_.Path() + L"\\host.dll", folder.get(), &files, [] {});
    EXPECT_EQ(answer.first, 1);
    EXPECT_EQ(answer.lines, MenuLines(true));
    EXPECT_EQ(g_askedFamily, L"");
    EXPECT_EQ(files.renders, 0);
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

    // Validation says which offsets are ours; another offset or a kind we have no string of is an error. None of
    // them writes anything.
    struct Row {
        UINT_PTR id;
        UINT kind;
        HRESULT result;
    };
    for (const Row& row :
         {Row{0, GCS_VALIDATEW, S_OK}, Row{0, GCS_VALIDATEA, S_OK}, Row{1, GCS_VALIDATEW, S_FALSE},
          Row{1, GCS_VALIDATEA, S_FALSE}, Row{1, GCS_HELPTEXTW, E_INVALIDARG}, Row{1, GCS_VERBA, E_INVALIDARG},
          Row{1, GCS_VERBW, E_INVALIDARG}, Row{0, 7, E_INVALIDARG}, Row{0, GCS_UNICODE | 8, E_INVALIDARG}}) {
        SCOPED_TRACE(::testing::Message() << "offset " << row.id << ", kind " << row.kind);
        std::memset(narrow, 'x', sizeof(narrow));
        EXPECT_EQ(menu->GetCommandString(row.id, row.kind, nullptr, narrow, 128), row.result);
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

// The verb GetCommandString hands out, in any letter case and in either record's text, and offset 0 are ours; the
// shell's own verbs and any other text or offset are not. A handler without a selection opens no dialog either way.
TEST(Handler, InvokeCommandTakesOurVerbAndOffsetZeroOnly) {
    struct Row {
        const char* name;
        const char* verb;    // lpVerb; null: offset 0, (const char*)1: offset 1
        const wchar_t* wide; // lpVerbW of an extended record; null: a plain record
        bool unicode;        // CMIC_MASK_UNICODE
        bool ours;
    };
    const char* const offset1 = MAKEINTRESOURCEA(1);
    const Row rows[] = {
        {"offset 0", nullptr, nullptr, false, true},
        {"offset 1", offset1, nullptr, false, false},
        {"our verb", "Copy selected file name or path to clipboard.", nullptr, false, true},
        {"our verb in capitals", "COPY SELECTED FILE NAME OR PATH TO CLIPBOARD.", nullptr, false, true},
        {"our verb without its full stop", "Copy selected file name or path to clipboard", nullptr, false, false},
        {"open", "open", nullptr, false, false},
        {"properties", "properties", nullptr, false, false},
        {"copy", "copy", nullptr, false, false},
        {"wide, as Explorer sends it", "Copy selected file name or path to clipboard.",
         L"Copy selected file name or path to clipboard.", true, true},
        {"wide in lower case", "x", L"copy selected file name or path to clipboard.", true, true},
        {"the wide verb decides", "Copy selected file name or path to clipboard.", L"open", true, false},
        {"a wide verb without the Unicode bit is not read", "open", L"Copy selected file name or path to clipboard.",
         false, false},
        {"a wide offset: the ANSI verb", "Copy selected file name or path to clipboard.", MAKEINTRESOURCEW(1), true,
         true},
    };
    ComPtr<IContextMenu> menu = Handler();
    Take();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CMINVOKECOMMANDINFOEX info = {};
        info.cbSize = row.wide != nullptr ? sizeof(CMINVOKECOMMANDINFOEX) : sizeof(CMINVOKECOMMANDINFO);
        info.fMask = row.unicode ? CMIC_MASK_UNICODE : 0;
        info.lpVerb = row.verb != nullptr ? row.verb : MAKEINTRESOURCEA(0);
        info.lpVerbW = row.wide;
        const HRESULT hr = menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
        Lines lines = {"CShellMenuExt::InvokeCommand()\r\n"};
        if (row.ours) {
            lines.push_back("CShellMenuExt::Pathlift()\r\n");
            EXPECT_TRUE(FAILED(hr) && hr != E_INVALIDARG) << "the empty selection is refused: " << std::hex << hr;
        } else {
            EXPECT_EQ(hr, E_INVALIDARG);
        }
        EXPECT_EQ(Take(), lines);
        EXPECT_TRUE(tools::CopyDialogsOfThisProcess().empty());
    }
    // InvokeCommand returns once the dialog's thread has answered; the thread still runs the module's code
    // until it ends, and the unload question says so until then.
    menu.Reset();
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000)) << "each refused dialog's thread ends";
}

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

std::wstring ClipboardText() {
    std::wstring text;
    return tools::ReadClipboardText(text) ? text : L"<no text>";
}

// Text put on the clipboard by the test, so that a Copy that copies nothing leaves it there.
bool PutOnClipboard(const std::wstring& text) {
    if (!tools::OpenClipboardPatiently()) {
        return false;
    }
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(block);
    const bool set = SetClipboardData(CF_UNICODETEXT, block) != nullptr; // the clipboard owns the block from here
    CloseClipboard();
    return set;
}

// The dialog that appeared since `before` was taken; null when none did.
HWND NewDialog(const std::vector<HWND>& before) {
    for (HWND dialog : tools::CopyDialogsOfThisProcess()) {
        if (std::find(before.begin(), before.end(), dialog) == before.end()) {
            return dialog;
        }
    }
    return nullptr;
}

// A handler for the files as the shell makes one: class object, Initialize with the shell's own data object, the
// menu built. The class object comes from the module loaded for all tests unless another module's export is given.
ComPtr<IContextMenu> ShellHandler(const std::vector<std::wstring>& files, GetClassObjectFn getClassObject = nullptr) {
    ComPtr<IDataObject> data = ShellDataObject(files);
    ComPtr<IClassFactory> factory;
    (getClassObject != nullptr ? getClassObject : Loaded().getClassObject)(kClassId, IID_IClassFactory, factory.Out());
    ComPtr<IShellExtInit> init;
    ComPtr<IContextMenu> menu;
    if (!data || !factory || FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, init.Out())) ||
        FAILED(init->Initialize(nullptr, data.get(), nullptr)) ||
        FAILED(init->QueryInterface(IID_IContextMenu, menu.Out()))) {
        return {};
    }
    HMENU popup = CreatePopupMenu();
    menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
    DestroyMenu(popup);
    return menu;
}

// Opens the copy dialog for the files by offset 0 through a new handler, as Wine's shell does, from `invoker`.
HWND InvokeOnThisThread(const std::vector<std::wstring>& files, GetClassObjectFn getClassObject = nullptr,
                        HWND invoker = nullptr) {
    ComPtr<IContextMenu> menu = ShellHandler(files, getClassObject);
    if (!menu) {
        return nullptr;
    }
    const std::vector<HWND> before = tools::CopyDialogsOfThisProcess();
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.hwnd = invoker;
    info.lpVerb = MAKEINTRESOURCEA(0);
    menu->InvokeCommand(&info);
    return NewDialog(before);
}

TEST(Handler, TheDialogOutlivesTheHandlerAndKeepsTheModule) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"one file.txt"), dir.File(L"二つ目.txt"),
                                             dir.File(L"three.txt")};
    const std::vector<HWND> before = tools::CopyDialogsOfThisProcess();
    {
        ComPtr<IContextMenu> menu = ShellHandler(files);
        ASSERT_TRUE(menu);
        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof(info);
        info.lpVerb = MAKEINTRESOURCEA(0);
        info.nShow = SW_HIDE; // not used: the dialog is shown all the same
        Take();
        EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
        EXPECT_EQ(Take(), (Lines{"CShellMenuExt::InvokeCommand()\r\n", "CShellMenuExt::Pathlift()\r\n"}));
    }
    HWND dialog = NewDialog(before);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
    EXPECT_NE(GetWindowThreadProcessId(dialog, nullptr), GetCurrentThreadId()) << "the dialog has a thread of its own";
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "no COM object is left, but the dialog runs the module's code";

    SendDlgItemMessageW(dialog, 1020, BM_CLICK, 0, 0); // semicolons
    SendDlgItemMessageW(dialog, 1001, BM_CLICK, 0, 0); // Copy
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(ClipboardText(), files[0] + L";" + files[1] + L";" + files[2]);
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000))
        << "the dialog's thread ends with the dialog";
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    OleUninitialize();
}

// Explorer hands the chosen command to a worker thread: it asks the menu's handler for the item's verb, makes a
// second handler there for the same selection, invokes it with that verb (ANSI and wide, CMIC_MASK_UNICODE), lets it
// go and ends the thread ("Don't forget to implement canonical names for verbs in your shell context menu
// extension", The Old New Thing, 2017-03-02). Wine's shell invokes by offset on the menu's own thread instead.
HRESULT InvokeLikeExplorer(const std::vector<std::wstring>& files, const std::string& verb, const std::wstring& wide,
                           HWND invoker) {
    HRESULT hr = E_UNEXPECTED;
    std::thread([&] {
        OleInitialize(nullptr);
        {
            ComPtr<IContextMenu> menu = ShellHandler(files);
            CMINVOKECOMMANDINFOEX info = {};
            info.cbSize = sizeof(info);
            info.fMask = CMIC_MASK_UNICODE;
            info.hwnd = invoker;
            info.lpVerb = verb.c_str();
            info.lpVerbW = wide.c_str();
            info.nShow = SW_SHOWNORMAL;
            if (menu) {
                hr = menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
            }
        }
        OleUninitialize();
    }).join();
    return hr;
}

TEST(ExplorerInvoke, AWorkerThreadInvokesOurVerbAndEndsAndTheDialogStaysAndCopies) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"worker one.txt"), dir.File(L"二つ目.txt")};
    ComPtr<IContextMenu> shown = ShellHandler(files);
    ASSERT_TRUE(shown);
    char verb[128] = {};
    wchar_t wide[128] = {};
    ASSERT_EQ(shown->GetCommandString(0, GCS_VERBA, nullptr, verb, 128), S_OK);
    ASSERT_EQ(shown->GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<char*>(wide), 128), S_OK);
    std::string upperVerb = verb;
    std::wstring upperWide = wide;
    for (char& c : upperVerb) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (wchar_t& c : upperWide) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    struct Row {
        const char* name;
        std::string verb;
        std::wstring wide;
        WORD key;
        const wchar_t* clipboard; // null: the text of the files
    };
    const Row rows[] = {{"as handed out, Enter", verb, wide, VK_RETURN, nullptr},
                        {"in capitals, Esc", upperVerb, upperWide, VK_ESCAPE, L"kept"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(PutOnClipboard(L"kept"));
        const std::vector<HWND> before = tools::CopyDialogsOfThisProcess();
        EXPECT_EQ(InvokeLikeExplorer(files, row.verb, row.wide, nullptr), S_OK);
        HWND dialog = NewDialog(before);
        ASSERT_NE(dialog, nullptr) << "the dialog outlives the worker thread";
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
        tools::PressKey(dialog, row.key); // taken by the dialog thread's own loop; this thread takes no messages
        EXPECT_TRUE(tools::WaitUntil([dialog] { return !IsWindow(dialog); }, 3000));
        EXPECT_EQ(ClipboardText(), row.clipboard != nullptr ? row.clipboard : files[0] + L"\r\n" + files[1]);
    }
    EXPECT_EQ(InvokeLikeExplorer(files, "open", L"open", nullptr), E_INVALIDARG);
    EXPECT_EQ(InvokeLikeExplorer(files, "pathlift.made-up", L"pathlift.made-up", nullptr), E_INVALIDARG);
    EXPECT_TRUE(tools::CopyDialogsOfThisProcess().empty());
    shown.Reset();
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
    OleUninitialize();
}

// Explorer's process reference (SHSetInstanceExplorer): a UI thread of an extension holds it while it runs, so that
// Explorer, which waits for it to be let go before its process ends, does not end under the dialog.
class ProcessReference final : public IUnknown {
public:
    std::atomic<ULONG> references{1};
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
};

// The thread that invoked the command takes no message again until the dialog is gone: the dialog is not held up,
// and holds the host's process reference while it is open.
TEST(ExplorerInvoke, AnInvokingThreadThatStopsTakingMessagesLeavesTheDialogWorking) {
    ProcessReference process;
    SHSetInstanceExplorer(&process);
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"stuck.txt")};
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE invoked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND dialog = nullptr;
    std::thread stuck([&] {
        OleInitialize(nullptr);
        dialog = InvokeOnThisThread(files);
        SetEvent(invoked);
        WaitForSingleObject(release, 20000); // not a message loop
        OleUninitialize();
    });
    WaitForSingleObject(invoked, 10000);
    EXPECT_NE(dialog, nullptr);
    EXPECT_EQ(process.references, 2u) << "the dialog's thread holds the process reference";
    if (dialog != nullptr) {
        PutOnClipboard(L"kept");
        tools::PressKey(dialog, VK_RETURN);
        EXPECT_TRUE(tools::WaitUntil([dialog] { return !IsWindow(dialog); }, 3000));
        EXPECT_EQ(ClipboardText(), files[0]);
    }
    SetEvent(release);
    stuck.join();
    CloseHandle(release);
    CloseHandle(invoked);
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000));
    EXPECT_EQ(process.references, 1u) << "given back as the dialog's thread ends";
    SHSetInstanceExplorer(nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
    OleUninitialize();
}

// WNetGetUniversalNameW for a mapped drive whose server does not answer: Windows waits for the network's time-out
// before it refuses (ERROR_BAD_DEVICE here, so the path stays as it is). Made 3 s long.
std::atomic<int> g_slowQueries{0};
DWORD WINAPI UnreachableServer(LPCWSTR, DWORD, LPVOID, LPDWORD) {
    ++g_slowQueries;
    Sleep(3000);
    return ERROR_BAD_DEVICE;
}

// A Copy that waits on the network runs on the dialog's thread: the window thread that invoked it goes on
// answering the messages other programs send it.
TEST(ExplorerInvoke, ACopyWaitingOnTheNetworkLeavesTheInvokingThreadAnswering) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    const DWORD universal = 3;
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Pathlift", L"Mode", REG_DWORD, &universal, sizeof(universal));
    const ImportPatch patch(Loaded().module, "WNetGetUniversalNameW",
                            reinterpret_cast<const void*>(&UnreachableServer));
    ASSERT_TRUE(patch.Patched());
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"on the share.txt")};
    HWND window =
        CreateWindowW(L"STATIC", L"folder window", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND dialog = InvokeOnThisThread(files, nullptr, window);
    ASSERT_NE(dialog, nullptr);
    g_slowQueries = 0;
    PostMessageW(GetDlgItem(dialog, 1001), BM_CLICK, 0, 0); // Copy
    ASSERT_TRUE(tools::WaitUntil([] { return g_slowQueries > 0; }, 3000));
    ULONGLONG answeredAfter = 0;
    std::thread other([&] {
        const ULONGLONG start = GetTickCount64();
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);
        answeredAfter = GetTickCount64() - start;
    });
    tools::PumpUntil([&] { return answeredAfter != 0 || !IsWindow(dialog); }, 10000);
    other.join();
    EXPECT_LT(answeredAfter, 500u) << "the Copy's 3 s wait must not hold up the invoking thread";
    EXPECT_TRUE(tools::PumpUntilGone(dialog, 10000));
    EXPECT_EQ(ClipboardText(), files[0]);
    DestroyWindow(window);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000));
    Take();
    OleUninitialize();
}

// --- The dialog's DPI awareness, monitor, size and place --------------------------------------------------------

// Wine 8 refuses per-monitor v2 (ERROR_INVALID_PARAMETER) and takes per-monitor v1, whose awareness is the same
// (DPI_AWARENESS_PER_MONITOR_AWARE); the module passes the invoker's context on without looking at its version.
DPI_AWARENESS_CONTEXT SetThreadAwareness(DPI_AWARENESS_CONTEXT context) {
    using SetFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto set = Export<SetFn>(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext");
    if (set == nullptr) {
        return nullptr;
    }
    DPI_AWARENESS_CONTEXT previous = set(context);
    if (previous == nullptr && context == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) {
        previous = set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
    }
    return previous;
}

// Invokes the command by offset 0 on a thread of its own in the given DPI awareness, from `window`, at the point
// when one is given, as Explorer's folder window threads do; returns the dialog, which outlives the thread.
HWND InvokeInAwareness(DPI_AWARENESS_CONTEXT awareness, const std::vector<std::wstring>& files, HWND window,
                       const POINT* invokedAt) {
    HWND dialog = nullptr;
    std::atomic<bool> done{false};
    std::thread invoker([&] {
        OleInitialize(nullptr);
        if (SetThreadAwareness(awareness) != nullptr) {
            ComPtr<IContextMenu> menu = ShellHandler(files);
            const std::vector<HWND> before = tools::CopyDialogsOfThisProcess();
            CMINVOKECOMMANDINFOEX info = {};
            info.cbSize = sizeof(info);
            info.hwnd = window;
            info.lpVerb = MAKEINTRESOURCEA(0);
            if (invokedAt != nullptr) {
                info.fMask = CMIC_MASK_PTINVOKE;
                info.ptInvoke = *invokedAt;
            }
            if (menu && SUCCEEDED(menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)))) {
                dialog = NewDialog(before);
            }
        }
        OleUninitialize();
        done = true;
    });
    tools::PumpUntil([&] { return done.load(); }, 10000); // the caller's windows answer what is sent to them
    invoker.join();
    return dialog;
}

RECT WindowRect(HWND window) {
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

void CloseDialog(HWND dialog) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(tools::WaitUntil([dialog] { return !IsWindow(dialog); }, 3000));
}

// A thread starts in the process's awareness, not its creator's; the dialog's thread takes the invoker's.
TEST(DialogDpi, TheDialogHasTheInvokingThreadsAwareness) {
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"aware.txt")};
    const std::pair<DPI_AWARENESS_CONTEXT, DPI_AWARENESS> rows[] = {
        {DPI_AWARENESS_CONTEXT_UNAWARE, DPI_AWARENESS_UNAWARE},
        {DPI_AWARENESS_CONTEXT_SYSTEM_AWARE, DPI_AWARENESS_SYSTEM_AWARE},
        {DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, DPI_AWARENESS_PER_MONITOR_AWARE},
    };
    for (const auto& [context, awareness] : rows) {
        SCOPED_TRACE(::testing::Message() << "invoker's awareness " << awareness);
        HWND dialog = InvokeInAwareness(context, files, nullptr, nullptr);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(WindowAwareness(dialog), awareness);
        CloseDialog(dialog);
    }
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
}

// The monitor is the invocation point's, else the invoking window's, else the cursor's; there a per-monitor aware
// dialog is sized for that monitor's DPI (the minimum 435 x 306 at 96 DPI, twice that at 192, the template's size
// at 192 twice its size at 96) and centred on its work area; a dialog of any other awareness keeps the one DPI of
// its thread. A desktop folder view spans both monitors and lies mostly on the larger.
TEST(DialogPlacement, OnTheMonitorInvokedAtSizedForItsDpiAndCentredOnItsWorkArea) {
    const TwoMonitors monitors(Loaded().module);
    ASSERT_TRUE(monitors.Patched());
    TempDirectory dir;
    const std::vector<std::wstring> files = {dir.File(L"placed.txt")};
    HWND desktop = CreateWindowW(L"STATIC", L"desktop folder view", WS_POPUP, 0, 0, 4480, 1440, nullptr, nullptr,
                                 nullptr, nullptr);
    HWND onSmaller =
        CreateWindowW(L"STATIC", L"folder window", WS_POPUP, 3000, 100, 800, 600, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(FakeMonitorFromWindow(desktop, MONITOR_DEFAULTTONEAREST), kPrimary.handle);
    const POINT onPrimary = {1000, 700};
    const POINT onSmallerMonitor = {3500, 600};
    const auto perMonitor = DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2;
    struct Row {
        const char* name;
        DPI_AWARENESS_CONTEXT awareness;
        HWND window;
        const POINT* invokedAt;
        POINT cursor;
        const FakeMonitor* monitor;
        int scale; // the size in units of the per-monitor dialog's size at 96 DPI
    };
    const Row rows[] = {
        {"per-monitor, invoked on the primary", perMonitor, desktop, &onPrimary, {3500, 600}, &kPrimary, 1},
        {"per-monitor, invoked on the smaller under the view",
         perMonitor,
         desktop,
         &onSmallerMonitor,
         {10, 10},
         &kSmallerAt200,
         2},
        {"per-monitor, the view without a point", perMonitor, desktop, nullptr, {3500, 600}, &kPrimary, 1},
        {"per-monitor, a window on the smaller", perMonitor, onSmaller, nullptr, {10, 10}, &kSmallerAt200, 2},
        {"per-monitor, no window: the cursor's", perMonitor, nullptr, nullptr, {3500, 600}, &kSmallerAt200, 2},
        {"unaware, invoked on the smaller",
         DPI_AWARENESS_CONTEXT_UNAWARE,
         desktop,
         &onSmallerMonitor,
         {10, 10},
         &kSmallerAt200,
         1},
        {"system aware, invoked on the smaller",
         DPI_AWARENESS_CONTEXT_SYSTEM_AWARE,
         desktop,
         &onSmallerMonitor,
         {10, 10},
         &kSmallerAt200,
         1},
    };
    int width96 = 0;
    int height96 = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_fakeCursor = row.cursor;
        HWND dialog = InvokeInAwareness(row.awareness, files, row.window, row.invokedAt);
        ASSERT_NE(dialog, nullptr);
        const RECT placed = WindowRect(dialog);
        const RECT& work = row.monitor->work;
        const int width = placed.right - placed.left;
        const int height = placed.bottom - placed.top;
        if (width96 == 0) {
            width96 = width;
            height96 = height;
            EXPECT_GE(width, 435);
            EXPECT_GE(height, 306);
        }
        EXPECT_EQ(width, width96 * row.scale);
        EXPECT_EQ(height, height96 * row.scale);
        EXPECT_EQ(placed.left, work.left + (work.right - work.left - width) / 2);
        EXPECT_EQ(placed.top, work.top + (work.bottom - work.top - height) / 2);
        EXPECT_TRUE(Inside(placed, work));
        CloseDialog(dialog);
    }
    DestroyWindow(desktop);
    DestroyWindow(onSmaller);
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
}

// WM_DPICHANGED as Windows sends it when the scaling of the dialog's monitor changes: the suggested rectangle
// keeps the top left corner and scales the size. The dialog takes it, grown where it is below the minimum at the
// new DPI, and stays inside the work area.
TEST(DialogPlacement, ADpiChangeTakesTheSuggestedRectangleAtLeastTheMinimumAtTheNewDpi) {
    const TwoMonitors monitors(Loaded().module);
    ASSERT_TRUE(monitors.Patched());
    TempDirectory dir;
    const POINT onSmallerMonitor = {3500, 600};
    HWND dialog = InvokeInAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, {dir.File(L"rescaled.txt")}, nullptr,
                                    &onSmallerMonitor);
    ASSERT_NE(dialog, nullptr);
    const RECT at192 = WindowRect(dialog);
    const int width = at192.right - at192.left;
    const int height = at192.bottom - at192.top;
    struct Row {
        const char* name;
        UINT dpi;
        RECT suggested;
        RECT expected;
    };
    const Row rows[] = {
        {"to 100 %",
         96,
         {at192.left, at192.top, at192.left + width / 2, at192.top + height / 2},
         {at192.left, at192.top, at192.left + width / 2, at192.top + height / 2}},
        {"back to 200 %", 192, at192, at192},
        {"to 200 %, a rectangle below the minimum",
         192,
         {at192.left, at192.top, at192.left + 800, at192.top + 600},
         {at192.left, at192.top, at192.left + std::max(800, 870), at192.top + std::max(600, 612)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RECT suggested = row.suggested;
        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(row.dpi, row.dpi), reinterpret_cast<LPARAM>(&suggested));
        const RECT now = WindowRect(dialog);
        EXPECT_TRUE(EqualRect(&now, &row.expected))
            << now.left << "," << now.top << " to " << now.right << "," << now.bottom;
        EXPECT_TRUE(Inside(now, kSmallerAt200.work));
    }
    CloseDialog(dialog);
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
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
    HWND dialog = InvokeOnThisThread(files, Export<GetClassObjectFn>(module, "DllGetClassObject"));
    ASSERT_NE(dialog, nullptr);
    FreeLibrary(module);
    EXPECT_EQ(GetModuleHandleW(copy.c_str()), module) << "the open dialog holds the module";

    tools::PressKey(dialog, VK_RETURN); // Copy, taken by the dialog thread's own loop
    EXPECT_TRUE(tools::WaitUntil([dialog] { return !IsWindow(dialog); }, 3000));
    EXPECT_EQ(ClipboardText(), files[0] + L"\r\n" + files[1]);
    EXPECT_TRUE(tools::WaitUntil([&] { return GetModuleHandleW(copy.c_str()) == nullptr; }, 3000))
        << "the dialog's thread gives its reference back as it ends";
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    Take();
    OleUninitialize();
}

constexpr wchar_t kForeignRuntimeVariable[] = L"PATHLIFT_LOAD_MINGW_RUNTIME_FIRST";

// Runs in a process of its own, started below: a program built with MinGW has loaded GCC's shared runtime before
// our DLL, then the address space runs out but for 16 MiB, and a right-click on 100,000 long paths follows.
TEST(ForeignRuntime, DISABLED_OutOfMemoryInAHostWithGccsRuntime) {
    wchar_t load[8] = {};
    if (GetEnvironmentVariableW(kForeignRuntimeVariable, load, 8) != 0 && load[0] == L'1') {
#ifdef PATHLIFT_HOST_LIBGCC
        ASSERT_NE(LoadLibraryW(PATHLIFT_HOST_WINPTHREAD), nullptr);
        ASSERT_NE(LoadLibraryW(PATHLIFT_HOST_LIBGCC), nullptr);
#endif
    }
    CountingDataObject drop;
    drop.offersHdrop = true;
    drop.block = HugeDropBlock(100000);
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(Factory()->CreateInstance(nullptr, IID_IShellExtInit, init.Out()), S_OK);
    ASSERT_EQ(init->Initialize(nullptr, &drop, nullptr), S_OK);
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, menu.Out()), S_OK);
    void* spare = VirtualAlloc(nullptr, 16u << 20, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(spare, nullptr);
    for (SIZE_T size = SIZE_T(1) << 30; size >= 64 * 1024; size /= 2) {
        while (VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS) != nullptr) {
        }
    }
    VirtualFree(spare, 0, MEM_RELEASE);
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    EXPECT_EQ(menu->InvokeCommand(&info), E_OUTOFMEMORY);
}

// GCC's i686 start-up code gives the module's unwind tables to a libgcc_s_dw2-1.dll the host has loaded: without
// the module's own registration the first exception thrown in it aborts the host (exit status 3). 64-bit code
// unwinds through the image's exception directory, which no start-up code hands around.
TEST(ForeignRuntime, OutOfMemoryIsAnsweredWhateverRuntimeTheHostLoadedFirst) {
#ifndef PATHLIFT_HOST_LIBGCC
    GTEST_SKIP() << "64-bit build: its unwind tables are the image's own";
#else
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (const wchar_t* first : {L"0", L"1"}) {
        SCOPED_TRACE(first[0] == L'1' ? "GCC's runtime loaded first" : "no other runtime");
        SetEnvironmentVariableW(kForeignRuntimeVariable, first);
        std::wstring command = std::wstring(L"\"") + self +
                               L"\" --gtest_also_run_disabled_tests "
                               L"--gtest_filter=ForeignRuntime.DISABLED_OutOfMemoryInAHostWithGccsRuntime";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(
            CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        WaitForSingleObject(process.hProcess, 60000);
        DWORD code = 0xFFFFFFFF;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        EXPECT_EQ(code, 0u) << "3: the host aborted on the module's std::bad_alloc; 1: InvokeCommand answered wrongly";
    }
    SetEnvironmentVariableW(kForeignRuntimeVariable, nullptr);
#endif
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
