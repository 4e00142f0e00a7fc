// CExplorerCommand: names the entry for Windows 11's menu, shows it only for file-system items and opens the copy
// dialog for their paths.

#include "explorer_command.h"

#include "module.h"
#include "shell_menu_ext.h"
#include "show_copy_dialog.h"
#include "trace.h"

#include "engine/selection.h"
#include "engine/win/unique_handles.h"

#include <shlguid.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

namespace pathlift {

namespace {

// A copy of the text in a block of the task allocator, which the caller frees: the shell's convention for strings
// handed out by IExplorerCommand.
HRESULT DuplicateText(const wchar_t* text, LPWSTR* out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*out == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(*out, text, bytes);
    return S_OK;
}

// The item's file-system path, or null when it has none (This PC, the Recycle Bin, a Control Panel item). Only the
// item's own name is asked for: no file or network access.
UniqueCoTaskMemString FileSystemPath(IShellItemArray* items, DWORD index) noexcept {
    IShellItem* item = nullptr;
    if (FAILED(items->GetItemAt(index, &item)) || item == nullptr) {
        return nullptr;
    }
    LPWSTR path = nullptr;
    const HRESULT hr = item->GetDisplayName(SIGDN_FILESYSPATH, &path);
    item->Release();
    return UniqueCoTaskMemString(SUCCEEDED(hr) ? path : nullptr);
}

DWORD ItemCount(IShellItemArray* items) noexcept {
    DWORD count = 0;
    if (items == nullptr || FAILED(items->GetCount(&count))) {
        return 0;
    }
    return count;
}

// The file-system paths of the items in the array's order, in one Selection; items without one are left out, as
// the shell leaves them out of the classic handler's CF_HDROP list. Only std::bad_alloc can leave it.
Selection CollectItemPaths(IShellItemArray* items) {
    const DWORD count = ItemCount(items);
    std::vector<UniqueCoTaskMemString> paths;
    paths.reserve(count);
    std::vector<std::size_t> lengths;
    lengths.reserve(count);
    std::size_t units = 0;
    for (DWORD i = 0; i < count; ++i) {
        UniqueCoTaskMemString path = FileSystemPath(items, i);
        if (path == nullptr) {
            continue;
        }
        lengths.push_back(std::min(std::wcslen(path.get()), kMaxPathLength));
        units += lengths.back() + 1;
        paths.push_back(std::move(path));
    }
    SelectionBuilder builder(paths.size(), units);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        builder.Add(paths[i].get(), lengths[i]);
    }
    return builder.Finish();
}

} // namespace

CExplorerCommand::CExplorerCommand() {
    TraceA("CExplorerCommand::CExplorerCommand()\r\n");
    AddLiveObject();
}

CExplorerCommand::~CExplorerCommand() {
    if (site_ != nullptr) {
        site_->Release();
    }
    RemoveLiveObject();
}

HRESULT CExplorerCommand::Create(REFIID riid, void** ppv) noexcept {
    auto* command = new (std::nothrow) CExplorerCommand();
    if (command == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = command->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
        delete command; // nobody holds it
    }
    return hr;
}

