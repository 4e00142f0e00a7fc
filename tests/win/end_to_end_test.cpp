// Pathlift.dll end to end, the way Explorer and a user go: the server registered, its handler created from the
// registered class and handed the shell's data object for files made here, its menu entry asked for and invoked,
// the dialog's options clicked and Copy pressed. Checked by the exact clipboard text and the stored options.

#include "tools/host_options.h"
#include "tools/shell_host_data_object.h"
#include "tools/shell_host_flow.h"
#include "tools/shell_selection.h"

#include "tests/win/registry_support.h"
#include "tests/win/temp_directory.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace pathlift::testing {

// A stored value as a failure message shows it: its type and its bytes in hexadecimal.
void PrintTo(const StoredValue& value, std::ostream* os) {
    if (!value.present) {
        *os << "(absent)";
        return;
    }
    *os << "type " << value.type << ":";
    for (std::uint8_t byte : value.bytes) {
        static const char digits[] = "0123456789ABCDEF";
        *os << ' ' << digits[byte >> 4] << digits[byte & 15];
    }
}

} // namespace pathlift::testing

namespace pathlift {
namespace {

using namespace pathlift::testing;
using namespace pathlift::tools;
using namespace std::string_literals;

constexpr wchar_t kMenuText[] = L"選択ファイルのパスをコピー";
constexpr wchar_t kFileHandlerKey[] = L"*\\ShellEx\\ContextMenuHandlers\\Pathlift";
constexpr wchar_t kFolderHandlerKey[] = L"Folder\\ShellEx\\ContextMenuHandlers\\Pathlift";

std::wstring BuiltDllPath() {
    wchar_t exe[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    std::wstring path(exe, length);
    path.erase(path.find_last_of(L"\\/") + 1);
    path += L"" PATHLIFT_DLL_FROM_TEST_DIR;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    wchar_t full[MAX_PATH * 4] = {};
    const DWORD fullLength = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return {full, fullLength};
}

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

std::wstring ShortPath(const std::wstring& path) {
    wchar_t shortPath[MAX_PATH * 4] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH * 4);
    return {shortPath, length};
}

// The paths a data object's CFSTR_SHELLIDLIST names: each item's list joined to the parent's.
std::vector<std::wstring> IdListPaths(IDataObject& dataObject) {
    FORMATETC format = {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST)), nullptr, DVASPECT_CONTENT,
                        -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    std::vector<std::wstring> paths;
    if (FAILED(dataObject.GetData(&format, &medium))) {
        return paths;
    }
    if (const auto* base = static_cast<const BYTE*>(GlobalLock(medium.hGlobal))) {
        UINT count = 0;
        std::memcpy(&count, base, sizeof(UINT));
        std::vector<UINT> offsets(count + 1);
        std::memcpy(offsets.data(), base + sizeof(UINT), offsets.size() * sizeof(UINT));
        const auto* parent = reinterpret_cast<const ITEMIDLIST*>(base + offsets[0]);
        for (UINT i = 1; i <= count; ++i) {
            const UniquePidl item(ILCombine(parent, reinterpret_cast<const ITEMIDLIST*>(base + offsets[i])));
            wchar_t path[MAX_PATH] = {};
            SHGetPathFromIDListW(item.get(), path);
            paths.emplace_back(path);
        }
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    return paths;
}

FileList Files(const std::vector<std::wstring>& paths) {
    FileList files;
    for (const std::wstring& path : paths) {
        files.push_back(ToU16(path));
    }
    return files;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteSettingsKey();
        ASSERT_NE(GetFileAttributesW(dll_.c_str()), INVALID_FILE_ATTRIBUTES) << "no DLL at " << dll_;
        // The expected texts below write the directory's own characters out unchanged.
        ASSERT_EQ(dir_.Path().find(L' '), std::wstring::npos) << dir_.Path();
        report_ = dir_.File(L"report 2026.txt");
        memo_ = dir_.File(L"日本語 メモ.txt");
        folder_ = dir_.Directory(L"My Folder");
        archive_ = dir_.File(L"archive.tar.gz");
        for (const std::wstring& path : {report_, memo_, folder_, archive_}) {
            ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
        }
    }
    void TearDown() override { DeleteSettingsKey(); }

    ShellHostResult Run(std::vector<std::wstring> arguments, const std::vector<std::wstring>& paths,
                        ShellHostSettings settings = {}) {
        arguments.insert(arguments.end(), paths.begin(), paths.end());
        const HostRequest request = ParseHostArguments(arguments);
        EXPECT_TRUE(request.error.empty()) << request.error;
        if (settings.dllPath.empty()) {
            settings.dllPath = dll_;
        }
        return RunShellHost(settings, request);
    }

