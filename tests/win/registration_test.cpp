// Self-registration on Wine's real registry, through the exports and through regsvr32, and the COM runtime
// loading and unloading the registered DLL.

#include "tests/win/shell_support.h"
#include "tests/win/temp_directory.h"
#include "tools/dialog_driver.h"

#include <gtest/gtest.h>

#include <thread>

#include <olectl.h>

#include <map>
#include <optional>

namespace pathlift {
namespace {

using namespace pathlift::testing;

const wchar_t kClassId[] = L"{D80CD655-4791-4491-85E2-4B66894F5E00}";
const CLSID kClsid = {0xd80cd655, 0x4791, 0x4491, {0x85, 0xe2, 0x4b, 0x66, 0x89, 0x4f, 0x5e, 0x00}};
const wchar_t kApproved[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClassId;
const wchar_t kFileHandler[] = L"*\\ShellEx\\ContextMenuHandlers\\Pathlift";
const wchar_t kFolderHandler[] = L"Folder\\ShellEx\\ContextMenuHandlers\\Pathlift";

struct Value {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    friend bool operator==(const Value&, const Value&) = default;
};

Value Sz(const std::wstring& text) {
    Value value{REG_SZ, {}};
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.bytes.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

// view: 0, or KEY_WOW64_64KEY to reach the 64-bit HKLM\Software from a 32-bit process too.
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::optional<Value> Read(HKEY root, const std::wstring& path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    Value value;
    BYTE data[2048];
    DWORD size = sizeof(data);
    const LSTATUS status = RegQueryValueExW(key, name, nullptr, &value.type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.bytes.assign(data, data + size);
    return value;
}

void Write(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text, REGSAM view = 0) {
    HKEY key = nullptr;
    RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
    const Value value = Sz(text);
    RegSetValueExW(key, name, 0, REG_SZ, value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
    RegCloseKey(key);
}

// Every key and value below path, by relative name, for comparing whole trees.
void Snapshot(HKEY root, const std::wstring& path, const std::wstring& prefix, std::map<std::wstring, Value>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    out[prefix + L"\\"] = Value{};
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        BYTE data[2048];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) {
            break;
        }
        out[prefix + L"\\@" + name] = Value{type, std::vector<BYTE>(data, data + size)};
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        Snapshot(root, path + L"\\" + name, prefix + L"\\" + name, out);
    }
    RegCloseKey(key);
}

std::map<std::wstring, Value> Registered() {
    std::map<std::wstring, Value> all;
    Snapshot(HKEY_CLASSES_ROOT, kClassKey, L"class", all);
    Snapshot(HKEY_CLASSES_ROOT, kFileHandler, L"files", all);
    Snapshot(HKEY_CLASSES_ROOT, kFolderHandler, L"folders", all);
    if (auto approval = Read(HKEY_LOCAL_MACHINE, kApproved, kClassId)) {
        all[L"approved"] = *approval;
    }
    return all;
}

// The DLL loaded for one test only, so a later test can watch the COM runtime load and unload it alone.
class LoadedDll {
public:
    LoadedDll() : module_(LoadLibraryW(BuiltDllPath().c_str())) {}
    ~LoadedDll() { FreeLibrary(module_); }
    LoadedDll(const LoadedDll&) = delete;
    LoadedDll& operator=(const LoadedDll&) = delete;
    HRESULT Call(const char* name) const {
        auto entry = Export<HRESULT(STDAPICALLTYPE*)()>(module_, name);
        return entry != nullptr ? entry() : E_POINTER;
    }
    HRESULT Register() const { return Call("DllRegisterServer"); }
    HRESULT Unregister() const { return Call("DllUnregisterServer"); }

private:
    HMODULE module_;
};

// regsvr32's own exit code: 0, or a small number saying what failed. A process that could not start, or that Wine
// ended before regsvr32 ran (seen once on a loaded machine, exit code 0xFFFFFFFF), is tried again, twice at most.
DWORD RunRegsvr32(const std::wstring& arguments) {
    std::wstring command = L"regsvr32.exe " + arguments + L" \"" + BuiltDllPath() + L"\"";
    DWORD code = 0xFFFFFFFF;
    for (int attempt = 1; attempt <= 3 && code == 0xFFFFFFFF; ++attempt) {
        if (attempt > 1) {
            Sleep(500);
        }
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            continue;
        }
        WaitForSingleObject(process.hProcess, 60000);
        code = 0xFFFFFFFE;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return code;
}

// The other bit width's registry view: 32-bit from a 64-bit process, 64-bit from a 32-bit one.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// Takes away the other bit width's registration of the class, which another test program of the same prefix (the
// shell host's, say) may have left: while it is there, unregistering rightly keeps the handler keys both share.
void ForgetTheOtherBitWidth() {
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0, KEY_ALL_ACCESS | kOtherView, &classes) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(classes, kClassId);
        RegCloseKey(classes);
    }
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetTheOtherBitWidth();
        LoadedDll().Unregister();
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApproved, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegCloseKey(key);
    }
    void TearDown() override { LoadedDll().Unregister(); }
};

TEST_F(Registration, WritesEveryKeyAndValueWithItsTerminator) {
    ASSERT_EQ(LoadedDll().Register(), S_OK);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kClassKey, nullptr), Sz(L"Pathlift"));
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", nullptr), Sz(BuiltDllPath()));
    const auto threading = Read(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", L"ThreadingModel");
    EXPECT_EQ(threading, Sz(L"Apartment"));
    ASSERT_TRUE(threading);
    EXPECT_EQ(threading->bytes.size(), 20u);
    const auto handler = Read(HKEY_CLASSES_ROOT, kFileHandler, nullptr);
    EXPECT_EQ(handler, Sz(kClassId));
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->bytes.size(), 78u);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kFolderHandler, nullptr), Sz(kClassId));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kApproved, kClassId), Sz(L"Pathlift"));

    // Nothing else: the class key holds its default value and one sub-key with two values.
    std::map<std::wstring, Value> tree;
    Snapshot(HKEY_CLASSES_ROOT, kClassKey, L"", tree);
    EXPECT_EQ(tree.size(), 5u) << "two keys, three values";
}

