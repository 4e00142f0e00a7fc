// The formatter with the system's own short-name and universal-name answers, on files created in the Wine prefix.

#include "engine/win/system_path_queries.h"

#include "tests/support/fake_path_queries.h"
#include "tests/win/import_patch.h"
#include "tests/win/temp_directory.h"

#include <gtest/gtest.h>

#include <winnetwk.h>

#include <cstring>

namespace pathlift {
namespace {

using testing::FormatSelection;
using testing::TempDirectory;
using testing::ToU16;
using testing::ToWide;

std::wstring SystemShortPath(const std::wstring& path) {
    wchar_t out[32768] = {};
    const DWORD written = GetShortPathNameW(path.c_str(), out, 32768);
    return written > 0 && written < 32768 ? std::wstring(out) : std::wstring();
}

CopyOptions With(std::uint32_t mode, std::uint32_t shortName) {
    CopyOptions options;
    options.Mode = mode;
    options.ShortName = shortName;
    return options;
}

TEST(SystemShortNames, EachExistingItemGetsTheShortFormTheSystemGives) {
    TempDirectory dir;
    const std::wstring folder = dir.Directory(L"Long Folder Name");
    const FileList files = {
        ToU16(dir.File(L"my file.txt")),
        ToU16(dir.File(L"長い名前のファイル.text")),
        ToU16(dir.File(L"Long Folder Name\\inner document.markdown")),
        ToU16(folder),
        ToU16(dir.File(L"plain.txt")),
    };
    SystemPathQueries system;
    const std::u16string text = FormatSelection(files, With(kModeFullPath, 1), system);

    std::u16string expected;
    for (const std::u16string& file : files) {
        const std::wstring shortForm = SystemShortPath(ToWide(file));
        ASSERT_FALSE(shortForm.empty()) << "the test's own query failed";
        expected += (expected.empty() ? u"" : u"\r\n") + ToU16(shortForm);
    }
    EXPECT_EQ(text, expected);
    // The name with a space has no 8.3 form of its own, so the short form really differs from the long one.
    EXPECT_NE(text.substr(0, files[0].size()), files[0]);
}

TEST(SystemShortNames, ShortFileNameAloneInModeTwo) {
    TempDirectory dir;
    const std::wstring file = dir.File(L"report for march.xlsx");
    SystemPathQueries system;
    const std::wstring shortForm = SystemShortPath(file);
    ASSERT_FALSE(shortForm.empty());
    const std::wstring shortName = shortForm.substr(shortForm.rfind(L'\\') + 1);
    EXPECT_EQ(FormatSelection({ToU16(file)}, With(kModeFileName, 1), system), ToU16(shortName));
}

TEST(SystemShortNames, MissingItemKeepsItsLongPath) {
    TempDirectory dir;
    const std::u16string missing = ToU16(dir.Path() + L"\\no such file here.txt");
    SystemPathQueries system;
    EXPECT_EQ(FormatSelection({missing}, With(kModeFullPath, 1), system), missing);
    EXPECT_EQ(FormatSelection({missing}, With(kModeUniversal, 1), system), missing);
}

TEST(SystemShortNames, PathLongerThanMaxPathIsShortenedWhole) {
    TempDirectory dir;
    std::wstring relative;
    for (int i = 0; i < 6; ++i) {
        relative += (i ? L"\\" : L"") + std::wstring(50, static_cast<wchar_t>(L'a' + i)) + L" dir";
        dir.Directory(relative);
    }
    const std::wstring file = dir.File(relative + L"\\final file name.txt");
    ASSERT_GT(file.size(), 300u);
    const std::wstring shortForm = SystemShortPath(L"\\\\?\\" + file);
    ASSERT_EQ(shortForm.rfind(L"\\\\?\\", 0), 0u) << "the test's own query failed";
    SystemPathQueries system;
    EXPECT_EQ(FormatSelection({ToU16(file)}, With(kModeFullPath, 1), system), ToU16(shortForm.substr(4)));
    EXPECT_EQ(FormatSelection({ToU16(file)}, With(kModeFullPath, 0), system), ToU16(file));
}

TEST(SystemUniversalNames, LocalItemsGiveTheirFullPathText) {
    TempDirectory dir;
    const FileList files = {ToU16(dir.File(L"shared notes.txt")), ToU16(dir.File(L"データ.csv")),
                            ToU16(dir.Directory(L"sub folder"))};
    SystemPathQueries system;
    for (std::uint32_t shortName : {0u, 1u}) {
        SCOPED_TRACE(shortName);
        for (std::uint32_t quote : {kQuoteNever, kQuoteIfSpace}) {
            CopyOptions universal = With(kModeUniversal, shortName);
            CopyOptions full = With(kModeFullPath, shortName);
            universal.WQuotation = full.WQuotation = quote;
            universal.DirectorySepalator = full.DirectorySepalator = kSeparatorSlash;
            EXPECT_EQ(FormatSelection(files, universal, system), FormatSelection(files, full, system));
        }
    }
    EXPECT_EQ(FormatSelection(files, With(kModeUniversal, 0), system),
              files[0] + u"\r\n" + files[1] + u"\r\n" + files[2]);
}

// WNetGetUniversalNameW as Windows documents it for a drive mapped to a share (Wine's copies the local path back):
// a drive-based path on the redirected drive Y: gives "\\srv\share" and the rest of the path as a
// UNIVERSAL_NAME_INFOW whose name follows it in the buffer; any other name, "\\?\Y:\..." included, is refused.
DWORD WINAPI MappedDriveY(LPCWSTR localPath, DWORD level, LPVOID buffer, LPDWORD size) {
    if (level != UNIVERSAL_NAME_INFO_LEVEL || (localPath[0] != L'Y' && localPath[0] != L'y') || localPath[1] != L':' ||
        (localPath[2] != L'\\' && localPath[2] != L'\0')) {
        return ERROR_BAD_DEVICE;
    }
    const std::wstring name = L"\\\\srv\\share" + std::wstring(localPath + 2);
    const DWORD needed = static_cast<DWORD>(sizeof(UNIVERSAL_NAME_INFOW) + (name.size() + 1) * sizeof(wchar_t));
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    info->lpUniversalName = reinterpret_cast<LPWSTR>(info + 1);
    std::memcpy(info->lpUniversalName, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return NO_ERROR;
}

TEST(SystemUniversalNames, MappedDriveIsAskedInItsDriveBasedFormAtAnyLength) {
    const testing::ImportPatch patch(GetModuleHandleW(nullptr), "WNetGetUniversalNameW",
                                     reinterpret_cast<const void*>(&MappedDriveY));
    ASSERT_TRUE(patch.Patched());
    const std::wstring deep = L"dir\\" + std::wstring(150, L'x') + L"\\" + std::wstring(150, L'y') + L"\\";
    struct Row {
        std::wstring path, expected;
    };
    const Row rows[] = {
        {L"Y:\\dir\\a.txt", L"\\\\srv\\share\\dir\\a.txt"},
        {L"Y:\\" + deep + L"long.txt", L"\\\\srv\\share\\" + deep + L"long.txt"},
        {L"\\\\?\\Y:\\" + deep + L"prefixed.txt", L"\\\\srv\\share\\" + deep + L"prefixed.txt"},
        {L"C:\\local\\b.txt", L"C:\\local\\b.txt"},
        {L"\\\\other\\share\\c.txt", L"\\\\other\\share\\c.txt"},
    };
    SystemPathQueries system;
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.path.size() << " characters: " << row.path.substr(0, 12));
        EXPECT_EQ(FormatSelection({ToU16(row.path)}, With(kModeUniversal, 0), system), ToU16(row.expected));
    }
}

TEST(SystemQueries, RefuseWhenTheBufferCannotHoldTheAnswer) {
    TempDirectory dir;
    const std::wstring file = dir.File(L"some long file name.txt");
    SystemPathQueries system;
    char16_t small[8] = {};
    EXPECT_FALSE(system.ShortPath(ToU16(file).c_str(), small, 8));
    char16_t tiny[4] = {};
    EXPECT_FALSE(system.UniversalName(ToU16(file).c_str(), tiny, 4));
    char16_t room[MAX_PATH] = {};
    ASSERT_TRUE(system.ShortPath(ToU16(file).c_str(), room, MAX_PATH));
    EXPECT_EQ(std::u16string(room), ToU16(SystemShortPath(file)));
}

} // namespace
} // namespace pathlift
