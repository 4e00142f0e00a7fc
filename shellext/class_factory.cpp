// CShellMenuExtFactory: a new one for every DllGetClassObject, owned by its references alone.

#include "class_factory.h"

#include "explorer_command.h"
#include "module.h"
#include "shell_menu_ext.h"
#include "trace.h"

namespace pathlift {

CShellMenuExtFactory::CShellMenuExtFactory(MakeObject make) : make_(make) {
    TraceA("CShellMenuExtFactory::CShellMenuExtFactory()\r\n");
    AddLiveObject();
}

CShellMenuExtFactory::~CShellMenuExtFactory() {
    RemoveLiveObject();
}

HRESULT CShellMenuExtFactory::Create(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    MakeObject make = nullptr;
    if (IsEqualCLSID(rclsid, CLSID_ShellMenuExt)) {
        make = &CShellMenuExt::Create;
    } else if (IsEqualCLSID(rclsid, CLSID_ExplorerCommand)) {
        make = &CExplorerCommand::Create;
    } else {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* factory = new (std::nothrow) CShellMenuExtFactory(make);
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
        delete factory; // nobody holds it
    }
    return hr;
}

STDMETHODIMP CShellMenuExtFactory::QueryInterface(REFIID riid, void** ppv) {
    TraceA("CShellMenuExtFactory::QueryInterface()\r\n");
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CShellMenuExtFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) CShellMenuExtFactory::Release() {
    const auto left = static_cast<ULONG>(InterlockedDecrement(&references_));
    if (left == 0) {
        delete this;
    }
    return left;
}

STDMETHODIMP CShellMenuExtFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    TraceA("CShellMenuExtFactory::CreateInstance()\r\n");
    *ppv = nullptr;
    if (pUnkOuter != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    return make_(riid, ppv);
}

// A lock does not keep the module loaded: only live objects and open dialogs do.
STDMETHODIMP CShellMenuExtFactory::LockServer(BOOL) {
    return S_OK;
}

} // namespace pathlift
