// The host's run, step by step in the order Explorer takes them, each failure turned into a sentence.

#include "shell_host_flow.h"

#include "console.h"
#include "dialog_driver.h"
#include "generated_selection.h"
#include "host_measure.h"
#include "host_text.h"
#include "popup_menu.h"
#include "shell_host_handles.h"
#include "shell_selection.h"

#include "res/resource.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace pathlift::tools {

namespace {

bool EmptyTheClipboard() {
    if (!OpenClipboardPatiently()) {
        return false;
    }
    const bool emptied = EmptyClipboard() != FALSE;
    CloseClipboard();
    return emptied;
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

    void Timed(const std::wstring& step, const StepClock& clock) {
        const double seconds = clock.Seconds();
        result_.times.push_back({step, seconds});
        wchar_t text[32] = {};
        swprintf(text, 32, L"%.3f s", seconds);
        Report(L"time: " + step + L": " + text);
    }

    std::size_t ItemCount() const { return request_.generate != 0 ? request_.generate : request_.files.size(); }

    // Declared in the order of acquisition, so they are given back in reverse: menu, handler, selection, COM,
    // and the module last of all, after COM has let go of it.
    bool Steps() {
        if (request_.files.empty() && request_.generate == 0) {
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
        const StepClock selecting;
        ShellSelection selection;
        if (request_.generate != 0) {
            selection.dataObject = CreateGeneratedDataObject(request_.generate);
            selection.madeBy = L"the host's own CF_HDROP of generated paths";
        } else {
            selection = CreateShellSelection(request_.files);
        }
        if (!selection.dataObject) {
            return Fail(selection.error, selection.failedResult);
        }
        result_.selectionFrom = selection.madeBy;
        Report(L"selection: " + std::to_wstring(ItemCount()) + L" item(s), data object from " + selection.madeBy);
        Timed(L"selection", selecting);

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
        if (settings_.showMs != 0) {
            Report(L"menu shown");
            ShowPopupMenu(menu.get(), {120, 90}, settings_.showMs);
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
        const std::wstring first = request_.generate != 0 ? GeneratedPath(0) : FullPath(Wide(request_.files.front()));
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
        static const wchar_t* const kExplorerItems[] = {L"開く(&O)",   L"印刷(&P)", L"切り取り(&T)",
                                                        L"コピー(&C)", L"削除(&D)", L"プロパティ(&R)"};
        for (int i = 0; i < settings_.existingMenuItems; ++i) {
            const std::wstring text = i < static_cast<int>(std::size(kExplorerItems))
                                          ? std::wstring(kExplorerItems[i])
                                          : L"Explorer item " + std::to_wstring(i + 1);
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
        const std::vector<HWND> before = CopyDialogsOfThisProcess();
        const bool byUser = settings_.action == DialogAction::LeaveToUser;
        std::unique_ptr<MessageBoxWatcher> watcher;
        if (!byUser) {
            watcher = std::make_unique<MessageBoxWatcher>();
        }
        const bool worked = InvokeAndWork(contextMenu, before);
        if (watcher) {
            for (const SeenMessageBox& box : watcher->Stop()) {
                result_.messageBoxes.push_back(box.caption + L": " + box.text);
            }
        }
        if (!worked) {
            return false;
        }
        if (!result_.messageBoxes.empty()) {
            return Fail(L"a message box appeared: " + result_.messageBoxes.front());
        }
        const StepClock reading;
        result_.clipboardHasText = ReadClipboardText(result_.clipboard);
        Timed(L"read the clipboard", reading);
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
        result_.workingSetBefore = MemoryCounters().WorkingSetSize;
        const StepClock opening;
        const HRESULT hr = contextMenu.InvokeCommand(&invoke);
        Timed(L"InvokeCommand to the dialog open", opening);
        if (FAILED(hr)) {
            return FailCall(L"IContextMenu::InvokeCommand", hr);
        }
        HWND dialog = nullptr;
        for (HWND candidate : CopyDialogsOfThisProcess()) {
            if (std::find(before.begin(), before.end(), candidate) == before.end()) {
                dialog = candidate;
                break;
            }
        }
        if (dialog == nullptr) {
            return Fail(std::wstring(L"InvokeCommand returned ") + HresultText(hr) + L" but no dialog \"" +
                        kCopyDialogCaption + L"\" appeared in this process");
        }
        result_.dialog = dialog;
        result_.dialogOwner = GetWindow(dialog, GW_OWNER);
        result_.dialogVisible = IsWindowVisible(dialog) != FALSE;
        Report(std::wstring(L"dialog: ") + kCopyDialogCaption);
        if (settings_.showMs != 0) {
            Report(L"dialog shown");
            PumpUntil([dialog] { return !IsWindow(dialog); }, settings_.showMs);
        }

        // Whatever was on the clipboard goes, so only the dialog's own Copy can put text there.
        if (!EmptyTheClipboard()) {
            PostMessageW(dialog, WM_CLOSE, 0, 0); // another thread's window: only its own thread can destroy it
            return Fail(L"the clipboard could not be emptied before the copy");
        }
        int button = IDC_BUTTON_COPY;
        DWORD timeout = settings_.closeTimeoutMs;
        switch (settings_.action) {
        case DialogAction::SetOptionsAndCopy: {
            std::wstring error;
            if (!ApplyOptions(dialog, request_.options, error)) {
                if (IsWindow(dialog)) {
                    PostMessageW(dialog, WM_CLOSE, 0, 0); // another thread's window: only its own thread can destroy it
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
        const StepClock closing;
        if (button != 0) {
            // As at the keyboard: Enter for the default button, Copy, and Esc for Cancel, taken by the loop of the
            // dialog's own thread.
            PressKey(dialog, button == IDCANCEL ? VK_ESCAPE : VK_RETURN);
        }
        if (!PumpUntilGone(dialog, timeout)) {
            // The dialog's code lives in the module about to be freed: it must not outlive this run.
            PostMessageW(dialog, WM_CLOSE, 0, 0); // another thread's window: only its own thread can destroy it
            return Fail(L"the dialog was still open " + std::to_wstring(timeout) + L" ms after " +
                        (button == IDCANCEL ? L"Cancel" : L"Copy"));
        }
        Timed(button == IDCANCEL ? L"Cancel to the dialog closed" : L"Copy to the dialog closed", closing);
        result_.peakWorkingSet = MemoryCounters().PeakWorkingSetSize;
        Report(L"working set: " + Mebibytes(result_.workingSetBefore) + L" before InvokeCommand, peak " +
               Mebibytes(result_.peakWorkingSet) + L" once the dialog is gone");
        return true;
    }

    const ShellHostSettings& settings_;
    const HostRequest& request_;
    ShellHostResult result_;
};

} // namespace

ShellHostResult RunShellHost(const ShellHostSettings& settings, const HostRequest& request) {
    return HostRun(settings, request).Run();
}

} // namespace pathlift::tools
