// CShellMenuExt: adds the menu entry, answers the command strings and opens the copy dialog for the selection.

#include "shell_menu_ext.h"

#include "drop_files.h"
#include "module.h"
#include "packaged_command.h"
#include "show_copy_dialog.h"
#include "trace.h"

#include "engine/win/unique_handles.h"

#include <shellapi.h>

#include <type_traits>

namespace pathlift {

namespace {

// Copies at most capacity units, the terminator included, so a small buffer gets a cut but terminated text.
void CopyBounded(const wchar_t* text, wchar_t* out, UINT capacity) {
    if (capacity == 0) {
        return;
    }
    UINT i = 0;
    for (; i + 1 < capacity && text[i] != L'\0'; ++i) {
        out[i] = text[i];
    }
    out[i] = L'\0';
}

// The same for 8-bit text in code page 932, never splitting a double-byte character.
void CopyBoundedCp932(const char* text, char* out, UINT capacity) {
    if (capacity == 0) {
        return;
    }
    UINT i = 0;
    while (text[i] != '\0') {
        const auto lead = static_cast<unsigned char>(text[i]);
        const UINT width = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
        if (i + width + 1 > capacity) {
            break;
        }
        for (UINT k = 0; k < width; ++k) {
            out[i + k] = text[i + k];
        }
        i += width;
    }
    out[i] = '\0';
}

// ASCII letters compared without regard to case; every other unit must be equal. Our verb is ASCII, so this is the
// whole comparison whatever the system's code page or locale.
template <class Unit> bool SameVerb(const Unit* given, const char* ours) {
    const auto fold = [](unsigned value) { return value >= 'A' && value <= 'Z' ? value + ('a' - 'A') : value; };
    for (;; ++given, ++ours) {
        const auto g = static_cast<unsigned>(static_cast<std::make_unsigned_t<Unit>>(*given));
        const auto o = static_cast<unsigned>(static_cast<unsigned char>(*ours));
        if (fold(g) != fold(o)) {
            return false;
        }
        if (o == 0) {
            return true;
        }
    }
}

// The wide verb of an extended record that says it carries one, else the ANSI verb, else the command offset.
bool IsOurCommand(const CMINVOKECOMMANDINFO& info) {
    if (info.cbSize >= sizeof(CMINVOKECOMMANDINFOEX) && (info.fMask & CMIC_MASK_UNICODE) != 0) {
        const auto& extended = reinterpret_cast<const CMINVOKECOMMANDINFOEX&>(info);
        if (!IS_INTRESOURCE(extended.lpVerbW)) {
            return SameVerb(extended.lpVerbW, kVerbA);
        }
    }
    if (!IS_INTRESOURCE(info.lpVerb)) {
        return SameVerb(info.lpVerb, kVerbA);
    }
    return LOWORD(reinterpret_cast<ULONG_PTR>(info.lpVerb)) == 0;
}

// The point where the user invoked the command, which only an extended record that says so carries.
const POINT* InvokedAt(const CMINVOKECOMMANDINFO& info) {
    if (info.cbSize >= sizeof(CMINVOKECOMMANDINFOEX) && (info.fMask & CMIC_MASK_PTINVOKE) != 0) {
        return &reinterpret_cast<const CMINVOKECOMMANDINFOEX&>(info).ptInvoke;
    }
    return nullptr;
}

// Whether the selection has file-system paths at all, asked of the data object without rendering it, so a
// right-click costs the same for one item as for a hundred thousand. Windows' data object for This PC, Control
// Panel, the Recycle Bin or Network offers no CF_HDROP: the command would have nothing to copy.
bool OffersFileSystemPaths(IDataObject* dataObject) {
    if (dataObject == nullptr) {
        return false;
    }
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return dataObject->QueryGetData(&format) == S_OK;
}

} // namespace

CShellMenuExt::CShellMenuExt() {
    TraceA("CShellMenuExt::CShellMenuExt()\r\n");
    AddLiveObject();
}

CShellMenuExt::~CShellMenuExt() {
    if (dataObject_ != nullptr) {
        dataObject_->Release();
    }
    RemoveLiveObject();
}

HRESULT CShellMenuExt::Create(REFIID riid, void** ppv) noexcept {
    auto* handler = new (std::nothrow) CShellMenuExt();
    if (handler == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = handler->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
        delete handler; // nobody holds it
    }
    return hr;
}

// IUnknown gives the IShellExtInit pointer: that is the object's identity, whichever interface is asked.
STDMETHODIMP CShellMenuExt::QueryInterface(REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IShellExtInit) || IsEqualIID(riid, IID_IUnknown)) {
        TraceA("CShellMenuExt::QueryInterface()==>IID_IShellExtInit\r\n");
        *ppv = static_cast<IShellExtInit*>(this);
    } else if (IsEqualIID(riid, IID_IContextMenu)) {
        TraceA("CShellMenuExt::QueryInterface()==>IID_IContextMenu\r\n");
        *ppv = static_cast<IContextMenu*>(this);
    } else {
        TraceA("CShellMenuExt::QueryInterface()==>Unknown Interface!\r\n");
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CShellMenuExt::AddRef() {
    TraceA("CShellMenuExt::AddRef()\r\n");
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) CShellMenuExt::Release() {
    TraceA("CShellMenuExt::Release()\r\n");
    const auto left = static_cast<ULONG>(InterlockedDecrement(&references_));
    if (left == 0) {
        delete this;
    }
    return left;
}

// A second call replaces the first selection and its folder; a null data object holds nothing. The folder that
// holds the items is kept for the Windows 11 question; without memory for it the question is not asked.
STDMETHODIMP CShellMenuExt::Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY) {
    TraceA("CShellMenuExt::Initialize()\r\n");
    if (dataObject_ != nullptr) {
        dataObject_->Release();
    }
    dataObject_ = pdtobj;
    if (dataObject_ != nullptr) {
        dataObject_->AddRef();
    }
    folder_.reset(pidlFolder != nullptr ? ILClone(pidlFolder) : nullptr);
    return S_OK;
}

