#pragma once
// The class object that makes the module's objects: context-menu handlers or Explorer commands.

#include <windows.h>

#include <unknwn.h>

namespace pathlift {

class CShellMenuExtFactory final : public IClassFactory {
public:
    // A new factory for objects of the class rclsid, answering QueryInterface(riid); destroyed again at once when
    // that fails. CLASS_E_CLASSNOTAVAILABLE for a class that is not the module's.
    static HRESULT Create(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    using MakeObject = HRESULT (*)(REFIID riid, void** ppv) noexcept;

    explicit CShellMenuExtFactory(MakeObject make);
    ~CShellMenuExtFactory();

    const MakeObject make_;
    LONG references_ = 0; // interlocked: a caller may AddRef and Release on threads of its own
};

} // namespace pathlift
