#pragma once
// The class object that makes context-menu handlers.

#include <windows.h>

#include <unknwn.h>

namespace pathlift {

class CShellMenuExtFactory final : public IClassFactory {
public:
    // A new factory answering QueryInterface(riid); destroyed again at once when that fails.
    static HRESULT Create(REFIID riid, void** ppv) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    CShellMenuExtFactory();
    ~CShellMenuExtFactory();

    LONG references_ = 0; // interlocked: a caller may AddRef and Release on threads of its own
};

} // namespace pathlift
