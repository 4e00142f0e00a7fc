// The host's own data object: both formats rendered once, up front, and handed out as fresh HGLOBAL copies.

#include "shell_host_data_object.h"

#include "engine/win/unique_handles.h"
#include "shellext/drop_files.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
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

class ItemsDataObject final : public BlockDataObject {
public:
    ItemsDataObject(const std::vector<const ITEMIDLIST*>& items, const std::vector<std::wstring>& paths)
        : BlockDataObject({CF_HDROP, static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST))}),
          dropFiles_(RenderDropFiles(paths)), idLists_(RenderIdLists(items)) {}

private:
    HGLOBAL Render(CLIPFORMAT format) const override {
        const std::vector<BYTE>& rendered = format == CF_HDROP ? dropFiles_ : idLists_;
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, rendered.size());
        if (copy == nullptr) {
            return nullptr;
        }
        void* bytes = GlobalLock(copy);
        std::memcpy(bytes, rendered.data(), rendered.size());
        GlobalUnlock(copy);
        return copy;
    }

    const std::vector<BYTE> dropFiles_;
    const std::vector<BYTE> idLists_;
};

} // namespace

HRESULT STDMETHODCALLTYPE BlockDataObject::QueryInterface(REFIID riid, void** object) {
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

ULONG STDMETHODCALLTYPE BlockDataObject::AddRef() {
    return ++references_;
}

ULONG STDMETHODCALLTYPE BlockDataObject::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT STDMETHODCALLTYPE BlockDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (format == nullptr || medium == nullptr) {
        return E_INVALIDARG;
    }
    if (const HRESULT offered = QueryGetData(format); offered != S_OK) {
        return offered;
    }
    HGLOBAL block = Render(format->cfFormat);
    if (block == nullptr) {
        return E_OUTOFMEMORY;
    }
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    medium->pUnkForRelease = nullptr;
    if (Shared()) {
        // ReleaseStgMedium then releases this reference and leaves the block alone.
        medium->pUnkForRelease = static_cast<IDataObject*>(this);
        AddRef();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BlockDataObject::QueryGetData(FORMATETC* format) {
    if (format == nullptr) {
        return E_INVALIDARG;
    }
    if (std::find(formats_.begin(), formats_.end(), format->cfFormat) == formats_.end()) {
        return DV_E_FORMATETC;
    }
    if ((format->tymed & TYMED_HGLOBAL) == 0) {
        return DV_E_TYMED;
    }
    return format->dwAspect == DVASPECT_CONTENT ? S_OK : DV_E_DVASPECT;
}

HRESULT STDMETHODCALLTYPE BlockDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (out != nullptr) {
        out->ptd = nullptr;
    }
    return DATA_S_SAMEFORMATETC;
}

HRESULT STDMETHODCALLTYPE BlockDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) {
    if (direction != DATADIR_GET) {
        return E_NOTIMPL;
    }
    std::vector<FORMATETC> offered;
    for (CLIPFORMAT format : formats_) {
        offered.push_back({format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
    }
    return SHCreateStdEnumFmtEtc(static_cast<UINT>(offered.size()), offered.data(), formats);
}

ComPtr<IDataObject> CreateItemsDataObject(const std::vector<const ITEMIDLIST*>& items,
                                          const std::vector<std::wstring>& paths) {
    ComPtr<IDataObject> dataObject;
    // The object starts with the one reference that the pointer takes over.
    *dataObject.put() = new (std::nothrow) ItemsDataObject(items, paths);
    return dataObject;
}

std::vector<std::wstring> DroppedPaths(IDataObject& dataObject) {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    UniqueStgMedium medium;
    std::vector<std::wstring> paths;
    if (FAILED(medium.GetData(&dataObject, &format)) || medium.get().tymed != TYMED_HGLOBAL) {
        return paths;
    }
    // The handler's own reader, in one pass: DragQueryFileW would walk the list again for every index.
    const Selection selection = ReadDropFiles(medium.get().hGlobal);
    paths.reserve(selection.size());
    for (std::size_t i = 0; i < selection.size(); ++i) {
        paths.emplace_back(selection[i].begin(), selection[i].end());
    }
    return paths;
}

} // namespace pathlift::tools
