// The host's run, step by step in the order Explorer takes them, each failure turned into a sentence.

#include "shell_host_flow.h"

#include "console.h"
#include "shell_host_data_object.h"

#include "dialog/option_controls.h"
#include "res/resource.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

namespace pathlift::tools {

namespace {

std::wstring Wide(const std::u16string& text) {
    return {text.begin(), text.end()};
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    return full;
}

// Presses OK on every message box this process shows while it runs, and remembers what each one said. It runs on
// a thread of its own because a message box shown from inside a button click blocks the thread that clicked.
// It only reads windows (InternalGetWindowText sends no message) and posts, so it can never wait on the host.
class MessageBoxDismisser {
public:
    MessageBoxDismisser() : thread_([this] { Watch(); }) {}
    ~MessageBoxDismisser() { Stop(); }
    MessageBoxDismisser(const MessageBoxDismisser&) = delete;
    MessageBoxDismisser& operator=(const MessageBoxDismisser&) = delete;

    std::vector<std::wstring> Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    void Watch() {
        while (!stop_) {
            EnumWindows(&MessageBoxDismisser::Visit, reinterpret_cast<LPARAM>(this));
            Sleep(10);
        }
    }

    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        auto* dismisser = reinterpret_cast<MessageBoxDismisser*>(self);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        // A message box is a dialog whose text is a static control of id 0xFFFF; the copy dialog has none.
        HWND text = GetDlgItem(window, 0xFFFF);
        if (process != GetCurrentProcessId() || lstrcmpW(className, L"#32770") != 0 || text == nullptr ||
            !IsWindowVisible(window) || dismisser->handled_.count(window) != 0) {
            return TRUE;
        }
        dismisser->handled_.insert(window);
        wchar_t caption[256] = {};
        InternalGetWindowText(window, caption, 256);
        wchar_t message[1024] = {};
        InternalGetWindowText(text, message, 1024);
        {
            const std::lock_guard<std::mutex> lock(dismisser->mutex_);
            dismisser->seen_.push_back(std::wstring(caption) + L": " + message);
        }
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::wstring> seen_;
    std::set<HWND> handled_; // only the watching thread touches it
    std::thread thread_;
};

// The copy dialogs among this thread's top-level windows: class #32770 with the dialog's caption.
struct DialogSearch {
    std::vector<HWND> found;
};

BOOL CALLBACK CollectCopyDialog(HWND window, LPARAM search) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    if (lstrcmpW(className, L"#32770") == 0 && lstrcmpW(caption, kCopyDialogCaption) == 0 &&
        GetParent(window) == nullptr) {
        reinterpret_cast<DialogSearch*>(search)->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> CopyDialogsOfThisThread() {
    DialogSearch search;
    EnumThreadWindows(GetCurrentThreadId(), &CollectCopyDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Dispatches this thread's messages, the dialog's through IsDialogMessage so its keyboard works, until the
// dialog is gone or the time is up. False when the time ran out.
bool PumpUntilGone(HWND dialog, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsWindow(dialog) || !IsDialogMessageW(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        if (!IsWindow(dialog)) {
            return true;
        }
        DWORD wait = 50;
        if (timeoutMs != INFINITE) {
            const ULONGLONG elapsed = GetTickCount64() - start;
            if (elapsed >= timeoutMs) {
                return false;
            }
            wait = static_cast<DWORD>(std::min<ULONGLONG>(wait, timeoutMs - elapsed));
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    }
}

// Another program may hold the clipboard for a moment; a few tries over half a second are enough under Wine.
bool SamePaths(const std::vector<std::wstring>& given, const std::vector<std::wstring>& wanted) {
    if (given.size() != wanted.size()) {
        return false;
    }
    for (std::size_t i = 0; i < given.size(); ++i) {
        if (CompareStringOrdinal(given[i].c_str(), static_cast<int>(given[i].size()), wanted[i].c_str(),
                                 static_cast<int>(wanted[i].size()), TRUE) != CSTR_EQUAL) {
            return false;
        }
    }
    return true;
}

bool EmptyTheClipboard() {
    if (!OpenClipboardPatiently()) {
        return false;
    }
    const bool emptied = EmptyClipboard() != FALSE;
    CloseClipboard();
    return emptied;
}

bool ReadClipboard(std::wstring& text) {
    return ReadClipboardText(text);
}

// One control and the state the options ask of it.
struct WantedState {
    const wchar_t* option;
    int control;
    bool radio; // a radio button is clicked to be chosen; a check box only when its state must change
    bool checked;
};

std::vector<WantedState> WantedStates(const CopyOptions& options) {
    return {
        {L"Mode", ControlFor(kModeControls, options.Mode), true, true},
        {L"ShortName", IDC_CHECK_SHORTNAME, false, options.ShortName != 0},
        {L"NoExtension", IDC_CHECK_NOEXTENSION, false, options.NoExtension != 0},
        {L"ConvertSpace", IDC_CHECK_CONVERTSPACE, false, options.ConvertSpace != 0},
        {L"WQuotation", ControlFor(kQuoteControls, options.WQuotation), true, true},
        {L"DirectorySepalator", ControlFor(kDirectorySeparatorControls, options.DirectorySepalator), true, true},
        {L"FileSeparator", FileSeparatorControl(options.FileSeparator), true, true},
        {L"ConvertUpLower", ControlFor(kCaseControls, options.ConvertUpLower), true, true},
    };
}

bool IsChecked(HWND dialog, int control) {
    return SendDlgItemMessageW(dialog, control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Clicks what a user would click to get these options: the radio button of each choice, and each check box whose
// state differs. Then checks every control once more, so a click that changed another group is caught too.
bool ApplyOptions(HWND dialog, const CopyOptions& options, std::wstring& error) {
    const std::vector<WantedState> wanted = WantedStates(options);
    for (const WantedState& state : wanted) {
        if (state.control == 0) {
            error = std::wstring(L"the host has no control for the ") + state.option + L" option asked for";
            return false;
        }
        if (GetDlgItem(dialog, state.control) == nullptr) {
            error = L"the dialog has no control " + std::to_wstring(state.control) + L" for " + state.option;
            return false;
        }
        if (state.radio || IsChecked(dialog, state.control) != state.checked) {
            SendDlgItemMessageW(dialog, state.control, BM_CLICK, 0, 0);
        }
        if (!IsWindow(dialog)) {
            error = L"the dialog closed when control " + std::to_wstring(state.control) + L" was clicked";
            return false;
        }
    }
    for (const WantedState& state : wanted) {
        if (IsChecked(dialog, state.control) != state.checked) {
            error = L"control " + std::to_wstring(state.control) + L" (" + state.option + L") is " +
                    (state.checked ? L"not checked" : L"still checked") + L" after clicking";
            return false;
        }
    }
    return true;
}

std::wstring MenuString(HMENU menu, int position) {
    const int length = GetMenuStringW(menu, static_cast<UINT>(position), nullptr, 0, MF_BYPOSITION);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetMenuStringW(menu, static_cast<UINT>(position), text.data(), length + 1, MF_BYPOSITION);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

using ServerFunction = HRESULT(STDAPICALLTYPE*)();

class HostRun {
public:
    HostRun(const ShellHostSettings& settings, const HostRequest& request) : settings_(settings), request_(request) {}

    ShellHostResult Run() {
        result_.succeeded = Steps();
        return result_;
    }

private:
    void Report(const std::wstring& line) const {
        if (settings_.progress) {
            settings_.progress(line);
        }
    }

    bool Fail(const std::wstring& error, HRESULT failed = S_OK) {
        result_.error = error;
        result_.failedResult = failed;
        return false;
    }

    bool FailCall(const std::wstring& call, HRESULT failed) {
        return Fail(call + L" failed with " + HresultText(failed), failed);
    }

    // Declared in the order of acquisition, so they are given back in reverse: menu, handler, selection, COM,
    // and the module last of all, after COM has let go of it.
    bool Steps() {
        if (request_.files.empty()) {
            return Fail(L"no paths to select");
        }
        UniqueModule module;
        if (!LoadServer(module)) {
            return false;
        }
        const ComApartment apartment;
        if (FAILED(apartment.Result())) {
            return FailCall(L"CoInitializeEx(COINIT_APARTMENTTHREADED)", apartment.Result());
        }
        CLSID classId = {};
        if (!ReadClassId(classId)) {
            return false;
        }
        ShellSelection selection = CreateShellSelection(request_.files);
        if (!selection.dataObject) {
            return Fail(selection.error, selection.failedResult);
        }
        result_.selectionFrom = selection.madeBy;
        Report(L"selection: " + std::to_wstring(request_.files.size()) + L" item(s), data object from " +
               selection.madeBy);

        ComPtr<IShellExtInit> init;
        HRESULT hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void());
        if (FAILED(hr)) {
            return FailCall(L"CoCreateInstance(" + result_.classId + L", IID_IShellExtInit)", hr);
        }
        hr = init->Initialize(nullptr, selection.dataObject.get(), nullptr);
        if (FAILED(hr)) {
            return FailCall(L"IShellExtInit::Initialize", hr);
        }
        ComPtr<IContextMenu> contextMenu;
        hr = init->QueryInterface(IID_IContextMenu, contextMenu.put_void());
        if (FAILED(hr)) {
            return FailCall(L"QueryInterface(IID_IContextMenu)", hr);
        }
        UniqueMenu menu(CreatePopupMenu());
        if (!menu) {
            return Fail(L"CreatePopupMenu failed, error " + std::to_wstring(GetLastError()));
        }
        if (!QueryMenu(*contextMenu.get(), menu.get())) {
            return false;
        }
        AskHelpText(*contextMenu.get());
        return InvokeAndWorkDialog(*contextMenu.get());
    }

    bool LoadServer(UniqueModule& module) {
        const std::wstring& path = settings_.dllPath;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return Fail(L"the DLL " + path + L" does not exist");
        }
        module.reset(LoadLibraryW(path.c_str()));
        if (!module) {
            return Fail(L"LoadLibraryW(" + path + L") failed, error " + std::to_wstring(GetLastError()));
        }
        if (!settings_.registerServer) {
            return true;
        }
        // FARPROC goes through void(*)() to the real signature, the one cast between function types GCC accepts.
        const auto registerServer = reinterpret_cast<ServerFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(module.get(), "DllRegisterServer")));
        if (registerServer == nullptr) {
            return Fail(path + L" exports no DllRegisterServer");
        }
        const HRESULT hr = registerServer();
        if (FAILED(hr)) {
            return FailCall(L"DllRegisterServer of " + path, hr);
        }
        Report(L"registered: " + path);
        return true;
    }

    // Explorer asks the handlers of the focused item's type: Folder for a folder, * for a file.
    bool ReadClassId(CLSID& classId) {
        const std::wstring first = FullPath(Wide(request_.files.front()));
        const DWORD attributes = GetFileAttributesW(first.c_str());
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        result_.handlerKey =
            std::wstring(folder ? L"Folder" : L"*") + L"\\ShellEx\\ContextMenuHandlers\\" + kHandlerName;
        wchar_t text[64] = {};
        DWORD size = sizeof(text);
        const LSTATUS status =
            RegGetValueW(HKEY_CLASSES_ROOT, result_.handlerKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size);
        if (status != ERROR_SUCCESS) {
            return Fail(L"no class id under HKCR\\" + result_.handlerKey + L" (error " + std::to_wstring(status) +
                        L"); is the DLL registered?");
        }
        result_.classId = text;
        const HRESULT hr = CLSIDFromString(text, &classId);
        if (FAILED(hr)) {
            return FailCall(L"CLSIDFromString(" + result_.classId + L") from HKCR\\" + result_.handlerKey, hr);
        }
        Report(L"handler: " + result_.classId + L" from HKCR\\" + result_.handlerKey);
        return true;
    }

    bool QueryMenu(IContextMenu& contextMenu, HMENU menu) {
        for (int i = 0; i < settings_.existingMenuItems; ++i) {
            const std::wstring text = L"Explorer item " + std::to_wstring(i + 1);
            AppendMenuW(menu, MF_STRING, 0x8000 + i, text.c_str());
        }
        const HRESULT hr = contextMenu.QueryContextMenu(menu, settings_.menuIndex, settings_.firstCommandId,
                                                        settings_.lastCommandId, CMF_NORMAL);
        result_.queryResult = hr;
        if (FAILED(hr)) {
            return FailCall(L"IContextMenu::QueryContextMenu", hr);
        }
        result_.menuItemCount = GetMenuItemCount(menu);
        const UINT used = HRESULT_CODE(hr);
        if (used == 0) {
            return Fail(L"QueryContextMenu added no entry (result " + HresultText(hr) + L")");
        }
        for (int position = 0; position < result_.menuItemCount; ++position) {
            const UINT id = GetMenuItemID(menu, position);
            if (id != static_cast<UINT>(-1) && id >= settings_.firstCommandId && id < settings_.firstCommandId + used) {
                result_.menuPosition = position;
                result_.menuId = id;
                result_.menuText = MenuString(menu, position);
                break;
            }
        }
        if (result_.menuPosition < 0) {
            return Fail(L"QueryContextMenu said it used " + std::to_wstring(used) +
                        L" id(s), but no menu item has one of them");
        }
        Report(L"menu entry: " + result_.menuText + L" (position " + std::to_wstring(result_.menuPosition) + L", id " +
               std::to_wstring(result_.menuId) + L", result " + HresultText(hr) + L")");
        return true;
    }

    void AskHelpText(IContextMenu& contextMenu) {
        wchar_t help[256] = {};
        const UINT_PTR offset = result_.menuId - settings_.firstCommandId;
        result_.helpTextResult =
            contextMenu.GetCommandString(offset, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(help), 256);
        if (SUCCEEDED(result_.helpTextResult)) {
            help[255] = L'\0';
            result_.helpText = help;
            if (!result_.helpText.empty()) {
                Report(L"help text: " + result_.helpText);
            }
        }
    }

    bool InvokeAndWorkDialog(IContextMenu& contextMenu) {
        const std::vector<HWND> before = CopyDialogsOfThisThread();
        const bool byUser = settings_.action == DialogAction::LeaveToUser;
        std::unique_ptr<MessageBoxDismisser> dismisser;
        if (!byUser) {
            dismisser = std::make_unique<MessageBoxDismisser>();
        }
        const bool worked = InvokeAndWork(contextMenu, before);
        if (dismisser) {
            result_.messageBoxes = dismisser->Stop();
        }
        if (!worked) {
            return false;
        }
        if (!result_.messageBoxes.empty()) {
            return Fail(L"a message box appeared: " + result_.messageBoxes.front());
        }
        result_.clipboardHasText = ReadClipboard(result_.clipboard);
        if (settings_.action == DialogAction::Cancel) {
            return true;
        }
        if (!result_.clipboardHasText) {
            return Fail(byUser ? L"the dialog was closed without a copy: the clipboard holds no text"
                               : L"Copy left no text on the clipboard");
        }
        return true;
    }

    bool InvokeAndWork(IContextMenu& contextMenu, const std::vector<HWND>& before) {
        CMINVOKECOMMANDINFO invoke = {};
        invoke.cbSize = sizeof(invoke);
        invoke.lpVerb = MAKEINTRESOURCEA(result_.menuId - settings_.firstCommandId);
        invoke.nShow = SW_SHOWNORMAL;
        const HRESULT hr = contextMenu.InvokeCommand(&invoke);
        if (FAILED(hr)) {
            return FailCall(L"IContextMenu::InvokeCommand", hr);
        }
        HWND dialog = nullptr;
        for (HWND candidate : CopyDialogsOfThisThread()) {
            if (std::find(before.begin(), before.end(), candidate) == before.end()) {
                dialog = candidate;
                break;
            }
        }
        if (dialog == nullptr) {
            return Fail(std::wstring(L"InvokeCommand returned ") + HresultText(hr) + L" but no dialog \"" +
                        kCopyDialogCaption + L"\" appeared on this thread");
        }
        result_.dialog = dialog;
        result_.dialogOwner = GetWindow(dialog, GW_OWNER);
        result_.dialogVisible = IsWindowVisible(dialog) != FALSE;
        Report(std::wstring(L"dialog: ") + kCopyDialogCaption);

        // Whatever was on the clipboard goes, so only the dialog's own Copy can put text there.
        if (!EmptyTheClipboard()) {
            DestroyWindow(dialog);
            return Fail(L"the clipboard could not be emptied before the copy");
        }
        int button = IDC_BUTTON_COPY;
        DWORD timeout = settings_.closeTimeoutMs;
        switch (settings_.action) {
        case DialogAction::SetOptionsAndCopy: {
            std::wstring error;
            if (!ApplyOptions(dialog, request_.options, error)) {
                if (IsWindow(dialog)) {
                    DestroyWindow(dialog);
                }
                return Fail(error);
            }
            break;
        }
        case DialogAction::CopySavedOptions:
            break;
        case DialogAction::Cancel:
            button = IDCANCEL;
            break;
        case DialogAction::LeaveToUser:
            button = 0;
            timeout = INFINITE;
            Report(L"waiting for the dialog to be closed");
            break;
        }
        if (button != 0) {
            SendDlgItemMessageW(dialog, button, BM_CLICK, 0, 0);
        }
        if (!PumpUntilGone(dialog, timeout)) {
            // The dialog's code lives in the module about to be freed: it must not outlive this run.
            DestroyWindow(dialog);
            return Fail(L"the dialog was still open " + std::to_wstring(timeout) + L" ms after " +
                        (button == IDCANCEL ? L"Cancel" : L"Copy"));
        }
        return true;
    }

    const ShellHostSettings& settings_;
    const HostRequest& request_;
    ShellHostResult result_;
};

} // namespace

std::wstring HresultText(HRESULT result) {
    wchar_t text[16] = {};
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

ShellSelection CreateShellSelection(const FileList& paths) {
    ShellSelection selection;
    if (paths.empty()) {
        selection.error = L"no paths to select";
        return selection;
    }
    std::vector<UniquePidl> items;
    std::vector<std::wstring> itemPaths; // as the shell names each item
    for (const std::u16string& path : paths) {
        const std::wstring full = FullPath(Wide(path));
        PIDLIST_ABSOLUTE item = nullptr;
        HRESULT hr = SHParseDisplayName(full.c_str(), nullptr, &item, 0, nullptr);
        if (FAILED(hr)) {
            const bool missing = GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES;
            selection.error = L"cannot select " + full + L": SHParseDisplayName failed with " + HresultText(hr) +
                              (missing ? L" (no such file or folder)" : L"");
            selection.failedResult = hr;
            return selection;
        }
        items.emplace_back(item);
        PWSTR name = nullptr;
        hr = SHGetNameFromIDList(item, SIGDN_FILESYSPATH, &name);
        if (FAILED(hr)) {
            selection.error = L"cannot select " + full + L": it is not a file-system item (" + HresultText(hr) + L")";
            selection.failedResult = hr;
            return selection;
        }
        itemPaths.emplace_back(name);
        CoTaskMemFree(name);
    }

    // A data object is taken only when its CF_HDROP names exactly the selected items, in order.
    std::wstring notes;
    const auto accept = [&](ComPtr<IDataObject>& candidate, const std::wstring& madeBy, HRESULT hr) {
        if (FAILED(hr) || !candidate) {
            notes += (notes.empty() ? L"" : L"; ") + madeBy + L" failed with " + HresultText(hr);
            return false;
        }
        if (!SamePaths(DroppedPaths(*candidate.get()), itemPaths)) {
            notes += (notes.empty() ? L"" : L"; ") + madeBy + L" names other paths";
            return false;
        }
        selection.dataObject = std::move(candidate);
        selection.madeBy = madeBy + (notes.empty() ? L"" : L" (" + notes + L")");
        return true;
    };

    // One parent for all: the folder makes the data object, as Explorer's own view does.
    bool oneParent = true;
    UniquePidl firstParent(ILClone(items.front().get()));
    if (!firstParent || !ILRemoveLastID(firstParent.get())) {
        oneParent = false;
    }
    for (std::size_t i = 1; oneParent && i < items.size(); ++i) {
        UniquePidl parent(ILClone(items[i].get()));
        oneParent = parent && ILRemoveLastID(parent.get()) && ILIsEqual(firstParent.get(), parent.get());
    }
    const UINT count = static_cast<UINT>(items.size());
    if (oneParent) {
        ComPtr<IShellFolder> folder;
        PCUITEMID_CHILD firstChild = nullptr;
        HRESULT hr = SHBindToParent(items.front().get(), IID_IShellFolder, folder.put_void(), &firstChild);
        if (SUCCEEDED(hr)) {
            std::vector<PCUITEMID_CHILD> children;
            for (const UniquePidl& item : items) {
                children.push_back(ILFindLastID(item.get()));
            }
            ComPtr<IDataObject> candidate;
            hr = folder->GetUIObjectOf(nullptr, count, children.data(), IID_IDataObject, nullptr, candidate.put_void());
            if (accept(candidate, L"IShellFolder::GetUIObjectOf", hr)) {
                return selection;
            }
        } else {
            notes = L"SHBindToParent failed with " + HresultText(hr);
        }
    } else {
        // Items of different folders, as a search result has them: lists relative to the desktop, each naming
        // its item in full. Wine 8 has only a stub of SHCreateDataObject, and the data object of its
        // CIDLData_CreateFromIDArray names each item by the first id of its list alone.
        PIDLIST_ABSOLUTE desktopItem = nullptr;
        const HRESULT hr = SHGetFolderLocation(nullptr, CSIDL_DESKTOP, nullptr, 0, &desktopItem);
        if (FAILED(hr)) {
            selection.error = L"SHGetFolderLocation(CSIDL_DESKTOP) failed with " + HresultText(hr);
            selection.failedResult = hr;
            return selection;
        }
        const UniquePidl desktop(desktopItem);
        std::vector<PCUITEMID_CHILD> relative;
        for (const UniquePidl& item : items) {
            relative.push_back(item.get());
        }
        ComPtr<IDataObject> candidate;
        HRESULT created =
            SHCreateDataObject(desktop.get(), count, relative.data(), nullptr, IID_IDataObject, candidate.put_void());
        if (accept(candidate, L"SHCreateDataObject", created)) {
            return selection;
        }
        created = CIDLData_CreateFromIDArray(desktop.get(), count, relative.data(), candidate.put());
        if (accept(candidate, L"CIDLData_CreateFromIDArray", created)) {
            return selection;
        }
    }

    // What the system offered does not name this selection: the host's own object gives the same two formats.
    std::vector<const ITEMIDLIST*> lists;
    for (const UniquePidl& item : items) {
        lists.push_back(item.get());
    }
    selection.dataObject = CreateItemsDataObject(lists, itemPaths);
    if (!selection.dataObject) {
        selection.error = L"no memory for the data object (" + notes + L")";
        selection.failedResult = E_OUTOFMEMORY;
        return selection;
    }
    selection.madeBy = L"the host's own CF_HDROP and CFSTR_SHELLIDLIST data object (" + notes + L")";
    return selection;
}

ShellHostResult RunShellHost(const ShellHostSettings& settings, const HostRequest& request) {
    return HostRun(settings, request).Run();
}

} // namespace pathlift::tools
