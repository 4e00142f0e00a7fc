// The host's own data object: both formats rendered once, up front, and handed out as fresh HGLOBAL copies.

#include "shell_host_data_object.h"

#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <new>

namespace pathlift::tools {

namespace {

// DROPFILES, then each path with its terminator, then one more terminator.
std::vector<BYTE> RenderDropFiles(const std::vector<std::wstring>& paths) {
    DROPFILES header = {};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(&header), reinterpret_cast<const BYTE*>(&header + 1));
    for (const std::wstring& path : paths) {
        const auto* characters = reinterpret_cast<const BYTE*>(path.c_str());
        bytes.insert(bytes.end(), characters, characters + (path.size() + 1) * sizeof(wchar_t));
    }
    bytes.insert(bytes.end(), sizeof(wchar_t), 0);
    return bytes;
}

// CIDA: the count, the offsets of the parent (the desktop: an empty list) and of each item, then the lists.
std::vector<BYTE> RenderIdLists(const std::vector<const ITEMIDLIST*>& items) {
    const std::size_t count = items.size();
    const std::size_t headerSize = sizeof(UINT) * (count + 2);
    std::vector<BYTE> bytes(headerSize, 0);
    auto setUint = [&bytes](std::size_t index, UINT value) {
        std::memcpy(bytes.data() + index * sizeof(UINT), &value, sizeof(UINT));
    };
    setUint(0, static_cast<UINT>(count));
    setUint(1, static_cast<UINT>(bytes.size()));
    bytes.insert(bytes.end(), sizeof(USHORT), 0); // the desktop's list: just the terminator
    for (std::size_t i = 0; i < count; ++i) {
        setUint(i + 2, static_cast<UINT>(bytes.size()));
        const auto* list = reinterpret_cast<const BYTE*>(items[i]);
        bytes.insert(bytes.end(), list, list + ILGetSize(items[i]));
    }
    return bytes;
}

class ItemsDataObject final : public IDataObject {
public:
    ItemsDataObject(const std::vector<const ITEMIDLIST*>& items, const std::vector<std::wstring>& paths)
        : shellIdList_(static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST))),
          dropFiles_(RenderDropFiles(paths)), idLists_(RenderIdLists(items)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
            *object = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (format == nullptr || medium == nullptr) {
            return E_INVALIDARG;
        }
        const std::vector<BYTE>* rendered = nullptr;
        const HRESULT found = Find(*format, rendered);
        if (FAILED(found)) {
            return found;
        }
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, rendered->size());
        if (copy == nullptr) {
            return E_OUTOFMEMORY;
        }
        void* bytes = GlobalLock(copy);
        std::memcpy(bytes, rendered->data(), rendered->size());
        GlobalUnlock(copy);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = copy;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        if (format == nullptr) {
            return E_INVALIDARG;
        }
        const std::vector<BYTE>* rendered = nullptr;
        return Find(*format, rendered);
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out != nullptr) {
            out->ptd = nullptr;
        }
        return DATA_S_SAMEFORMATETC;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override {
        if (direction != DATADIR_GET) {
            return E_NOTIMPL;
        }
        FORMATETC offered[] = {{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
                               {shellIdList_, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}};
        return SHCreateStdEnumFmtEtc(2, offered, formats);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    ~ItemsDataObject() = default;

    HRESULT Find(const FORMATETC& format, const std::vector<BYTE>*& rendered) const {
        if (format.cfFormat == CF_HDROP) {
            rendered = &dropFiles_;
        } else if (format.cfFormat == shellIdList_) {
            rendered = &idLists_;
        } else {
            return DV_E_FORMATETC;
        }
        if ((format.tymed & TYMED_HGLOBAL) == 0) {
            return DV_E_TYMED;
        }
        if (format.dwAspect != DVASPECT_CONTENT) {
            return DV_E_DVASPECT;
        }
        return S_OK;
    }

    std::atomic<ULONG> references_{1};
    const CLIPFORMAT shellIdList_;
    const std::vector<BYTE> dropFiles_;
    const std::vector<BYTE> idLists_;
};

} // namespace

ComPtr<IDataObject> CreateItemsDataObject(const std::vector<const ITEMIDLIST*>& items,
                                          const std::vector<std::wstring>& paths) {
    ComPtr<IDataObject> dataObject;
    // The object starts with the one reference that the pointer takes over.
    *dataObject.put() = new (std::nothrow) ItemsDataObject(items, paths);
    return dataObject;
}

std::vector<std::wstring> DroppedPaths(IDataObject& dataObject) {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    std::vector<std::wstring> paths;
    if (FAILED(dataObject.GetData(&format, &medium))) {
        return paths;
    }
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal != nullptr) {
        // An HDROP is the memory handle itself; DragQueryFileW locks it.
        const auto drop = static_cast<HDROP>(medium.hGlobal);
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            const UINT length = DragQueryFileW(drop, i, nullptr, 0);
            std::wstring path(length + 1, L'\0');
            DragQueryFileW(drop, i, path.data(), length + 1);
            path.resize(length);
            paths.push_back(path);
        }
    }
    ReleaseStgMedium(&medium);
    return paths;
}

} // namespace pathlift::tools
