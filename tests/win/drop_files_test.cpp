// The CF_HDROP reader against Wine's own DragQueryFileW, on blocks built here and on a real shell data object. The
// malformed blocks are the native tests' business, under the address sanitizer.

#include "shellext/drop_files.h"

#include "tests/win/temp_directory.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pathlift {
namespace {

using namespace std::literals;
using testing::TempDirectory;
using testing::ToU16;

using Bytes = std::vector<unsigned char>;

constexpr DWORD kHeaderSize = sizeof(DROPFILES);

Bytes& operator+=(Bytes& bytes, std::u16string_view text) {
    const auto* first = reinterpret_cast<const unsigned char*>(text.data());
    bytes.insert(bytes.end(), first, first + text.size() * sizeof(char16_t));
    return bytes;
}
Bytes& operator+=(Bytes& bytes, std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

// A DROPFILES header, then non-null padding up to size; whatever is appended follows.
Bytes Header(DWORD offset, bool wide, std::size_t size = kHeaderSize) {
    DROPFILES header = {};
    header.pFiles = offset;
    header.pt = {0x41414141, 0x42424242}; // "AAAABBBB" to a reader that starts inside the header
    header.fWide = wide ? TRUE : FALSE;
    Bytes bytes(size < sizeof(header) ? sizeof(header) : size, 'P');
    std::memcpy(bytes.data(), &header, sizeof(header));
    return bytes;
}

// A well-formed block: header, padding up to the offset, the names, the final empty name, then trailing.
Bytes WideBlock(const FileList& names, DWORD offset = kHeaderSize, std::u16string_view trailing = {}) {
    Bytes bytes = Header(offset, true, offset);
    for (const std::u16string& name : names) {
        bytes += name;
        bytes += u"\0"sv;
    }
    bytes += u"\0"sv;
    bytes += trailing;
    return bytes;
}
Bytes AnsiBlock(const std::vector<std::string>& names, DWORD offset = kHeaderSize) {
    Bytes bytes = Header(offset, false, offset);
    for (const std::string& name : names) {
        bytes += name;
        bytes += "\0"sv;
    }
    bytes += "\0"sv;
    return bytes;
}

// A path of exactly the given length.
std::u16string Long(std::size_t length, char16_t fill = u'a') {
    std::u16string path = uR"(C:\)";
    path.resize(length, fill);
    return path;
}

FileList CutToLongestKept(FileList names) {
    for (std::u16string& name : names) {
        name = name.substr(0, kMaxPathLength);
    }
    return names;
}

// The name in the system's code page; fails the test if the code page lacks one of its characters.
std::string ToAnsi(const std::u16string& name) {
    const auto* wide = reinterpret_cast<const wchar_t*>(name.c_str());
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lossy);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, text.data(), size, nullptr, &lossy);
    EXPECT_FALSE(lossy) << "code page " << GetACP() << " cannot hold a character of the test's name";
    text.resize(text.size() - 1);
    return text;
}

// A movable global block of exactly the given bytes. It is made larger and filled with "X" and nulls first, then
// shrunk to size, so that the bytes just past its end hold, as far as the heap leaves them, a short name and its
// terminator in either form: a reader going on past the end would take them into the last name.
class GlobalBlock {
public:
    explicit GlobalBlock(const Bytes& bytes) : size_(bytes.size()) {
        constexpr SIZE_T kLure = 64;
        handle_ = GlobalAlloc(GMEM_MOVEABLE, size_ + kLure);
        if (auto* data = static_cast<unsigned char*>(GlobalLock(handle_))) {
            for (SIZE_T i = 0; i < size_ + kLure; ++i) {
                data[i] = i % 4 == 0 ? 'X' : '\0';
            }
            std::memcpy(data, bytes.data(), size_);
            GlobalUnlock(handle_);
        }
        if (HGLOBAL shrunk = GlobalReAlloc(handle_, size_, GMEM_MOVEABLE)) {
            handle_ = shrunk;
        }
    }
    ~GlobalBlock() { GlobalFree(handle_); }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    // The handle, once the test has checked that GlobalSize reports exactly the bytes given.
    HGLOBAL Get() const {
        EXPECT_EQ(GlobalSize(handle_), size_);
        return handle_;
    }

private:
    HGLOBAL handle_ = nullptr;
    SIZE_T size_;
};

FileList Read(HGLOBAL block) {
    return ReadDropFiles(block).ToList();
}

// What a caller of DragQueryFileW gets: the count, then each name through a buffer of kMaxPathLength + 1.
FileList Oracle(HGLOBAL block) {
    const auto drop = static_cast<HDROP>(block);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<wchar_t> buffer(kMaxPathLength + 1);
    FileList files;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, buffer.data(), static_cast<UINT>(buffer.size()));
        files.emplace_back(reinterpret_cast<const char16_t*>(buffer.data()), length);
    }
    return files;
}