// IUnknown gives the IExplorerCommand pointer: that is the object's identity, whichever interface is asked.
STDMETHODIMP CExplorerCommand::QueryInterface(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IExplorerCommand) || IsEqualIID(riid, IID_IUnknown)) {
        TraceA("CExplorerCommand::QueryInterface()==>IID_IExplorerCommand\r\n");
        *ppv = static_cast<IExplorerCommand*>(this);
    } else if (IsEqualIID(riid, IID_IObjectWithSite)) {
        TraceA("CExplorerCommand::QueryInterface()==>IID_IObjectWithSite\r\n");
        *ppv = static_cast<IObjectWithSite*>(this);
    } else {
        TraceA("CExplorerCommand::QueryInterface()==>Unknown Interface!\r\n");
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CExplorerCommand::AddRef() {
    TraceA("CExplorerCommand::AddRef()\r\n");
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) CExplorerCommand::Release() {
    TraceA("CExplorerCommand::Release()\r\n");
    const auto left = static_cast<ULONG>(InterlockedDecrement(&references_));
    if (left == 0) {
        delete this;
    }
    return left;
}

STDMETHODIMP CExplorerCommand::GetTitle(IShellItemArray*, LPWSTR* ppszName) {
    TraceA("CExplorerCommand::GetTitle()\r\n");
    return DuplicateText(kMenuText, ppszName);
}

// No icon, as the classic entry has none.
STDMETHODIMP CExplorerCommand::GetIcon(IShellItemArray*, LPWSTR* ppszIcon) {
    TraceA("CExplorerCommand::GetIcon()\r\n");
    if (ppszIcon != nullptr) {
        *ppszIcon = nullptr;
    }
    return E_NOTIMPL;
}

STDMETHODIMP CExplorerCommand::GetToolTip(IShellItemArray*, LPWSTR* ppszInfotip) {
    TraceA("CExplorerCommand::GetToolTip()\r\n");
    return DuplicateText(kHelpTextW, ppszInfotip);
}

STDMETHODIMP CExplorerCommand::GetCanonicalName(GUID* pguidCommandName) {
    TraceA("CExplorerCommand::GetCanonicalName()\r\n");
    if (pguidCommandName == nullptr) {
        return E_POINTER;
    }
    *pguidCommandName = kExplorerCommandName;
    return S_OK;
}

// Shown only when every item has a file-system path: the dialog has nothing to copy for the others. One question
// to the array for all its items, answered from their item ids without touching a disk; only an array that says
// its own answer is pending makes the shell's quick first call (fOkToBeSlow FALSE) get E_PENDING, so that the
// shell asks again off its UI thread. Asked then, a pending answer hides the command.
STDMETHODIMP CExplorerCommand::GetState(IShellItemArray* psiItemArray, BOOL fOkToBeSlow, EXPCMDSTATE* pCmdState) {
    TraceA("CExplorerCommand::GetState()\r\n");
    if (pCmdState == nullptr) {
        return E_POINTER;
    }
    *pCmdState = ECS_HIDDEN;
    if (psiItemArray == nullptr) {
        return S_OK;
    }
    SFGAOF attributes = 0;
    const HRESULT hr = psiItemArray->GetAttributes(SIATTRIBFLAGS_AND, SFGAO_FILESYSTEM, &attributes);
    if (hr == E_PENDING && !fOkToBeSlow) {
        return E_PENDING;
    }
    if (hr == S_OK && (attributes & SFGAO_FILESYSTEM) != 0) {
        *pCmdState = ECS_ENABLED;
    }
    return S_OK;
}

// The same selection and the same dialog as the classic handler's command; the bind context is not used. Invoke
// hands over no window: the dialog appears on the monitor of the site's window, else on the one under the cursor
// (which after Shift+F10 or the Menu key may be anywhere).
STDMETHODIMP CExplorerCommand::Invoke(IShellItemArray* psiItemArray, IBindCtx*) {
    TraceA("CExplorerCommand::Invoke()\r\n");
    const HMONITOR monitor = DialogMonitor(nullptr, SiteWindow());
    return ComBoundary([&] { return ShowCopyDialog(CollectItemPaths(psiItemArray), monitor); });
}

STDMETHODIMP CExplorerCommand::GetFlags(EXPCMDFLAGS* pFlags) {
    TraceA("CExplorerCommand::GetFlags()\r\n");
    if (pFlags == nullptr) {
        return E_POINTER;
    }
    *pFlags = ECF_DEFAULT;
    return S_OK;
}

// The site replaces the one held before; null lets it go.
STDMETHODIMP CExplorerCommand::SetSite(IUnknown* pUnkSite) {
    TraceA("CExplorerCommand::SetSite()\r\n");
    if (pUnkSite != nullptr) {
        pUnkSite->AddRef();
    }
    if (site_ != nullptr) {
        site_->Release();
    }
    site_ = pUnkSite;
    return S_OK;
}

// The site's own answer to QueryInterface; without a site, E_FAIL and null.
STDMETHODIMP CExplorerCommand::GetSite(REFIID riid, void** ppvSite) {
    TraceA("CExplorerCommand::GetSite()\r\n");
    if (ppvSite == nullptr) {
        return E_POINTER;
    }
    *ppvSite = nullptr;
    return site_ != nullptr ? site_->QueryInterface(riid, ppvSite) : E_FAIL;
}

// The window of the Explorer that holds the menu: the site's top-level browser, asked as a service.
HWND CExplorerCommand::SiteWindow() const noexcept {
    if (site_ == nullptr) {
        return nullptr;
    }
    IShellBrowser* browser = nullptr;
    if (FAILED(IUnknown_QueryService(site_, SID_STopLevelBrowser, IID_IShellBrowser,
                                     reinterpret_cast<void**>(&browser))) ||
        browser == nullptr) {
        return nullptr;
    }
    HWND window = nullptr;
    if (FAILED(browser->GetWindow(&window))) {
        window = nullptr;
    }
    browser->Release();
    return window;
}

// One command, no submenu.
STDMETHODIMP CExplorerCommand::EnumSubCommands(IEnumExplorerCommand** ppEnum) {
    TraceA("CExplorerCommand::EnumSubCommands()\r\n");
    if (ppEnum != nullptr) {
        *ppEnum = nullptr;
    }
    return E_NOTIMPL;
}

} // namespace pathlift