    std::vector<std::wstring> FourItems() const { return {report_, memo_, folder_, archive_}; }

    const std::wstring dll_ = BuiltDllPath();
    TempDirectory dir_;
    std::wstring report_, memo_, folder_, archive_;
};

TEST_F(EndToEnd, OptionsSetOnTheDialogGiveTheExactClipboardText) {
    const std::wstring d = dir_.Path();
    const std::wstring slashed = Replace(d, L"\\", L"/");
    const std::wstring doubledLower = Replace(AsciiLower(d), L"\\", L"\\\\");
    const std::wstring fullPaths =
        d + L"\\report 2026.txt\r\n" + d + L"\\日本語 メモ.txt\r\n" + d + L"\\My Folder\r\n" + d + L"\\archive.tar.gz";
    struct Row {
        const char* name;
        std::vector<std::wstring> flags;
        std::wstring clipboard;
    };
    const Row rows[] = {
        {"defaults", {}, fullPaths},
        {"names, always quoted, semicolons, upper case",
         {L"--mode", L"name", L"--quote", L"always", L"--separator", L";", L"--case", L"upper"},
         L"\"REPORT 2026.TXT\";\"日本語 メモ.TXT\";\"MY FOLDER\";\"ARCHIVE.TAR.GZ\""},
        {"no extension, spaces as %20, slashes, tabs",
         {L"--no-extension", L"--space-as-%20", L"--dir-separator", L"/", L"--separator", L"tab"},
         slashed + L"/report%202026\t" + slashed + L"/日本語%20メモ\t" + slashed + L"/My%20Folder\t" + slashed +
             L"/archive.tar"},
        {"quoted where a space is, doubled backslashes, lower case, spaces between",
         {L"--quote", L"if-space", L"--dir-separator", L"\\\\", L"--case", L"lower", L"--separator", L"space"},
         L"\"" + doubledLower + L"\\\\report 2026.txt\" \"" + doubledLower + L"\\\\日本語 メモ.txt\" \"" +
             doubledLower + L"\\\\my folder\" " + doubledLower + L"\\\\archive.tar.gz"},
        {"universal names on a local drive are the paths themselves", {L"--mode", L"unc"}, fullPaths},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteSettingsKey();
        const ShellHostResult result = Run(row.flags, FourItems());
        ASSERT_TRUE(result.succeeded) << result.error;
        EXPECT_TRUE(result.clipboardHasText);
        EXPECT_EQ(result.clipboard, row.clipboard);
        EXPECT_TRUE(result.messageBoxes.empty());
    }
}

TEST_F(EndToEnd, TheMenuEntryIsOneItemAtTheGivenPlaceWithTheFirstId) {
    const ShellHostResult result = Run({}, {report_});
    ASSERT_TRUE(result.succeeded) << result.error;
    EXPECT_EQ(result.handlerKey, kFileHandlerKey);
    EXPECT_EQ(result.queryResult, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    EXPECT_EQ(result.menuItemCount, 1);
    EXPECT_EQ(result.menuText, kMenuText);
    EXPECT_EQ(result.menuPosition, 0);
    EXPECT_EQ(result.menuId, 1u);
    EXPECT_EQ(result.clipboard, report_);
}

TEST_F(EndToEnd, TheMenuEntryGoesAmongExplorersOwnItemsWhereAsked) {
    ShellHostSettings settings;
    settings.existingMenuItems = 3;
    settings.menuIndex = 1;
    settings.firstCommandId = 100;
    settings.lastCommandId = 200;
    const ShellHostResult result = Run({}, {report_}, settings);
    ASSERT_TRUE(result.succeeded) << result.error;
    EXPECT_EQ(result.queryResult, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    EXPECT_EQ(result.menuItemCount, 4);
    EXPECT_EQ(result.menuText, kMenuText);
    EXPECT_EQ(result.menuPosition, 1);
    EXPECT_EQ(result.menuId, 100u);
    EXPECT_EQ(result.clipboard, report_);
}

TEST_F(EndToEnd, TheDialogIsAVisibleTopLevelWindowWithoutOwner) {
    const ShellHostResult result = Run({}, {report_});
    ASSERT_TRUE(result.succeeded) << result.error;
    EXPECT_NE(result.dialog, nullptr);
    EXPECT_EQ(result.dialogOwner, nullptr);
    EXPECT_TRUE(result.dialogVisible);
    EXPECT_FALSE(IsWindow(result.dialog)) << "Copy closes the dialog";
}

TEST_F(EndToEnd, FoldersInTheSelectionAreCopiedLikeFiles) {
    struct Row {
        const char* name;
        std::vector<std::wstring> flags;
        std::vector<std::wstring> paths;
        std::wstring handlerKey;
        std::wstring clipboard;
    };
    const Row rows[] = {
        {"a folder alone", {}, {folder_}, kFolderHandlerKey, folder_},
        {"a folder and a file, quoted",
         {L"--quote", L"always"},
         {folder_, report_},
         kFolderHandlerKey,
         L"\"" + folder_ + L"\"\r\n\"" + report_ + L"\""},
        {"a file and a folder by name",
         {L"--mode", L"name"},
         {report_, folder_},
         kFileHandlerKey,
         L"report 2026.txt\r\nMy Folder"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteSettingsKey();
        const ShellHostResult result = Run(row.flags, row.paths);
        ASSERT_TRUE(result.succeeded) << result.error;
        EXPECT_EQ(result.handlerKey, row.handlerKey);
        EXPECT_EQ(result.clipboard, row.clipboard);
    }
}

TEST_F(EndToEnd, ItemsOfDifferentFoldersAreCopiedInSelectionOrder) {
    dir_.Directory(L"サブ フォルダ");
    const std::wstring inner = dir_.File(L"サブ フォルダ\\inner.txt");
    const ShellHostResult result = Run({L"--separator", L";"}, {inner, report_, folder_});
    ASSERT_TRUE(result.succeeded) << result.error;
    EXPECT_FALSE(result.selectionFrom.empty());
    EXPECT_EQ(result.clipboard, inner + L";" + report_ + L";" + folder_);
}

TEST_F(EndToEnd, CopySavesTheOptionsAndTheNextDialogShowsThem) {
    const ShellHostResult first =
        Run({L"--mode", L"name", L"--quote", L"always", L"--separator", L";", L"--case", L"upper"}, FourItems());
    ASSERT_TRUE(first.succeeded) << first.error;
    const std::vector<StoredValue> saved = {
        Dword(2), Dword(0), Dword(0), Dword(0), Dword(1), Dword(1), Text(REG_MULTI_SZ, L";\0"s), Dword(1)};
    EXPECT_EQ(AllStoredOptions(), saved);
    EXPECT_EQ(Stored(L"Mode"), (StoredValue{true, REG_DWORD, {2, 0, 0, 0}}));
    EXPECT_EQ(Stored(L"FileSeparator"), (StoredValue{true, REG_MULTI_SZ, {';', 0, 0, 0}}));

    // Copy as the dialog loaded the options: the ones just saved.
    ShellHostSettings settings;
    settings.action = DialogAction::CopySavedOptions;
    const ShellHostResult second = Run({}, {archive_, report_}, settings);
    ASSERT_TRUE(second.succeeded) << second.error;
    EXPECT_EQ(second.clipboard, L"\"ARCHIVE.TAR.GZ\";\"REPORT 2026.TXT\"");
    EXPECT_EQ(AllStoredOptions(), saved);
}

TEST_F(EndToEnd, AllEightOptionsAreSavedAsClicked) {
    const ShellHostResult result = Run({L"--short", L"--no-extension", L"--space-as-%20", L"--quote", L"if-space",
                                        L"--dir-separator", L"\\\\", L"--separator", L"tab", L"--case", L"lower"},
                                       {report_});
    ASSERT_TRUE(result.succeeded) << result.error;
    const std::vector<StoredValue> saved = {
        Dword(1), Dword(1), Dword(1), Dword(1), Dword(2), Dword(3), Text(REG_MULTI_SZ, L"\t\0"s), Dword(2)};
    EXPECT_EQ(AllStoredOptions(), saved);
}

TEST_F(EndToEnd, CancelSavesNothingAndCopiesNothing) {
    ShellHostSettings settings;
    settings.action = DialogAction::Cancel;
    const ShellHostResult result = Run({}, FourItems(), settings);
    ASSERT_TRUE(result.succeeded) << result.error;
    EXPECT_FALSE(IsWindow(result.dialog));
    EXPECT_FALSE(result.clipboardHasText) << result.clipboard;
    EXPECT_EQ(AllStoredOptions(), std::vector<StoredValue>(8));
}

TEST_F(EndToEnd, ShortNamesAreTheSystemsShortPaths) {
    const std::wstring file = dir_.File(L"a rather long name.text");
    const std::wstring shortPath = ShortPath(file);
    ASSERT_FALSE(shortPath.empty());
    ASSERT_NE(shortPath, file) << "the file system gives this name no short form";
    struct Row {
        const char* name;
        std::vector<std::wstring> flags;
        std::wstring clipboard;
    };
    const Row rows[] = {
        {"short full path", {L"--short"}, shortPath},
        {"short name only", {L"--short", L"--mode", L"name"}, shortPath.substr(shortPath.find_last_of(L'\\') + 1)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteSettingsKey();
        const ShellHostResult result = Run(row.flags, {file});
        ASSERT_TRUE(result.succeeded) << result.error;
        EXPECT_EQ(result.clipboard, row.clipboard);
    }
}

TEST_F(EndToEnd, FailuresAreReportedInWords) {
    const std::wstring missingFile = dir_.Path() + L"\\not here.txt";
    const std::wstring missingDll = dir_.Path() + L"\\NoSuch.dll";
    struct Row {
        const char* name;
        std::wstring dll;
        std::vector<std::wstring> paths;
        std::wstring error;
    };
    const Row rows[] = {
        {"a path that does not exist",
         L"",
         {report_, missingFile},
         L"cannot select " + missingFile + L": SHParseDisplayName failed with 0x80070002 (no such file or folder)"},
        {"no DLL", missingDll, {report_}, L"the DLL " + missingDll + L" does not exist"},
        {"no paths", L"", {}, L"no paths to select"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ShellHostSettings settings;
        settings.dllPath = row.dll;
        const ShellHostResult result = Run({}, row.paths, settings);
        EXPECT_FALSE(result.succeeded);
        EXPECT_EQ(result.error, row.error);
        EXPECT_TRUE(result.menuText.empty());
        EXPECT_EQ(result.dialog, nullptr);
    }
}

// The data objects the host hands over, without the DLL: each must name exactly the selection.
TEST_F(EndToEnd, TheSelectionsDataObjectNamesEachItemInOrder) {
    dir_.Directory(L"サブ フォルダ");
    const std::wstring inner = dir_.File(L"サブ フォルダ\\inner.txt");
    struct Row {
        const char* name;
        std::vector<std::wstring> paths;
    };
    const Row rows[] = {
        {"one folder", {memo_, folder_, report_}},
        {"different folders", {inner, report_, folder_}},
        {"one item", {archive_}},
    };
    const ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ShellSelection selection = CreateShellSelection(Files(row.paths));
        ASSERT_TRUE(selection.dataObject) << selection.error;
        EXPECT_EQ(DroppedPaths(*selection.dataObject.get()), row.paths) << selection.madeBy;
        EXPECT_EQ(IdListPaths(*selection.dataObject.get()), row.paths) << selection.madeBy;
    }
}

TEST_F(EndToEnd, TheHostsOwnDataObjectOffersBothFormatsOnly) {
    dir_.Directory(L"サブ フォルダ");
    const std::wstring inner = dir_.File(L"サブ フォルダ\\inner.txt");
    const ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    std::vector<UniquePidl> items;
    std::vector<const ITEMIDLIST*> lists;
    for (const std::wstring& path : {inner, report_}) {
        PIDLIST_ABSOLUTE item = nullptr;
        ASSERT_EQ(SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr), S_OK) << path;
        items.emplace_back(item);
        lists.push_back(item);
    }
    const ComPtr<IDataObject> dataObject = CreateItemsDataObject(lists, {inner, report_});
    ASSERT_TRUE(dataObject);
    EXPECT_EQ(DroppedPaths(*dataObject.get()), (std::vector<std::wstring>{inner, report_}));
    EXPECT_EQ(IdListPaths(*dataObject.get()), (std::vector<std::wstring>{inner, report_}));

    FORMATETC text = {CF_UNICODETEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(dataObject->QueryGetData(&text), DV_E_FORMATETC);
    FORMATETC asStream = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
    EXPECT_EQ(dataObject->QueryGetData(&asStream), DV_E_TYMED);
    FORMATETC drop = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(dataObject->QueryGetData(&drop), S_OK);

    ComPtr<IEnumFORMATETC> formats;
    ASSERT_EQ(dataObject->EnumFormatEtc(DATADIR_GET, formats.put()), S_OK);
    std::vector<CLIPFORMAT> offered;
    FORMATETC format = {};
    while (formats->Next(1, &format, nullptr) == S_OK) {
        offered.push_back(format.cfFormat);
    }
    const std::vector<CLIPFORMAT> expected = {CF_HDROP,
                                              static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST))};
    EXPECT_EQ(offered, expected);
}

} // namespace
} // namespace pathlift
