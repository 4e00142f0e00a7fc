// The built Pathlift.dll's Explorer command as Windows 11's menu drives it: its class object and trace lines, its
// texts, name and flags, its state for file-system and virtual items from one question to the item array, and an
// Invoke whose Copy gives the exact clipboard text.

#include "res/resource.h"
#include "tests/win/loaded_dll.h"
#include "tests/win/shell_support.h"
#include "tests/win/temp_directory.h"
#include "tests/win/trace_capture.h"
#include "tests/win/two_monitors.h"
#include "tools/console.h"
#include "tools/dialog_driver.h"

#include <gtest/gtest.h>

#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace pathlift {
namespace {

using namespace pathlift::testing;
using Lines = std::vector<std::string>;

// Both written out here on their own: {1E7844E8-15A0-493B-B7B9-3D3B65E11E0E} and the command's canonical name
// {A0F17042-2006-49EF-AC14-F07B802DB293}.
const CLSID kCommandClassId = {0x1e7844e8, 0x15a0, 0x493b, {0xb7, 0xb9, 0x3d, 0x3b, 0x65, 0xe1, 0x1e, 0x0e}};
const GUID kCanonicalName = {0xa0f17042, 0x2006, 0x49ef, {0xac, 0x14, 0xf0, 0x7b, 0x80, 0x2d, 0xb2, 0x93}};

Lines Take() {
    return TraceCapture::Instance().Take();
}

HRESULT CanUnloadNow() {
    const HRESULT hr = Loaded().canUnloadNow();
    Take();
    return hr;
}

ComPtr<IExplorerCommand> Command() {
    ComPtr<IClassFactory> factory;
    ComPtr<IExplorerCommand> command;
    if (SUCCEEDED(Loaded().getClassObject(kCommandClassId, IID_IClassFactory, factory.Out()))) {
        factory->CreateInstance(nullptr, IID_IExplorerCommand, command.Out());
    }
    Take();
    return command;
}

// The text of a string the command handed out, freed as the shell frees it.
std::wstring TakeText(LPWSTR text) {
    const std::wstring copy = text != nullptr ? text : L"<null>";
    CoTaskMemFree(text);
    return copy;
}

// The items of a shell item array: files and folders by path, virtual folders by their CSIDL.
struct Item {
    std::wstring path;
    int folder = -1;
};

// A shell item array of absolute item ids, the form Windows 11's menu hands a command; null when an item cannot be
// had.
ComPtr<IShellItemArray> ItemArray(const std::vector<Item>& items) {
    std::vector<PIDLIST_ABSOLUTE> ids;
    for (const Item& item : items) {
        PIDLIST_ABSOLUTE id = nullptr;
        const HRESULT hr = item.folder >= 0 ? SHGetSpecialFolderLocation(nullptr, item.folder, &id)
                                            : SHParseDisplayName(item.path.c_str(), nullptr, &id, 0, nullptr);
        if (FAILED(hr)) {
            break;
        }
        ids.push_back(id);
    }
    ComPtr<IShellItemArray> array;
    if (ids.size() == items.size()) {
        SHCreateShellItemArrayFromIDLists(static_cast<UINT>(ids.size()),
                                          const_cast<PCIDLIST_ABSOLUTE_ARRAY>(ids.data()), array.OutTyped());
    }
    for (PIDLIST_ABSOLUTE id : ids) {
        CoTaskMemFree(id);
    }
    return array;
}

class ExplorerCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
        Take();
        OleUninitialize();
    }

    TempDirectory dir_;
};