// A window that listens for the shell's association-change notices, as Explorer's windows do, and counts them.
class AssociationNotices {
public:
    AssociationNotices() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.lpszClassName = L"PathliftNoticeCounter";
        RegisterClassW(&windowClass);
        window_ =
            CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&count_));
        SHChangeNotifyEntry everything = {nullptr, TRUE};
        id_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel, SHCNE_ASSOCCHANGED, kNotice, 1, &everything);
    }
    ~AssociationNotices() {
        SHChangeNotifyDeregister(id_);
        DestroyWindow(window_);
    }
    AssociationNotices(const AssociationNotices&) = delete;
    AssociationNotices& operator=(const AssociationNotices&) = delete;

    int Count() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        return count_;
    }

private:
    static constexpr UINT kNotice = WM_APP + 1;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kNotice && static_cast<LONG>(lParam) == SHCNE_ASSOCCHANGED) {
            ++*reinterpret_cast<int*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
    ULONG id_ = 0;
    int count_ = 0;
};

TEST_F(Registration, RegisteringAndUnregisteringTellTheShell) {
    AssociationNotices notices;
    ASSERT_EQ(notices.Count(), 0);
    ASSERT_EQ(LoadedDll().Register(), S_OK);
    EXPECT_EQ(notices.Count(), 1);
    ASSERT_EQ(LoadedDll().Unregister(), S_OK);
    EXPECT_EQ(notices.Count(), 2);
}

