// The settings store on Wine's real registry: result codes, lastError, value forms, and loading odd values.

#include "dialog/settings_store.h"

#include "tests/win/import_patch.h"
#include "tests/win/registry_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pathlift {
namespace {

using namespace pathlift::testing;

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { DeleteSettingsKey(); }
    void TearDown() override {
        CloseSettingsKey(nullptr);
        DeleteSettingsKey();
    }
};

TEST_F(SettingsStore, OperationsOnAClosedStoreDoNothing) {
    DWORD error = 0xDEADBEEF;
    std::uint32_t value = 7;
    DWORD size = 4;
    EXPECT_EQ(CloseSettingsKey(&error), kSettingsNothingDone);
    EXPECT_EQ(ReadSetting(L"Mode", nullptr, &value, &size, &error), kSettingsNothingDone);
    EXPECT_EQ(WriteSetting(L"Mode", REG_DWORD, &value, 4, &error), kSettingsNothingDone);
    EXPECT_EQ(error, 0xDEADBEEFu);
    EXPECT_EQ(value, 7u);
    EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(SettingsStore, OpenCreatesTheKeyAndASecondOpenDoesNothing) {
    DWORD error = 0xDEADBEEF;
    ASSERT_EQ(OpenSettingsKey(kSettingsKeyName, &error), kSettingsDone);
    EXPECT_EQ(error, 0u);
    EXPECT_TRUE(SettingsKeyExists());

    error = 0xDEADBEEF;
    EXPECT_EQ(OpenSettingsKey(kSettingsKeyName, &error), kSettingsNothingDone);
    EXPECT_EQ(error, 0xDEADBEEFu);
    // Still the first open's key: a write through it lands under Software\Pathlift.
    const std::uint32_t three = 3;
    EXPECT_EQ(WriteSetting(L"Mode", REG_DWORD, &three, 4, &error), kSettingsDone);
    EXPECT_EQ(Stored(L"Mode"), Dword(3));

    EXPECT_EQ(CloseSettingsKey(&error), kSettingsDone);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(CloseSettingsKey(&error), kSettingsNothingDone);
}

TEST_F(SettingsStore, FailedReadsGiveMinusOneWithTheRegistryError) {
    ASSERT_EQ(OpenSettingsKey(kSettingsKeyName, nullptr), kSettingsDone);
    DWORD error = 0;
    std::uint32_t value = 0;
    DWORD size = 4;
    EXPECT_EQ(ReadSetting(L"Mode", nullptr, &value, &size, &error), kSettingsFailed);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    const wchar_t longText[] = L"four";
    ASSERT_EQ(WriteSetting(L"FileSeparator", REG_SZ, longText, sizeof(longText), &error), kSettingsDone);
    char16_t separator[4] = {};
    size = 8;
    EXPECT_EQ(ReadSetting(L"FileSeparator", nullptr, separator, &size, &error), kSettingsFailed);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(CloseSettingsKey(nullptr), kSettingsDone);
}

TEST_F(SettingsStore, ReadAcceptsAnyTypeAndReportsTheStoredSize) {
    Store(L"Mode", Text(REG_SZ, std::wstring(L"2") + L'\0'));
    ASSERT_EQ(OpenSettingsKey(kSettingsKeyName, nullptr), kSettingsDone);
    std::uint32_t value = 0;
    DWORD size = 4;
    DWORD type = 0;
    EXPECT_EQ(ReadSetting(L"Mode", &type, &value, &size, nullptr), kSettingsDone);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 0x32u);
    CloseSettingsKey(nullptr);
}

TEST_F(SettingsStore, AFailedCreateLeavesTheStoreClosed) {
    // A key name component longer than the registry allows cannot be created.
    const std::wstring tooLong(300, L'k');
    DWORD error = 0;
    EXPECT_EQ(OpenSettingsKey(tooLong.c_str(), &error), kSettingsFailed);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(CloseSettingsKey(nullptr), kSettingsNothingDone);
    // Nothing was left half open: the next open works from the start.
    EXPECT_EQ(OpenSettingsKey(kSettingsKeyName, nullptr), kSettingsDone);
    EXPECT_EQ(CloseSettingsKey(nullptr), kSettingsDone);
}