TEST_F(ExplorerCommand, ClassObjectMakesItAndItCountsForTheModule) {
    Dll& dll = Loaded();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(dll.getClassObject(kCommandClassId, IID_IClassFactory, factory.Out()), S_OK);
    EXPECT_EQ(Take(), (Lines{"In DllGetClassObject\r\n", "CShellMenuExtFactory::CShellMenuExtFactory()\r\n",
                             "CShellMenuExtFactory::QueryInterface()\r\n"}));

    ComPtr<IExplorerCommand> command;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IExplorerCommand, command.Out()), S_OK);
    EXPECT_EQ(Take(), (Lines{"CShellMenuExtFactory::CreateInstance()\r\n", "CExplorerCommand::CExplorerCommand()\r\n",
                             "CExplorerCommand::QueryInterface()==>IID_IExplorerCommand\r\n",
                             "CExplorerCommand::AddRef()\r\n"}));

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(command.get(), IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(none, nullptr);
    none = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Take(), (Lines{"CShellMenuExtFactory::CreateInstance()\r\n", "CShellMenuExtFactory::CreateInstance()\r\n",
                             "CExplorerCommand::CExplorerCommand()\r\n",
                             "CExplorerCommand::QueryInterface()==>Unknown Interface!\r\n"}));

    // One identity: IUnknown is the IExplorerCommand pointer; an unknown interface leaves the count alone.
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(command->QueryInterface(IID_IUnknown, unknown.Out()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(command.get()));
    EXPECT_EQ(command->QueryInterface(IID_IShellExtInit, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Take(),
              (Lines{"CExplorerCommand::QueryInterface()==>IID_IExplorerCommand\r\n", "CExplorerCommand::AddRef()\r\n",
                     "CExplorerCommand::QueryInterface()==>Unknown Interface!\r\n"}));
    EXPECT_EQ(command->AddRef(), 3u) << "command, unknown and this AddRef";
    EXPECT_EQ(command->Release(), 2u);
    unknown.Reset();
    EXPECT_EQ(Take(), (Lines{"CExplorerCommand::AddRef()\r\n", "CExplorerCommand::Release()\r\n",
                             "CExplorerCommand::Release()\r\n"}));

    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the command outlives its factory";
    command.Reset();
    EXPECT_EQ(Take(), Lines{"CExplorerCommand::Release()\r\n"});
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ExplorerCommand, TitleToolTipNameAndFlagsWithoutIconOrSubcommands) {
    ComPtr<IExplorerCommand> command = Command();
    ASSERT_TRUE(command);
    ComPtr<IShellItemArray> files = ItemArray({{dir_.File(L"a.txt")}});
    ASSERT_TRUE(files);

    for (IShellItemArray* items : {files.get(), static_cast<IShellItemArray*>(nullptr)}) {
        SCOPED_TRACE(items != nullptr ? "with a file" : "without items");
        LPWSTR text = reinterpret_cast<LPWSTR>(1);
        EXPECT_EQ(command->GetTitle(items, &text), S_OK);
        EXPECT_EQ(TakeText(text), L"選択ファイルのパスをコピー");
        EXPECT_EQ(Take(), Lines{"CExplorerCommand::GetTitle()\r\n"});

        text = reinterpret_cast<LPWSTR>(1);
        EXPECT_EQ(command->GetToolTip(items, &text), S_OK);
        EXPECT_EQ(TakeText(text), L"選択ファイル名／パスをクリップボードにコピーします。");
        EXPECT_EQ(Take(), Lines{"CExplorerCommand::GetToolTip()\r\n"});

        text = reinterpret_cast<LPWSTR>(1);
        EXPECT_EQ(command->GetIcon(items, &text), E_NOTIMPL);
        EXPECT_EQ(text, nullptr);
        EXPECT_EQ(Take(), Lines{"CExplorerCommand::GetIcon()\r\n"});
    }

    GUID name = {};
    EXPECT_EQ(command->GetCanonicalName(&name), S_OK);
    EXPECT_TRUE(IsEqualGUID(name, kCanonicalName));
    EXPECT_EQ(Take(), Lines{"CExplorerCommand::GetCanonicalName()\r\n"});

    EXPCMDFLAGS flags = 0xFFFF;
    EXPECT_EQ(command->GetFlags(&flags), S_OK);
    EXPECT_EQ(flags, static_cast<EXPCMDFLAGS>(ECF_DEFAULT));
    EXPECT_EQ(Take(), Lines{"CExplorerCommand::GetFlags()\r\n"});

    IEnumExplorerCommand* subcommands = reinterpret_cast<IEnumExplorerCommand*>(1);
    EXPECT_EQ(command->EnumSubCommands(&subcommands), E_NOTIMPL);
    EXPECT_EQ(subcommands, nullptr);
    EXPECT_EQ(Take(), Lines{"CExplorerCommand::EnumSubCommands()\r\n"});

    // Null out-pointers are refused, not written through.
    EXPECT_EQ(command->GetTitle(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(command->GetToolTip(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(command->GetCanonicalName(nullptr), E_POINTER);
    EXPECT_EQ(command->GetFlags(nullptr), E_POINTER);
    EXPECT_EQ(command->GetState(files.get(), FALSE, nullptr), E_POINTER);
}

// An item array that passes every call to a real one and counts them, or answers GetAttributes with a result of
// its own: what the shell's array does is the shell's, what the command asks of it is observable.
class WatchedArray final : public IShellItemArray {
public:
    WatchedArray(IShellItemArray* real, HRESULT attributesResult) : real_(real), attributesResult_(attributesResult) {}
    std::vector<std::string> asked;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellItemArray) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP BindToHandler(IBindCtx* bc, REFGUID handler, REFIID riid, void** ppv) override {
        return Count("BindToHandler"), real_->BindToHandler(bc, handler, riid, ppv);
    }
    STDMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS flags, REFIID riid, void** ppv) override {
        return Count("GetPropertyStore"), real_->GetPropertyStore(flags, riid, ppv);
    }
    STDMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY key, REFIID riid, void** ppv) override {
        return Count("GetPropertyDescriptionList"), real_->GetPropertyDescriptionList(key, riid, ppv);
    }
    STDMETHODIMP GetAttributes(SIATTRIBFLAGS flags, SFGAOF mask, SFGAOF* attributes) override {
        Count(flags == SIATTRIBFLAGS_AND && mask == SFGAO_FILESYSTEM ? "GetAttributes(AND, SFGAO_FILESYSTEM)"
                                                                     : "GetAttributes(other)");
        return attributesResult_ == S_OK ? real_->GetAttributes(flags, mask, attributes) : attributesResult_;
    }
    STDMETHODIMP GetCount(DWORD* count) override { return Count("GetCount"), real_->GetCount(count); }
    STDMETHODIMP GetItemAt(DWORD index, IShellItem** item) override {
        return Count("GetItemAt"), real_->GetItemAt(index, item);
    }
    STDMETHODIMP EnumItems(IEnumShellItems** items) override { return Count("EnumItems"), real_->EnumItems(items); }

private:
    void Count(const char* what) { asked.push_back(what); }
    IShellItemArray* real_;
    HRESULT attributesResult_;
};

// One question to the array, whatever its size, decides: every item must be a file-system item. The shell's first
// call must be quick (fOkToBeSlow FALSE); only an array whose answer is pending gets E_PENDING then, so the shell
// asks again off its UI thread, and a second pending answer hides the command.
TEST_F(ExplorerCommand, ShownOnlyWhenEveryItemIsAFileSystemItemAskedOnce) {
    const std::wstring first = dir_.File(L"first.txt");
    const std::wstring second = dir_.File(L"二つ目 の.txt");
    const std::wstring folder = dir_.Directory(L"a folder");
    struct Row {
        const char* name;
        std::vector<Item> items;
        HRESULT attributesResult; // S_OK: the real array's answer
        BOOL okToBeSlow;
        HRESULT result;
        EXPCMDSTATE state;
    };
    const Row rows[] = {
        {"one file", {{first}}, S_OK, FALSE, S_OK, ECS_ENABLED},
        {"two files and a folder", {{second}, {folder}, {first}}, S_OK, FALSE, S_OK, ECS_ENABLED},
        {"the folder alone, slow is fine", {{folder}}, S_OK, TRUE, S_OK, ECS_ENABLED},
        {"My Computer alone", {{L"", CSIDL_DRIVES}}, S_OK, FALSE, S_OK, ECS_HIDDEN},
        {"files and the Control Panel", {{first}, {L"", CSIDL_CONTROLS}, {second}}, S_OK, TRUE, S_OK, ECS_HIDDEN},
        {"a file and My Computer last", {{first}, {L"", CSIDL_DRIVES}}, S_OK, FALSE, S_OK, ECS_HIDDEN},
        {"a pending answer on the quick call", {{first}}, E_PENDING, FALSE, E_PENDING, ECS_HIDDEN},
        {"a pending answer when slow is fine", {{first}}, E_PENDING, TRUE, S_OK, ECS_HIDDEN},
        {"a failing array", {{first}}, E_FAIL, FALSE, S_OK, ECS_HIDDEN},
    };
    ComPtr<IExplorerCommand> command = Command();
    ASSERT_TRUE(command);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ComPtr<IShellItemArray> items = ItemArray(row.items);
        ASSERT_TRUE(items);
        WatchedArray watched(items.get(), row.attributesResult);
        EXPCMDSTATE state = ECS_CHECKED;
        EXPECT_EQ(command->GetState(&watched, row.okToBeSlow, &state), row.result);
        EXPECT_EQ(state, row.state);
        EXPECT_EQ(watched.asked, std::vector<std::string>{"GetAttributes(AND, SFGAO_FILESYSTEM)"});
        EXPECT_EQ(Take(), Lines{"CExplorerCommand::GetState()\r\n"});
    }
    EXPCMDSTATE state = ECS_CHECKED;
    EXPECT_EQ(command->GetState(nullptr, FALSE, &state), S_OK);
    EXPECT_EQ(state, ECS_HIDDEN) << "no items, nothing to copy";
}

// The dialog the command opened, if exactly one is open.
HWND OnlyCopyDialog() {
    const std::vector<HWND> dialogs = tools::CopyDialogsOfThisProcess();
    return dialogs.size() == 1 ? dialogs.front() : nullptr;
}

TEST_F(ExplorerCommand, InvokeCopiesTheFileSystemPathsInTheArraysOrder) {
    const std::wstring second = dir_.File(L"second file.txt");
    const std::wstring japanese = dir_.File(L"日本語 メモ.txt");
    const std::wstring folder = dir_.Directory(L"My Folder");
    struct Row {
        const char* name;
        std::vector<Item> items;
        std::wstring clipboard;
    };
    const Row rows[] = {
        {"not in name order", {{second}, {japanese}, {folder}}, second + L"\r\n" + japanese + L"\r\n" + folder},
        {"one folder", {{folder}}, folder},
        {"a virtual item is left out", {{japanese}, {L"", CSIDL_DRIVES}, {second}}, japanese + L"\r\n" + second},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pathlift");
        ComPtr<IShellItemArray> items = ItemArray(row.items);
        ASSERT_TRUE(items);
        {
            ComPtr<IExplorerCommand> command = Command();
            ASSERT_TRUE(command);
            EXPECT_EQ(command->Invoke(items.get(), nullptr), S_OK);
            EXPECT_EQ(Take(), Lines{"CExplorerCommand::Invoke()\r\n"});
        }
        HWND dialog = OnlyCopyDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
        EXPECT_EQ(CanUnloadNow(), S_FALSE) << "no COM object is left, but the dialog runs the module's code";
        tools::Click(dialog, IDC_BUTTON_COPY);
        EXPECT_TRUE(tools::PumpUntilGone(dialog, 3000));
        std::wstring copied;
        EXPECT_TRUE(tools::ReadClipboardText(copied));
        EXPECT_EQ(copied, row.clipboard);
        // The dialog's thread ends right after the dialog.
        HRESULT unload = S_FALSE;
        for (int i = 0; i < 300 && unload != S_OK; ++i, Sleep(10)) {
            unload = CanUnloadNow();
        }
        EXPECT_EQ(unload, S_OK);
    }
}

// Explorer's browser as a command's site offers it: the top-level browser service, whose window is Explorer's.
class FolderWindowBrowser final : public IShellBrowser {
public:
    HWND window = nullptr; // null: GetWindow fails
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IShellBrowser)
                   ? this
                   : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetWindow(HWND* out) override {
        *out = window;
        return window != nullptr ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnableModelessSB(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return E_NOTIMPL; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStateStream(DWORD, IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetControlWindow(UINT, HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryActiveShellView(IShellView**) override { return E_NOTIMPL; }
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return E_NOTIMPL; }
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }
};

class BrowserSite final : public IServiceProvider {
public:
    ULONG references = 1;
    FolderWindowBrowser browser;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IServiceProvider) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualGUID(service, SID_STopLevelBrowser)) {
            return E_NOINTERFACE;
        }
        return browser.QueryInterface(riid, ppv);
    }
};