TEST_F(Registration, AModuleDeepInTheFileSystemIsRegisteredWithItsWholePath) {
    TempDirectory dir;
    std::wstring relative;
    for (int i = 0; i < 4; ++i) {
        relative += (i ? L"\\" : L"") + std::wstring(70, static_cast<wchar_t>(L'p' + i));
        dir.Directory(relative);
    }
    const std::wstring copy = L"\\\\?\\" + dir.Path() + L"\\" + relative + L"\\Pathlift.dll";
    ASSERT_TRUE(CopyFileW(BuiltDllPath().c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_NE(module, nullptr);
    std::vector<wchar_t> name(32768);
    const DWORD length = GetModuleFileNameW(module, name.data(), 32768);
    ASSERT_GT(length, 300u);
    EXPECT_EQ(Export<HRESULT(STDAPICALLTYPE*)()>(module, "DllRegisterServer")(), S_OK);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", nullptr), Sz(std::wstring(name.data(), length)));
    Export<HRESULT(STDAPICALLTYPE*)()>(module, "DllUnregisterServer")();
    FreeLibrary(module);
    DeleteFileW(copy.c_str());
}

TEST_F(Registration, RegisteringTwiceGivesWhatOnceGives) {
    ASSERT_EQ(LoadedDll().Register(), S_OK);
    const auto once = Registered();
    Write(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    ASSERT_EQ(LoadedDll().Register(), S_OK);
    EXPECT_EQ(Registered(), once) << "existing values are overwritten";
    EXPECT_EQ(once.size(), 10u) << "five keys, five values";
}

TEST_F(Registration, UnregisteringRemovesOurKeysWithWhatOthersAddedAndKeepsTheParents) {
    ASSERT_EQ(LoadedDll().Register(), S_OK);
    Write(HKEY_CLASSES_ROOT, std::wstring(kFileHandler) + L"\\Added\\Deeper", L"x", L"y");
    Write(HKEY_CLASSES_ROOT, std::wstring(kFileHandler) + L"\\Added\\Second", nullptr, L"z");
    Write(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32\\Extra", nullptr, L"e");
    Write(HKEY_CLASSES_ROOT, L"*\\ShellEx\\ContextMenuHandlers\\SomeoneElse", nullptr, L"{other}");
    Write(HKEY_LOCAL_MACHINE, kApproved, L"{00000000-1111-2222-3333-444444444444}", L"Other");

    EXPECT_EQ(LoadedDll().Unregister(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFileHandler));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFolderHandler));
    EXPECT_FALSE(Read(HKEY_LOCAL_MACHINE, kApproved, kClassId));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"*\\ShellEx\\ContextMenuHandlers\\SomeoneElse"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Folder\\ShellEx\\ContextMenuHandlers"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kApproved, L"{00000000-1111-2222-3333-444444444444}"), Sz(L"Other"));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"*\\ShellEx\\ContextMenuHandlers\\SomeoneElse");
    HKEY approved = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApproved, 0, KEY_SET_VALUE, &approved);
    RegDeleteValueW(approved, L"{00000000-1111-2222-3333-444444444444}");
    RegCloseKey(approved);
}

// "Registry Keys Affected by WOW64": each bit width's CLSID key has a view of its own, while the handler keys under
// * and Folder are one key for both. Unregistering one width leaves them while the other width's server is there.
TEST_F(Registration, UnregisteringOneBitWidthKeepsTheHandlerKeysTheOtherStillUses) {
    const std::wstring otherServer = L"Software\\Classes\\" + kClassKey + L"\\InprocServer32";
    ASSERT_EQ(LoadedDll().Register(), S_OK);
    Write(HKEY_LOCAL_MACHINE, otherServer, nullptr, L"C:\\Program Files\\Pathlift\\other\\Pathlift.dll", kOtherView);
    EXPECT_EQ(LoadedDll().Unregister(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + kClassKey));
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kFileHandler, nullptr), Sz(kClassId));
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kFolderHandler, nullptr), Sz(kClassId));
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, otherServer.c_str(), kOtherView, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + kClassKey).c_str(), kOtherView, 0);
    EXPECT_EQ(LoadedDll().Unregister(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFileHandler)) << "the last registration takes them along";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFolderHandler));
}

TEST_F(Registration, UnregisteringNothingNeedsOnlyTheApprovalKey) {
    EXPECT_EQ(LoadedDll().Unregister(), S_OK);
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, kApproved), ERROR_SUCCESS);
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kApproved));
    EXPECT_EQ(LoadedDll().Unregister(), SELFREG_E_CLASS);
    // Registration creates the approval key again.
    EXPECT_EQ(LoadedDll().Register(), S_OK);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, kApproved, kClassId), Sz(L"Pathlift"));
}

const wchar_t kLinkTarget[] = L"Software\\PathliftLinkTarget";

// Removes the link below our handler key and its target however the test ends, so a failure here cannot leave
// an unremovable sub-key behind for the tests after it.
struct LinkCleanup {
    std::wstring link;
    ~LinkCleanup() {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, link.c_str(), REG_OPTION_OPEN_LINK, DELETE, &opened) == ERROR_SUCCESS) {
            RegDeleteKeyW(opened, L"");
            RegCloseKey(opened);
        }
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kFileHandler);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLinkTarget, KEY_WOW64_64KEY, 0);
    }
};