// Only the four low bits of the flags decide. Default-only wins over every other bit: the shell asks for the default
// verb alone (a double-click, with the explore bit), and this handler has none.
STDMETHODIMP CShellMenuExt::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT, UINT uFlags) {
    TraceA("CShellMenuExt::QueryContextMenu()\r\n");
    const char* line;
    bool insert = true;
    if ((uFlags & 0xF) == CMF_NORMAL) {
        line = "CMF_NORMAL...\r\n";
    } else if (uFlags & CMF_DEFAULTONLY) {
        line = "CMF_DEFAULTONLY...\r\n";
        insert = false;
    } else if (uFlags & CMF_VERBSONLY) {
        line = "CMF_VERBSONLY...\r\n";
    } else if (uFlags & CMF_EXPLORE) {
        line = "CMF_EXPLORE...\r\n";
    } else {
        TraceA("CMF_default...\r\n");
        wchar_t flags[32];
        wsprintfW(flags, L"uFlags==>%d\r\n", static_cast<int>(uFlags));
        TraceW(flags);
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    }
    TraceA(line);
    if (!insert || !OffersFileSystemPaths(dataObject_)) {
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    }
    // Where Windows 11 shows our packaged command for this selection, it shows it in this menu too: one entry.
    if (PackagedCommandShown(folder_.get())) {
        TraceA("Packaged command registered...\r\n");
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    }
    InsertMenuW(hmenu, indexMenu, MF_BYPOSITION | MF_STRING, idCmdFirst, kMenuText); // a failure is not reported
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);                                     // one command identifier used
}

// Only command offset 0 is ours: another offset, or a kind of string this handler has none of, is an error.
STDMETHODIMP CShellMenuExt::GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* pszName, UINT cchMax) {
    TraceA("CShellMenuExt::GetCommandString()\r\n");
    if (uType == GCS_VALIDATEA || uType == GCS_VALIDATEW) {
        return idCmd == 0 ? S_OK : S_FALSE;
    }
    if (idCmd != 0) {
        return E_INVALIDARG;
    }
    switch (uType) {
    case GCS_VERBA:
        CopyBoundedCp932(kVerbA, pszName, cchMax);
        return S_OK;
    case GCS_HELPTEXTA:
        CopyBoundedCp932(kHelpTextA, pszName, cchMax);
        return S_OK;
    case GCS_VERBW:
        CopyBounded(kVerbW, reinterpret_cast<wchar_t*>(pszName), cchMax);
        return S_OK;
    case GCS_HELPTEXTW:
        CopyBounded(kHelpTextW, reinterpret_cast<wchar_t*>(pszName), cchMax);
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

// Command offset 0, or the verb GetCommandString hands out in any letter case: Explorer asks one handler for the
// verb and invokes it on another, made on a worker thread. Every other verb, the shell's own among them, is not ours.
STDMETHODIMP CShellMenuExt::InvokeCommand(CMINVOKECOMMANDINFO* pici) {
    TraceA("CShellMenuExt::InvokeCommand()\r\n");
    if (pici == nullptr || !IsOurCommand(*pici)) {
        return E_INVALIDARG;
    }
    return Pathlift(pici->hwnd, pici->lpDirectory, pici->lpVerb, pici->lpParameters, pici->nShow, InvokedAt(*pici));
}

// The dialog has no owner and is shown with SW_SHOW whatever the shell asked; it appears on the monitor where the
// command was invoked, else on that of the window it was chosen in.
HRESULT CShellMenuExt::Pathlift(HWND hwnd, LPCSTR, LPCSTR, LPCSTR, int, const POINT* invokedAt) {
    TraceA("CShellMenuExt::Pathlift()\r\n");
    const HMONITOR monitor = DialogMonitor(invokedAt, hwnd);
    return ComBoundary([&] { return ShowCopyDialog(CollectSelectedFiles(dataObject_), monitor); });
}

Selection CollectSelectedFiles(IDataObject* dataObject) {
    if (dataObject == nullptr) {
        return {};
    }
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    UniqueStgMedium medium;
    if (FAILED(medium.GetData(dataObject, &format)) || medium.get().tymed != TYMED_HGLOBAL) {
        return {};
    }
    return ReadDropFiles(medium.get().hGlobal);
}

} // namespace pathlift
