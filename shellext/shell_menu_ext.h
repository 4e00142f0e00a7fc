#pragma once
// The context-menu handler the shell creates for a selection of files and folders.

#include "engine/selection.h"
#include "engine/win/unique_handles.h"

#include <windows.h>

#include <shlobj.h>

namespace pathlift {

class CShellMenuExt final : public IContextMenu, public IShellExtInit {
public:
    // A new handler answering QueryInterface(riid); destroyed again at once when that fails.
    static HRESULT Create(REFIID riid, void** ppv) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT uFlags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName, UINT cchMax) override;

    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY hkeyProgID) override;

private:
    CShellMenuExt();
    ~CShellMenuExt();

    HRESULT Pathlift(HWND hwnd, LPCSTR lpDirectory, LPCSTR lpVerb, LPCSTR lpParameters, int nShow,
                     const POINT* invokedAt);

    LONG references_ = 0;               // interlocked: a caller may AddRef and Release on threads of its own
    IDataObject* dataObject_ = nullptr; // one reference held while set
    UniqueIdList folder_;               // Initialize's folder of the selection, or null
};

// The file-system paths of the selection, in the data object's order. A null data object, one without a CF_HDROP
// form or a failed GetData gives an empty Selection. Only std::bad_alloc can leave it.
Selection CollectSelectedFiles(IDataObject* dataObject);

inline constexpr wchar_t kMenuText[] = L"選択ファイルのパスをコピー";
inline constexpr char kVerbA[] = "Copy selected file name or path to clipboard.";
inline constexpr wchar_t kVerbW[] = L"Copy selected file name or path to clipboard.";
inline constexpr wchar_t kHelpTextW[] = L"選択ファイル名／パスをクリップボードにコピーします。";
// The same help text in code page 932, whatever the system's ANSI code page: 52 bytes and a terminator.
inline constexpr char kHelpTextA[] =
    "\x91\x49\x91\xF0\x83\x74\x83\x40\x83\x43\x83\x8B\x96\xBC\x81\x5E\x83\x70\x83\x58\x82\xF0\x83\x4E\x83\x8A\x83"
    "\x62\x83\x76\x83\x7B\x81\x5B\x83\x68\x82\xC9\x83\x52\x83\x73\x81\x5B\x82\xB5\x82\xDC\x82\xB7\x81\x42";
static_assert(sizeof(kHelpTextA) == 53);

} // namespace pathlift