TEST(DropFilesWide, NamesAsDragQueryFileWGivesThem) {
    struct Row {
        const char* name;
        FileList names;
        DWORD offset = kHeaderSize;
        std::u16string trailing = {};
    };
    const Row rows[] = {
        {"one name", {uR"(C:\Users\someone\report.txt)"}},
        {"several names in order",
         {uR"(C:\b.txt)", uR"(C:\a.txt)", uR"(D:\)", uR"(C:\Windows\System32)", uR"(\\server\share\x.doc)"}},
        {"Japanese names", {uR"(C:\データ\日本語のファイル名.txt)", uR"(C:\写真\夏休み　2024\海.jpg)"}},
        {"spaces", {uR"(C:\Program Files\My App\read me.txt)", uR"(C:\ leading and trailing \x )"}},
        {"a character outside the basic plane", {uR"(C:\emoji\😀 smile.txt)"}},
        {"exactly the longest kept", {Long(kMaxPathLength)}},
        {"one character too long", {Long(kMaxPathLength + 1, u'b')}},
        {"far too long, between two others", {uR"(C:\first)", Long(40000, u'日'), uR"(C:\last)"}},
        {"padding between header and names", {uR"(C:\a)", uR"(C:\b c)"}, kHeaderSize + 12},
        {"names at an odd offset", {uR"(C:\a)", uR"(C:\b c)"}, kHeaderSize + 3},
        {"bytes after the list are not part of it", {uR"(C:\a)"}, kHeaderSize, u"C:\\b\0\0"s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes bytes = WideBlock(row.names, row.offset, row.trailing);
        const FileList expected = CutToLongestKept(row.names);
        const GlobalBlock block(bytes);
        EXPECT_EQ(Oracle(block.Get()), expected);
        EXPECT_EQ(Read(block.Get()), expected);
    }
}

TEST(DropFilesAnsi, NamesAsDragQueryFileWGivesThem) {
    std::printf("system code page %u\n", GetACP());
    struct Row {
        const char* name;
        FileList names;
        DWORD offset = kHeaderSize;
    };
    const Row rows[] = {
        {"one name", {uR"(C:\Users\someone\report.txt)"}},
        {"several names in order", {uR"(C:\b.txt)", uR"(C:\a.txt)", uR"(D:\)", uR"(\\server\share\x.doc)"}},
        {"letters of the code page", {uR"(C:\Café\résumé été.txt)", uR"(C:\Müller\Straße ½ €.doc)"}},
        {"spaces", {uR"(C:\Program Files\My App\read me.txt)", uR"(C:\ leading and trailing \x )"}},
        {"exactly the longest kept", {Long(kMaxPathLength, u'é')}},
        {"one character too long", {Long(kMaxPathLength + 1, u'é')}},
        {"far too long, between two others", {uR"(C:\first)", Long(40000, u'é'), uR"(C:\last)"}},
        {"longer than the part converted", {Long(200000, u'ü'), uR"(C:\next)"}},
        {"padding between header and names", {uR"(C:\a)", uR"(C:\b c)"}, kHeaderSize + 12},
        {"names at an odd offset", {uR"(C:\a)", uR"(C:\b c)"}, kHeaderSize + 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> encoded;
        for (const std::u16string& name : row.names) {
            encoded.push_back(ToAnsi(name));
        }
        const Bytes bytes = AnsiBlock(encoded, row.offset);
        const FileList expected = CutToLongestKept(row.names);
        const GlobalBlock block(bytes);
        EXPECT_EQ(Oracle(block.Get()), expected);
        EXPECT_EQ(Read(block.Get()), expected);
    }
}

TEST(DropFilesAnsi, EveryByteAsTheCodePageMapsIt) {
    std::string name;
    for (int byte = 1; byte < 256; ++byte) {
        name += static_cast<char>(byte);
    }
    std::wstring wide(name.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(), 255)));
    const FileList expected = {u"first", ToU16(wide), u"last"};
    const Bytes bytes = AnsiBlock({"first", name, "last"});
    const GlobalBlock block(bytes);
    EXPECT_EQ(Oracle(block.Get()), expected);
    EXPECT_EQ(Read(block.Get()), expected);
}