// The site is held from SetSite to the next SetSite, and GetSite asks it; without one, E_FAIL.
TEST_F(ExplorerCommand, TheSiteIsHeldUntilReplacedAndGivenBackOnRequest) {
    ComPtr<IExplorerCommand> command = Command();
    ASSERT_TRUE(command);
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(command->QueryInterface(IID_IObjectWithSite, withSite.Out()), S_OK);
    BrowserSite site;
    void* asked = reinterpret_cast<void*>(1);
    EXPECT_EQ(withSite->GetSite(IID_IServiceProvider, &asked), E_FAIL);
    EXPECT_EQ(asked, nullptr);
    EXPECT_EQ(withSite->SetSite(&site), S_OK);
    EXPECT_EQ(site.references, 2u);
    ComPtr<IServiceProvider> given;
    EXPECT_EQ(withSite->GetSite(IID_IServiceProvider, given.Out()), S_OK);
    EXPECT_EQ(given.get(), &site);
    given.Reset();
    EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
    EXPECT_EQ(site.references, 1u);
    EXPECT_EQ(Take(),
              (Lines{"CExplorerCommand::QueryInterface()==>IID_IObjectWithSite\r\n", "CExplorerCommand::AddRef()\r\n",
                     "CExplorerCommand::GetSite()\r\n", "CExplorerCommand::SetSite()\r\n",
                     "CExplorerCommand::GetSite()\r\n", "CExplorerCommand::SetSite()\r\n"}));
    EXPECT_EQ(withSite->SetSite(&site), S_OK);
    withSite.Reset();
    command.Reset();
    EXPECT_EQ(site.references, 1u) << "the last release lets the site go";
}