TEST_F(Registration, ASubKeyThatCannotBeRemovedIsSteppedOver) {
    ASSERT_EQ(LoadedDll().Register(), S_OK);
    Write(HKEY_CLASSES_ROOT, std::wstring(kFileHandler) + L"\\Before", nullptr, L"b");
    Write(HKEY_CLASSES_ROOT, std::wstring(kFileHandler) + L"\\Zafter", nullptr, L"z");
    // A symbolic link is listed as a sub-key, but deleting it by name deletes its target: it stays listed.
    // The target is named by its native path, which a 32-bit process reaches only through the 64-bit view.
    const LinkCleanup cleanup{std::wstring(kFileHandler) + L"\\Linked"};
    const std::wstring& link = cleanup.link;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, link.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t target[] = L"\\Registry\\Machine\\Software\\PathliftLinkTarget";
    RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target),
                   sizeof(target) - sizeof(wchar_t));
    RegCloseKey(key);
    Write(HKEY_LOCAL_MACHINE, kLinkTarget, nullptr, L"t", KEY_WOW64_64KEY);
    ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, link)) << "the link leads to its target";
    RegDeleteKeyW(HKEY_CLASSES_ROOT, link.c_str());
    ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, link) || !KeyExists(HKEY_LOCAL_MACHINE, kLinkTarget, KEY_WOW64_64KEY));
    Write(HKEY_LOCAL_MACHINE, kLinkTarget, nullptr, L"t", KEY_WOW64_64KEY);

    const DWORD start = GetTickCount();
    EXPECT_EQ(LoadedDll().Unregister(), S_OK);
    EXPECT_LT(GetTickCount() - start, 5000u) << "the walk must end";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kFileHandler) + L"\\Before"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kFileHandler) + L"\\Zafter"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFolderHandler));
}

TEST_F(Registration, Regsvr32RegistersAndUnregistersSilently) {
    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", nullptr), Sz(BuiltDllPath()));
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, kFileHandler, nullptr), Sz(kClassId));
    ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFileHandler));
}

bool ModuleLoaded() {
    return GetModuleHandleW(BuiltDllPath().c_str()) != nullptr;
}

TEST_F(Registration, TheComRuntimeLoadsItAndUnloadsItOnlyWhenNothingIsAlive) {
    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
    ASSERT_FALSE(ModuleLoaded()) << "this test process must not hold the DLL itself";
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    {
        ComPtr<IContextMenu> menu;
        ASSERT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu, menu.Out()), S_OK);
        EXPECT_TRUE(ModuleLoaded());
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_TRUE(ModuleLoaded()) << "a live handler keeps the module";
    }
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_FALSE(ModuleLoaded()) << "nothing alive: the runtime may unload it";

    // The command invoked as Explorer invokes it: a handler of its own on a worker thread that then ends.
    TempDirectory dir;
    const std::wstring file = dir.File(L"kept open.txt");
    ComPtr<IContextMenu> shown;
    ASSERT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu, shown.Out()), S_OK);
    HRESULT invoked = E_UNEXPECTED;
    std::thread([&] {
        OleInitialize(nullptr);
        {
            ComPtr<IShellExtInit> init;
            ComPtr<IDataObject> data = ShellDataObject({file});
            ComPtr<IContextMenu> menu;
            if (data &&
                CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.Out()) == S_OK &&
                init->Initialize(nullptr, data.get(), nullptr) == S_OK &&
                init->QueryInterface(IID_IContextMenu, menu.Out()) == S_OK) {
                CMINVOKECOMMANDINFO info = {};
                info.cbSize = sizeof(info);
                invoked = menu->InvokeCommand(&info);
            }
        }
        OleUninitialize();
    }).join();
    ASSERT_EQ(invoked, S_OK);
    shown.Reset();
    const std::vector<HWND> dialogs = tools::CopyDialogsOfThisProcess();
    ASSERT_EQ(dialogs.size(), 1u);
    HWND dialog = dialogs.front();
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_TRUE(ModuleLoaded()) << "an open dialog keeps the module after every COM object and its thread are gone";
    SendDlgItemMessageW(dialog, IDCANCEL, BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(dialog));
    for (int i = 0; i < 300 && ModuleLoaded(); ++i) {
        Sleep(10); // the dialog's thread ends just after its dialog
        CoFreeUnusedLibrariesEx(0, 0);
    }
    EXPECT_FALSE(ModuleLoaded());
    OleUninitialize();
    RunRegsvr32(L"/u /s");
}

} // namespace
} // namespace pathlift