TEST(DropFiles, ThirtyThousandNamesInOnePass) {
    FileList names;
    for (int i = 0; i < 30000; ++i) {
        names.push_back(
            ToU16(L"C:\\Users\\someone\\Pictures\\Holiday 2024\\IMG_" + std::to_wstring(100000 + i) + L".jpg"));
    }
    const GlobalBlock block(WideBlock(names));

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const FileList ours = Read(block.Get());
    const auto read = Clock::now();
    const UINT count = DragQueryFileW(static_cast<HDROP>(block.Get()), 0xFFFFFFFF, nullptr, 0);
    const auto counted = Clock::now();
    const FileList oracle = Oracle(block.Get());
    const auto walked = Clock::now();

    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    std::printf("30000 names: ReadDropFiles %.4f s; DragQueryFileW count %.4f s, count and every index %.2f s\n",
                seconds(read - start), seconds(counted - read), seconds(walked - counted));
    EXPECT_EQ(count, 30000u);
    EXPECT_EQ(ours, names);
    EXPECT_EQ(ours, oracle);
    EXPECT_LT(seconds(read - start), 0.25);
}

template <typename T> struct ComRelease {
    void operator()(T* object) const { object->Release(); }
};
template <typename T> using ComPtr = std::unique_ptr<T, ComRelease<T>>;

struct PidlFree {
    void operator()(ITEMIDLIST* pidl) const { CoTaskMemFree(pidl); }
};
using UniquePidl = std::unique_ptr<ITEMIDLIST, PidlFree>;

class OleScope {
public:
    OleScope() : result_(OleInitialize(nullptr)) {}
    ~OleScope() {
        if (SUCCEEDED(result_)) {
            OleUninitialize();
        }
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

class MediumScope {
public:
    MediumScope() = default;
    ~MediumScope() { ReleaseStgMedium(&medium_); }
    MediumScope(const MediumScope&) = delete;
    MediumScope& operator=(const MediumScope&) = delete;
    STGMEDIUM* Get() { return &medium_; }

private:
    STGMEDIUM medium_ = {};
};

// The block the shell itself makes for a selection: the files' own data object, as Explorer hands it over.
TEST(DropFilesShell, DataObjectOfRealFiles) {
    const OleScope ole;
    ASSERT_TRUE(SUCCEEDED(ole.Result()));
    const TempDirectory dir;
    const std::vector<std::wstring> paths = {
        dir.File(L"second file.txt"), dir.File(L"日本語の名前.txt"), dir.Directory(L"a folder"),
        dir.File(L"zzz.log"),         dir.File(L"aaa.log"),
    };

    IShellFolder* desktopRaw = nullptr;
    ASSERT_EQ(SHGetDesktopFolder(&desktopRaw), S_OK);
    const ComPtr<IShellFolder> desktop(desktopRaw);
    std::vector<UniquePidl> pidls;
    for (const std::wstring& path : paths) {
        ITEMIDLIST* pidl = nullptr;
        ASSERT_EQ(
            desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(path.c_str()), nullptr, &pidl, nullptr),
            S_OK)
            << path;
        pidls.emplace_back(pidl);
    }
    IShellFolder* parentRaw = nullptr;
    ASSERT_EQ(SHBindToParent(pidls[0].get(), IID_IShellFolder, reinterpret_cast<void**>(&parentRaw), nullptr), S_OK);
    const ComPtr<IShellFolder> parent(parentRaw);
    std::vector<LPCITEMIDLIST> children;
    for (const UniquePidl& pidl : pidls) {
        children.push_back(ILFindLastID(pidl.get()));
    }
    IDataObject* dataRaw = nullptr;
    ASSERT_EQ(parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                    nullptr, reinterpret_cast<void**>(&dataRaw)),
              S_OK);
    const ComPtr<IDataObject> data(dataRaw);

    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    MediumScope medium;
    ASSERT_EQ(data->GetData(&format, medium.Get()), S_OK);
    ASSERT_EQ(medium.Get()->tymed, static_cast<DWORD>(TYMED_HGLOBAL));

    FileList expected;
    for (const std::wstring& path : paths) {
        expected.push_back(ToU16(path));
    }
    const FileList ours = Read(medium.Get()->hGlobal);
    EXPECT_EQ(ours, expected);
    EXPECT_EQ(ours, Oracle(medium.Get()->hGlobal));
}

TEST(DropFilesBlock, NullOrUnlockableGivesNothingAndTheBlockIsUnlockedAgain) {
    EXPECT_EQ(Read(nullptr), FileList());
    // A movable block of no bytes cannot be locked.
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(Read(empty), FileList());
    GlobalFree(empty);

    const GlobalBlock block(WideBlock({uR"(C:\a)", uR"(C:\b)"}));
    EXPECT_EQ(Read(block.Get()), FileList({uR"(C:\a)", uR"(C:\b)"}));
    EXPECT_EQ(GlobalFlags(block.Get()) & GMEM_LOCKCOUNT, 0u);
}

} // namespace
} // namespace pathlift