// Invoke names no window: the dialog appears on the monitor of the site's Explorer window, else under the cursor
// (after Shift+F10 or the Menu key the cursor may be on another monitor).
TEST_F(ExplorerCommand, TheDialogAppearsOnTheMonitorOfTheSitesWindow) {
    const TwoMonitors monitors(Loaded().module);
    ASSERT_TRUE(monitors.Patched());
    ComPtr<IShellItemArray> items = ItemArray({{dir_.File(L"placed.txt")}});
    ASSERT_TRUE(items);
    HWND onSmaller =
        CreateWindowW(L"STATIC", L"Explorer", WS_POPUP, 3000, 100, 800, 600, nullptr, nullptr, nullptr, nullptr);
    struct Row {
        const char* name;
        bool site;
        HWND window;
        POINT cursor;
        const FakeMonitor* monitor;
    };
    const Row rows[] = {
        {"the site's window on the second monitor, the cursor on the first",
         true,
         onSmaller,
         {100, 100},
         &kSmallerAt200},
        {"a site without a window, the cursor on the second", true, nullptr, {3500, 600}, &kSmallerAt200},
        {"no site, the cursor on the first", false, nullptr, {100, 100}, &kPrimary},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_fakeCursor = row.cursor;
        BrowserSite site;
        site.browser.window = row.window;
        {
            ComPtr<IExplorerCommand> command = Command();
            ASSERT_TRUE(command);
            ComPtr<IObjectWithSite> withSite;
            ASSERT_EQ(command->QueryInterface(IID_IObjectWithSite, withSite.Out()), S_OK);
            if (row.site) {
                withSite->SetSite(&site);
            }
            EXPECT_EQ(command->Invoke(items.get(), nullptr), S_OK);
            withSite->SetSite(nullptr);
        }
        HWND dialog = OnlyCopyDialog();
        ASSERT_NE(dialog, nullptr);
        RECT placed = {};
        GetWindowRect(dialog, &placed);
        const RECT& work = row.monitor->work;
        EXPECT_EQ(placed.left, work.left + (work.right - work.left - (placed.right - placed.left)) / 2);
        EXPECT_EQ(placed.top, work.top + (work.bottom - work.top - (placed.bottom - placed.top)) / 2);
        tools::Click(dialog, IDCANCEL);
        EXPECT_TRUE(tools::PumpUntilGone(dialog, 3000));
        EXPECT_EQ(site.references, 1u);
    }
    DestroyWindow(onSmaller);
    EXPECT_TRUE(tools::WaitUntil([] { return CanUnloadNow() == S_OK; }, 3000));
}

TEST_F(ExplorerCommand, InvokeWithoutAFileSystemItemOpensNothing) {
    ComPtr<IShellItemArray> virtualOnly = ItemArray({{L"", CSIDL_DRIVES}, {L"", CSIDL_CONTROLS}});
    ASSERT_TRUE(virtualOnly);
    ComPtr<IExplorerCommand> command = Command();
    ASSERT_TRUE(command);
    for (IShellItemArray* items : {virtualOnly.get(), static_cast<IShellItemArray*>(nullptr)}) {
        SCOPED_TRACE(items != nullptr ? "virtual items" : "no array");
        const HRESULT hr = command->Invoke(items, nullptr);
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        EXPECT_EQ(Take(), Lines{"CExplorerCommand::Invoke()\r\n"});
        EXPECT_TRUE(tools::CopyDialogsOfThisProcess().empty());
    }
}

} // namespace
} // namespace pathlift
