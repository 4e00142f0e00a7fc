// The generated selection: each path is written straight into the block, so even a million of them cost the host
// no more than the block itself.

#include "generated_selection.h"

#include "shell_host_data_object.h"

#include <shlobj.h>

#include <cstring>
#include <new>

namespace pathlift::tools {

namespace {

constexpr wchar_t kFolder[] = L"C:\\Users\\someone\\Documents\\Report\\archive\\item-";
constexpr wchar_t kExtension[] = L".txt";
constexpr std::size_t kFirstNumber = 1000000;

// Writes the path of index to out, which has room for it, and gives its length.
std::size_t WritePath(std::size_t index, wchar_t* out) {
    const std::size_t folder = std::size(kFolder) - 1;
    std::memcpy(out, kFolder, folder * sizeof(wchar_t));
    wchar_t digits[24];
    std::size_t count = 0;
    for (std::size_t v = kFirstNumber + index; v != 0; v /= 10) {
        digits[count++] = static_cast<wchar_t>(L'0' + v % 10);
    }
    std::size_t length = folder;
    while (count != 0) {
        out[length++] = digits[--count];
    }
    std::memcpy(out + length, kExtension, (std::size(kExtension) - 1) * sizeof(wchar_t));
    return length + std::size(kExtension) - 1;
}

// DROPFILES, then each path with its terminator, then one more terminator; null when there is no memory for it.
HGLOBAL RenderDropFiles(std::size_t count) {
    wchar_t path[64];
    SIZE_T characters = 1; // the final empty name
    for (std::size_t i = 0; i < count; ++i) {
        characters += WritePath(i, path) + 1;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    auto* bytes = block != nullptr ? static_cast<BYTE*>(GlobalLock(block)) : nullptr;
    if (bytes == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    DROPFILES header = {};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::memcpy(bytes, &header, sizeof(header));
    auto* names = reinterpret_cast<wchar_t*>(bytes + sizeof(DROPFILES));
    for (std::size_t i = 0; i < count; ++i) {
        names += WritePath(i, names);
        *names++ = L'\0';
    }
    *names = L'\0';
    GlobalUnlock(block);
    return block;
}

// Renders the block once and lends it out, as a shell data object that has its selection ready does: what the
// handler does with it is then all that is measured.
class GeneratedDataObject final : public BlockDataObject {
public:
    explicit GeneratedDataObject(HGLOBAL block) : BlockDataObject({CF_HDROP}), block_(block) {}

private:
    ~GeneratedDataObject() override { GlobalFree(block_); }
    HGLOBAL Render(CLIPFORMAT) const override { return block_; }
    bool Shared() const override { return true; }

    const HGLOBAL block_;
};

} // namespace

std::wstring GeneratedPath(std::size_t index) {
    wchar_t path[64];
    return std::wstring(path, WritePath(index, path));
}

std::wstring GeneratedText(std::size_t count) {
    std::wstring text;
    text.reserve(count * 60);
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) {
            text += L"\r\n";
        }
        text += GeneratedPath(i);
    }
    return text;
}

ComPtr<IDataObject> CreateGeneratedDataObject(std::size_t count) {
    ComPtr<IDataObject> dataObject;
    HGLOBAL block = RenderDropFiles(count);
    if (block == nullptr) {
        return dataObject;
    }
    // The object starts with the one reference that the pointer takes over.
    *dataObject.put() = new (std::nothrow) GeneratedDataObject(block);
    if (!dataObject) {
        GlobalFree(block);
    }
    return dataObject;
}

} // namespace pathlift::tools
