// Builds the selection's data object the ways Explorer does, and checks that it names exactly the selection.

#include "shell_selection.h"

#include "host_text.h"
#include "shell_host_data_object.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

namespace pathlift::tools {

namespace {

bool SamePaths(const std::vector<std::wstring>& given, const std::vector<std::wstring>& wanted) {
    if (given.size() != wanted.size()) {
        return false;
    }
    for (std::size_t i = 0; i < given.size(); ++i) {
        if (CompareStringOrdinal(given[i].c_str(), static_cast<int>(given[i].size()), wanted[i].c_str(),
                                 static_cast<int>(wanted[i].size()), TRUE) != CSTR_EQUAL) {
            return false;
        }
    }
    return true;
}

} // namespace

ShellSelection CreateShellSelection(const FileList& paths) {
    ShellSelection selection;
    if (paths.empty()) {
        selection.error = L"no paths to select";
        return selection;
    }
    std::vector<UniquePidl> items;
    std::vector<std::wstring> itemPaths; // as the shell names each item
    for (const std::u16string& path : paths) {
        const std::wstring full = FullPath(Wide(path));
        PIDLIST_ABSOLUTE item = nullptr;
        HRESULT hr = SHParseDisplayName(full.c_str(), nullptr, &item, 0, nullptr);
        if (FAILED(hr)) {
            const bool missing = GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES;
            selection.error = L"cannot select " + full + L": SHParseDisplayName failed with " + HresultText(hr) +
                              (missing ? L" (no such file or folder)" : L"");
            selection.failedResult = hr;
            return selection;
        }
        items.emplace_back(item);
        PWSTR name = nullptr;
        hr = SHGetNameFromIDList(item, SIGDN_FILESYSPATH, &name);
        if (FAILED(hr)) {
            selection.error = L"cannot select " + full + L": it is not a file-system item (" + HresultText(hr) + L")";
            selection.failedResult = hr;
            return selection;
        }
        itemPaths.emplace_back(name);
        CoTaskMemFree(name);
    }

    // A data object is taken only when its CF_HDROP names exactly the selected items, in order.
    std::wstring notes;
    const auto accept = [&](ComPtr<IDataObject>& candidate, const std::wstring& madeBy, HRESULT hr) {
        if (FAILED(hr) || !candidate) {
            notes += (notes.empty() ? L"" : L"; ") + madeBy + L" failed with " + HresultText(hr);
            return false;
        }
        if (!SamePaths(DroppedPaths(*candidate.get()), itemPaths)) {
            notes += (notes.empty() ? L"" : L"; ") + madeBy + L" names other paths";
            return false;
        }
        selection.dataObject = std::move(candidate);
        selection.madeBy = madeBy + (notes.empty() ? L"" : L" (" + notes + L")");
        return true;
    };

    // One parent for all: the folder makes the data object, as Explorer's own view does.
    bool oneParent = true;
    UniquePidl firstParent(ILClone(items.front().get()));
    if (!firstParent || !ILRemoveLastID(firstParent.get())) {
        oneParent = false;
    }
    for (std::size_t i = 1; oneParent && i < items.size(); ++i) {
        UniquePidl parent(ILClone(items[i].get()));
        oneParent = parent && ILRemoveLastID(parent.get()) && ILIsEqual(firstParent.get(), parent.get());
    }
    const UINT count = static_cast<UINT>(items.size());
    if (oneParent) {
        ComPtr<IShellFolder> folder;
        PCUITEMID_CHILD firstChild = nullptr;
        HRESULT hr = SHBindToParent(items.front().get(), IID_IShellFolder, folder.put_void(), &firstChild);
        if (SUCCEEDED(hr)) {
            std::vector<PCUITEMID_CHILD> children;
            for (const UniquePidl& item : items) {
                children.push_back(ILFindLastID(item.get()));
            }
            ComPtr<IDataObject> candidate;
            hr = folder->GetUIObjectOf(nullptr, count, children.data(), IID_IDataObject, nullptr, candidate.put_void());
            if (accept(candidate, L"IShellFolder::GetUIObjectOf", hr)) {
                return selection;
            }
        } else {
            notes = L"SHBindToParent failed with " + HresultText(hr);
        }
    } else {
        // Items of different folders, as a search result has them: lists relative to the desktop, each naming
        // its item in full. Wine 8 has only a stub of SHCreateDataObject, and the data object of its
        // CIDLData_CreateFromIDArray names each item by the first id of its list alone.
        PIDLIST_ABSOLUTE desktopItem = nullptr;
        const HRESULT hr = SHGetFolderLocation(nullptr, CSIDL_DESKTOP, nullptr, 0, &desktopItem);
        if (FAILED(hr)) {
            selection.error = L"SHGetFolderLocation(CSIDL_DESKTOP) failed with " + HresultText(hr);
            selection.failedResult = hr;
            return selection;
        }
        const UniquePidl desktop(desktopItem);
        std::vector<PCUITEMID_CHILD> relative;
        for (const UniquePidl& item : items) {
            relative.push_back(item.get());
        }
        ComPtr<IDataObject> candidate;
        HRESULT created =
            SHCreateDataObject(desktop.get(), count, relative.data(), nullptr, IID_IDataObject, candidate.put_void());
        if (accept(candidate, L"SHCreateDataObject", created)) {
            return selection;
        }
        created = CIDLData_CreateFromIDArray(desktop.get(), count, relative.data(), candidate.put());
        if (accept(candidate, L"CIDLData_CreateFromIDArray", created)) {
            return selection;
        }
    }

    // What the system offered does not name this selection: the host's own object gives the same two formats.
    std::vector<const ITEMIDLIST*> lists;
    for (const UniquePidl& item : items) {
        lists.push_back(item.get());
    }
    selection.dataObject = CreateItemsDataObject(lists, itemPaths);
    if (!selection.dataObject) {
        selection.error = L"no memory for the data object (" + notes + L")";
        selection.failedResult = E_OUTOFMEMORY;
        return selection;
    }
    selection.madeBy = L"the host's own CF_HDROP and CFSTR_SHELLIDLIST data object (" + notes + L")";
    return selection;
}

} // namespace pathlift::tools
