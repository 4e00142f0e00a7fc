#pragma once
// A data object for items of different folders, offered in the two formats the shell gives its context-menu
// handlers: CF_HDROP (DROPFILES with wide paths) and CFSTR_SHELLIDLIST (a CIDA of the desktop and each item's full
// id list). The host uses it where the system's own data object cannot name such a selection (Wine 8).

#include "shell_host_handles.h"

#include <windows.h>

#include <objidl.h>

#include <atomic>
#include <string>
#include <vector>

namespace pathlift::tools {

// A data object that hands out each of its formats as a fresh HGLOBAL block, on DVASPECT_CONTENT only.
class BlockDataObject : public IDataObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

protected:
    // Starts with the one reference its creator takes over.
    explicit BlockDataObject(std::vector<CLIPFORMAT> formats) : formats_(std::move(formats)) {}
    virtual ~BlockDataObject() = default;
    // A block of the format, one of those offered; null when there is no memory for it. The caller owns a new
    // block, unless Shared says the object keeps it (the medium then holds a reference on the object instead).
    virtual HGLOBAL Render(CLIPFORMAT format) const = 0;
    virtual bool Shared() const { return false; }

private:
    std::atomic<ULONG> references_{1};
    const std::vector<CLIPFORMAT> formats_;
};

// items: absolute id lists (copied); paths: their file-system paths, in the same order.
ComPtr<IDataObject> CreateItemsDataObject(const std::vector<const ITEMIDLIST*>& items,
                                          const std::vector<std::wstring>& paths);

// The paths a data object gives as CF_HDROP, in order; empty when it gives none.
std::vector<std::wstring> DroppedPaths(IDataObject& dataObject);

} // namespace pathlift::tools