// Every key the store opens or creates, with the rights it asks for, recorded in front of the real functions.
struct KeyRequest {
    std::wstring call; // "open" or "create"
    std::wstring name;
    REGSAM rights;
    bool operator==(const KeyRequest&) const = default;
};
std::vector<KeyRequest> g_requests;
decltype(&RegOpenKeyExW) g_realOpen = nullptr;
decltype(&RegCreateKeyExW) g_realCreate = nullptr;

LSTATUS WINAPI RecordOpen(HKEY parent, LPCWSTR name, DWORD options, REGSAM rights, PHKEY key) {
    g_requests.push_back({L"open", name, rights});
    return g_realOpen(parent, name, options, rights, key);
}
LSTATUS WINAPI RecordCreate(HKEY parent, LPCWSTR name, DWORD reserved, LPWSTR type, DWORD options, REGSAM rights,
                            LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) {
    g_requests.push_back({L"create", name, rights});
    return g_realCreate(parent, name, reserved, type, options, rights, security, key, disposition);
}

// Loading asks only to read and creates nothing; saving asks only to write. Neither asks for the rights to change
// the key's security, which a restricted host's token may not have.
TEST_F(SettingsStore, LoadingOnlyReadsAndSavingOnlyWrites) {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    g_realOpen =
        reinterpret_cast<decltype(&RegOpenKeyExW)>(reinterpret_cast<void*>(GetProcAddress(advapi, "RegOpenKeyExW")));
    g_realCreate = reinterpret_cast<decltype(&RegCreateKeyExW)>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "RegCreateKeyExW")));
    ImportPatch open(GetModuleHandleW(nullptr), "RegOpenKeyExW", reinterpret_cast<const void*>(&RecordOpen));
    ImportPatch create(GetModuleHandleW(nullptr), "RegCreateKeyExW", reinterpret_cast<const void*>(&RecordCreate));
    ASSERT_TRUE(open.Patched() && create.Patched());
    const std::vector<KeyRequest> reading = {{L"open", L"Software", KEY_QUERY_VALUE},
                                             {L"open", L"Pathlift", KEY_QUERY_VALUE}};

    g_requests.clear();
    EXPECT_EQ(LoadCopyOptions(), CopyOptions{});
    EXPECT_EQ(g_requests, reading) << "without a key: the defaults, and no key made";
    EXPECT_FALSE(SettingsKeyExists());

    g_requests.clear();
    SaveCopyOptions({.Mode = 2});
    EXPECT_EQ(g_requests, (std::vector<KeyRequest>{{L"open", L"Software", KEY_CREATE_SUB_KEY},
                                                   {L"create", L"Pathlift", KEY_SET_VALUE}}));
    EXPECT_EQ(Stored(L"Mode"), Dword(2));

    g_requests.clear();
    EXPECT_EQ(LoadCopyOptions(), CopyOptions{.Mode = 2});
    EXPECT_EQ(g_requests, reading);
    EXPECT_EQ(CloseSettingsKey(nullptr), kSettingsNothingDone) << "loading must close the key";
}

TEST_F(SettingsStore, LoadingWhileTheKeyIsOpenGivesTheDefaultsAndLeavesItOpen) {
    StoreDword(L"Mode", 2);
    ASSERT_EQ(OpenSettingsKey(kSettingsKeyName, nullptr), kSettingsDone);
    EXPECT_EQ(LoadCopyOptions(), CopyOptions{});
    EXPECT_EQ(CloseSettingsKey(nullptr), kSettingsDone);
}

