#pragma once
// The command that Windows 11's own context menu shows for a selection, declared by our package: the same entry
// and the same copy dialog as the classic handler, reached through IExplorerCommand. Its site, which the menu
// gives it through IObjectWithSite, names Explorer's window, whose monitor the dialog appears on.

#include <windows.h>

#include <shobjidl.h>

namespace pathlift {

class CExplorerCommand final : public IExplorerCommand, public IObjectWithSite {
public:
    // A new command answering QueryInterface(riid); destroyed again at once when that fails.
    static HRESULT Create(REFIID riid, void** ppv) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetTitle(IShellItemArray* psiItemArray, LPWSTR* ppszName) override;
    STDMETHODIMP GetIcon(IShellItemArray* psiItemArray, LPWSTR* ppszIcon) override;
    STDMETHODIMP GetToolTip(IShellItemArray* psiItemArray, LPWSTR* ppszInfotip) override;
    STDMETHODIMP GetCanonicalName(GUID* pguidCommandName) override;
    STDMETHODIMP GetState(IShellItemArray* psiItemArray, BOOL fOkToBeSlow, EXPCMDSTATE* pCmdState) override;
    STDMETHODIMP Invoke(IShellItemArray* psiItemArray, IBindCtx* pbc) override;
    STDMETHODIMP GetFlags(EXPCMDFLAGS* pFlags) override;
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) override;

    STDMETHODIMP SetSite(IUnknown* pUnkSite) override;
    STDMETHODIMP GetSite(REFIID riid, void** ppvSite) override;

private:
    CExplorerCommand();
    ~CExplorerCommand();

    HWND SiteWindow() const noexcept;

    LONG references_ = 0;      // interlocked: a caller may AddRef and Release on threads of its own
    IUnknown* site_ = nullptr; // one reference held while set
};

// The command's canonical name. {A0F17042-2006-49EF-AC14-F07B802DB293}
inline constexpr GUID kExplorerCommandName = {
    0xa0f17042, 0x2006, 0x49ef, {0xac, 0x14, 0xf0, 0x7b, 0x80, 0x2d, 0xb2, 0x93}};

} // namespace pathlift