TEST_F(SettingsStore, LoadingNormalisesEachValueOnItsOwn) {
    struct Row {
        const char* name;
        std::vector<std::pair<const wchar_t*, StoredValue>> stored;
        CopyOptions expected;
    };
    const Row rows[] = {
        {"all eight as written",
         {{L"Mode", Dword(3)},
          {L"ShortName", Dword(1)},
          {L"NoExtension", Dword(1)},
          {L"ConvertSpace", Dword(1)},
          {L"WQuotation", Dword(2)},
          {L"DirectorySepalator", Dword(3)},
          {L"FileSeparator", Text(REG_MULTI_SZ, std::wstring(L"\t") + L'\0')},
          {L"ConvertUpLower", Dword(2)}},
         {3, 1, 1, 1, 2, 3, u"\t", 2}},
        {"some missing",
         {{L"WQuotation", Dword(1)}, {L"ConvertUpLower", Dword(1)}},
         {.WQuotation = 1, .ConvertUpLower = 1}},
        {"Mode as the text 2", {{L"Mode", Text(REG_SZ, std::wstring(L"2") + L'\0')}}, {}},
        {"Mode 7", {{L"Mode", Dword(7)}}, {}},
        {"Mode of two bytes", {{L"Mode", {true, REG_BINARY, {2, 0}}}}, {.Mode = 2}},
        {"flags keep any non-zero value",
         {{L"ShortName", Dword(5)}, {L"NoExtension", Dword(0xFFFFFFFF)}},
         {.ShortName = 5, .NoExtension = 0xFFFFFFFF}},
        {"out-of-range choices",
         {{L"WQuotation", Dword(3)}, {L"DirectorySepalator", Dword(0)}, {L"ConvertUpLower", Dword(9)}},
         {}},
        {"separator as REG_SZ",
         {{L"FileSeparator", Text(REG_SZ, std::wstring(L";") + L'\0')}},
         {.FileSeparator = u";"}},
        {"separator without its terminator", {{L"FileSeparator", Text(REG_MULTI_SZ, L" ")}}, {.FileSeparator = u" "}},
        {"separator of ten bytes", {{L"FileSeparator", Text(REG_MULTI_SZ, std::wstring(L";;;;") + L'\0')}}, {}},
        {"separator that is no choice", {{L"FileSeparator", Text(REG_MULTI_SZ, std::wstring(L",") + L'\0')}}, {}},
        {"separator of four characters without terminator", {{L"FileSeparator", Text(REG_MULTI_SZ, L"\r\n\r\n")}}, {}},
        {"DWORD of eight bytes", {{L"Mode", {true, REG_QWORD, {2, 0, 0, 0, 0, 0, 0, 0}}}}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteSettingsKey();
        for (const auto& [name, value] : row.stored) {
            Store(name, value);
        }
        EXPECT_EQ(LoadCopyOptions(), row.expected);
    }
}

TEST_F(SettingsStore, SavedValuesHaveTheirExactTypesAndSizes) {
    SaveCopyOptions({.Mode = 2, .ShortName = 7, .DirectorySepalator = 3, .FileSeparator = u"\r\n"});
    EXPECT_EQ(Stored(L"Mode"), Dword(2));
    EXPECT_EQ(Stored(L"ShortName"), Dword(7));
    EXPECT_EQ(Stored(L"DirectorySepalator"), Dword(3));
    EXPECT_EQ(Stored(L"ConvertUpLower"), Dword(0));
    // One terminating null, not the double null of a string list: 6 bytes.
    EXPECT_EQ(Stored(L"FileSeparator"), Text(REG_MULTI_SZ, std::wstring(L"\r\n") + L'\0'));
    EXPECT_EQ(LoadCopyOptions(), (CopyOptions{.Mode = 2, .ShortName = 7, .DirectorySepalator = 3}));

    SaveCopyOptions({.FileSeparator = u";"});
    EXPECT_EQ(Stored(L"FileSeparator").bytes.size(), 4u);
}

} // namespace
} // namespace pathlift
