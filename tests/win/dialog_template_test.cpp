// The copy dialog's template as it ends up in Pathlift.dll: found by id and language, parsed by hand from the raw
// DLGTEMPLATEEX bytes and compared field by field, so a resource compiler that adds styles of its own, writes a
// class as a string instead of an atom or misreads the UTF-8 captions is caught here rather than on screen.

#include "res/resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pathlift {
namespace {

// The ids the dialog code relies on; the template is checked against the same literal numbers below.
static_assert(IDD_COPY_DIALOG == 101);
static_assert(IDC_BUTTON_COPY == 1001);
static_assert(IDC_GROUP_PATH == 1002);
static_assert(IDC_RADIO_PATH == 1003);
static_assert(IDC_RADIO_FILENAME == 1004);
static_assert(IDC_RADIO_UNCPATH == 1005);
static_assert(IDC_CHECK_SHORTNAME == 1006);
static_assert(IDC_CHECK_NOEXTENSION == 1007);
static_assert(IDC_CHECK_CONVERTSPACE == 1008);
static_assert(IDC_GROUP_QUOTATION == 1009);
static_assert(IDC_RADIO_QUOTE == 1010);
static_assert(IDC_RADIO_NOQUOTE == 1011);
static_assert(IDC_RADIO_QUOTE_IFSPACE == 1013);
static_assert(IDC_GROUP_DIRSEP == 1014);
static_assert(IDC_RADIO_BACKSLASH == 1015);
static_assert(IDC_RADIO_SLASH == 1016);
static_assert(IDC_RADIO_DOUBLEBACKSLASH == 1017);
static_assert(IDC_GROUP_FILESEP == 1018);
static_assert(IDC_RADIO_NEWLINE == 1019);
static_assert(IDC_RADIO_SEMICOLON == 1020);
static_assert(IDC_RADIO_SPACE == 1021);
static_assert(IDC_RADIO_TAB == 1022);
static_assert(IDC_GROUP_CASE == 1023);
static_assert(IDC_RADIO_NOCONVERT == 1024);
static_assert(IDC_RADIO_UPPER == 1025);
static_assert(IDC_RADIO_LOWER == 1026);
static_assert(IDC_BUTTON_VERSION == 1027);

constexpr WORD kDialogId = 101;
constexpr WORD kJapanese = 0x0411;
constexpr WORD kButtonAtom = 0x0080;

constexpr DWORD kDialogStyle = 0x80C800C8;
constexpr DWORD kDefaultPushButton = 0x50010001;
constexpr DWORD kPushButton = 0x50010000;
constexpr DWORD kPushButtonNoTab = 0x50000000;
constexpr DWORD kGroupBox = 0x50020007;
constexpr DWORD kAutoRadio = 0x50010009;
constexpr DWORD kAutoCheck = 0x50010003;

// The literal styles spelled out, so a failure message can be read against the flags.
static_assert(kDialogStyle == (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS));
static_assert(kDefaultPushButton == (WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON));
static_assert(kPushButton == (WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON));
static_assert(kPushButtonNoTab == (WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON));
static_assert(kGroupBox == (WS_CHILD | WS_VISIBLE | WS_GROUP | BS_GROUPBOX));
static_assert(kAutoRadio == (WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON));
static_assert(kAutoCheck == (WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX));

// A sz_Or_Ord field: 0x0000 for none, 0xFFFF and an ordinal, or a NUL-terminated UTF-16 string.
struct NameOrOrdinal {
    enum class Kind { None, Ordinal, Text };
    Kind kind = Kind::None;
    WORD ordinal = 0;
    std::wstring text;
};

// Lets a failed comparison name the kind instead of dumping the enum's bytes.
void PrintTo(NameOrOrdinal::Kind kind, std::ostream* os) {
    switch (kind) {
    case NameOrOrdinal::Kind::None:
        *os << "none";
        return;
    case NameOrOrdinal::Kind::Ordinal:
        *os << "ordinal";
        return;
    case NameOrOrdinal::Kind::Text:
        *os << "string";
        return;
    }
    *os << "?";
}

struct ControlTemplate {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0;
    short y = 0;
    short cx = 0;
    short cy = 0;
    DWORD id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    WORD extraCount = 0;
};

struct DialogTemplate {
    WORD dlgVer = 0;
    WORD signature = 0;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    WORD itemCount = 0;
    short x = 0;
    short y = 0;
    short cx = 0;
    short cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::wstring title;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring typeface;
    std::vector<ControlTemplate> controls;
    // Bytes of the resource left over after the last control's creation data.
    std::size_t trailingBytes = 0;
};

// Reads little-endian fields from the resource bytes; reading past the end records an error instead of touching
// memory outside the resource, and every later read then yields zero.
class Reader {
public:
    Reader(const BYTE* data, std::size_t size) : data_(data), size_(size) {}

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return failed() ? 0 : size_ - offset_; }

    BYTE Byte(const char* field) {
        if (!Need(1, field)) {
            return 0;
        }
        return data_[offset_++];
    }
    WORD Word(const char* field) {
        if (!Need(2, field)) {
            return 0;
        }
        const WORD value = static_cast<WORD>(data_[offset_] | (data_[offset_ + 1] << 8));
        offset_ += 2;
        return value;
    }
    short Short(const char* field) { return static_cast<short>(Word(field)); }
    DWORD DWord(const char* field) {
        const DWORD low = Word(field);
        const DWORD high = Word(field);
        return low | (high << 16);
    }

    // Offsets are from the start of the template, which LockResource hands out DWORD-aligned.
    void AlignTo(std::size_t alignment, const char* field) {
        const std::size_t padding = (alignment - offset_ % alignment) % alignment;
        if (Need(padding, field)) {
            offset_ += padding;
        }
    }

    std::wstring String(const char* field) {
        AlignTo(2, field);
        std::wstring text;
        for (;;) {
            const WORD c = Word(field);
            if (failed() || c == 0) {
                return text;
            }
            text.push_back(static_cast<wchar_t>(c));
        }
    }

    NameOrOrdinal NameOrOrd(const char* field) {
        AlignTo(2, field);
        NameOrOrdinal result;
        if (remaining() < 2) {
            Need(2, field);
            return result;
        }
        const WORD first = static_cast<WORD>(data_[offset_] | (data_[offset_ + 1] << 8));
        if (first == 0x0000) {
            offset_ += 2;
        } else if (first == 0xFFFF) {
            offset_ += 2;
            result.kind = NameOrOrdinal::Kind::Ordinal;
            result.ordinal = Word(field);
        } else {
            result.kind = NameOrOrdinal::Kind::Text;
            result.text = String(field);
        }
        return result;
    }

    void Skip(std::size_t count, const char* field) {
        if (Need(count, field)) {
            offset_ += count;
        }
    }

private:
    bool Need(std::size_t count, const char* field) {
        if (failed()) {
            return false;
        }
        if (size_ - offset_ < count) {
            error_ = std::string("the template ends inside ") + field + " at offset " + std::to_string(offset_) +
                     " of " + std::to_string(size_);
            return false;
        }
        return true;
    }

    const BYTE* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    std::string error_;
};

// Parses a DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items; on a malformed template returns false with the reason.
bool ParseDialogTemplate(const BYTE* data, std::size_t size, DialogTemplate& dialog, std::string& error) {
    Reader in(data, size);
    dialog.dlgVer = in.Word("dlgVer");
    dialog.signature = in.Word("signature");
    if (!in.failed() && (dialog.dlgVer != 1 || dialog.signature != 0xFFFF)) {
        error = "not an extended dialog template: dlgVer " + std::to_string(dialog.dlgVer) + ", signature " +
                std::to_string(dialog.signature);
        return false;
    }
    dialog.helpId = in.DWord("helpID");
    dialog.exStyle = in.DWord("exStyle");
    dialog.style = in.DWord("style");
    dialog.itemCount = in.Word("cDlgItems");
    dialog.x = in.Short("x");
    dialog.y = in.Short("y");
    dialog.cx = in.Short("cx");
    dialog.cy = in.Short("cy");
    dialog.menu = in.NameOrOrd("menu");
    dialog.windowClass = in.NameOrOrd("windowClass");
    dialog.title = in.String("title");
    if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
        dialog.pointSize = in.Word("pointsize");
        dialog.weight = in.Word("weight");
        dialog.italic = in.Byte("italic");
        dialog.charset = in.Byte("charset");
        dialog.typeface = in.String("typeface");
    }
    for (WORD i = 0; i < dialog.itemCount && !in.failed(); ++i) {
        in.AlignTo(4, "the padding before a control");
        ControlTemplate control;
        control.helpId = in.DWord("a control's helpID");
        control.exStyle = in.DWord("a control's exStyle");
        control.style = in.DWord("a control's style");
        control.x = in.Short("a control's x");
        control.y = in.Short("a control's y");
        control.cx = in.Short("a control's cx");
        control.cy = in.Short("a control's cy");
        control.id = in.DWord("a control's id");
        control.windowClass = in.NameOrOrd("a control's windowClass");
        control.title = in.NameOrOrd("a control's title");
        control.extraCount = in.Word("a control's extraCount");
        in.Skip(control.extraCount, "a control's creation data");
        dialog.controls.push_back(control);
    }
    if (in.failed()) {
        error = in.error();
        return false;
    }
    dialog.trailingBytes = in.remaining();
    return true;
}

std::string Describe(const NameOrOrdinal& field) {
    switch (field.kind) {
    case NameOrOrdinal::Kind::None:
        return "none";
    case NameOrOrdinal::Kind::Ordinal:
        return "ordinal " + std::to_string(field.ordinal);
    case NameOrOrdinal::Kind::Text:
        return "a string of " + std::to_string(field.text.size()) + " characters";
    }
    return "?";
}

// Pathlift.dll mapped for its resources only: no DllMain, nothing of the DLL runs in the test.
class LoadedDll {
public:
    LoadedDll() {
        wchar_t exe[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
        if (length == 0 || length == MAX_PATH) {
            return;
        }
        path_.assign(exe, length);
        path_.erase(path_.find_last_of(L"\\/") + 1);
        path_ += L"" PATHLIFT_DLL_FROM_TEST_DIR;
        std::replace(path_.begin(), path_.end(), L'/', L'\\');
        module_ = LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        error_ = module_ ? 0 : GetLastError();
    }
    ~LoadedDll() {
        if (module_) {
            FreeLibrary(module_);
        }
    }
    LoadedDll(const LoadedDll&) = delete;
    LoadedDll& operator=(const LoadedDll&) = delete;

    HMODULE get() const { return module_; }
    std::string Failure() const {
        std::string path;
        for (wchar_t c : path_) {
            path.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return "LoadLibraryExW(" + path + ") failed, error " + std::to_string(error_);
    }

private:
    std::wstring path_;
    HMODULE module_ = nullptr;
    DWORD error_ = 0;
};

struct ExpectedControl {
    const char* name;
    DWORD id;
    DWORD style;
    short x;
    short y;
    short cx;
    short cy;
    const wchar_t* caption;
};

// In template order, which is the tab order and which closes each run of radio buttons at the next WS_GROUP.
const ExpectedControl kExpectedControls[] = {
    {"copy", 1001, kDefaultPushButton, 174, 150, 50, 14, L"コピー"},
    {"cancel", 2, kPushButton, 228, 150, 50, 14, L"キャンセル"},
    {"path group", 1002, kGroupBox, 7, 8, 133, 42, L"パス/ファイル名"},
    {"full path", 1003, kAutoRadio, 14, 20, 31, 10, L"パス"},
    {"file name", 1004, kAutoRadio, 74, 20, 51, 10, L"ファイル名"},
    {"UNC path", 1005, kAutoRadio, 14, 35, 45, 10, L"UNCパス"},
    {"short name", 1006, kAutoCheck, 8, 56, 95, 10, L"ショートパス/ファイル名"},
    {"no extension", 1007, kAutoCheck, 8, 71, 77, 10, L"拡張子を含めない"},
    {"convert space", 1008, kAutoCheck, 8, 86, 77, 10, L"空白を%20に変換"},
    {"quotation group", 1009, kGroupBox, 8, 104, 132, 42, L"引用符 \" で"},
    {"quote", 1010, kAutoRadio, 14, 117, 32, 10, L"くくる"},
    {"no quote", 1011, kAutoRadio, 74, 116, 47, 10, L"くくらない"},
    {"quote if space", 1013, kAutoRadio, 14, 130, 115, 10, L"空白が含まれるときのみくくる"},
    {"directory separator group", 1014, kGroupBox, 146, 8, 132, 30, L"ディレクトリ区切り"},
    {"backslash", 1015, kAutoRadio, 152, 20, 24, 10, L"\\"},
    {"slash", 1016, kAutoRadio, 200, 20, 19, 10, L"/"},
    {"double backslash", 1017, kAutoRadio, 242, 20, 32, 10, L"\\\\"},
    {"file separator group", 1018, kGroupBox, 146, 44, 132, 42, L"複数ファイルの区切り"},
    {"new line", 1019, kAutoRadio, 152, 57, 32, 10, L"改行"},
    {"semicolon", 1020, kAutoRadio, 212, 57, 49, 10, L"セミコロン"},
    {"space", 1021, kAutoRadio, 152, 71, 32, 10, L"空白"},
    {"tab", 1022, kAutoRadio, 212, 70, 29, 10, L"タブ"},
    {"case group", 1023, kGroupBox, 146, 92, 132, 42, L"大文字/小文字変換"},
    {"no conversion", 1024, kAutoRadio, 152, 105, 53, 10, L"変換しない"},
    {"upper case", 1025, kAutoRadio, 212, 105, 40, 10, L"大文字"},
    {"lower case", 1026, kAutoRadio, 152, 119, 40, 10, L"小文字"},
    {"version", 1027, kPushButtonNoTab, 7, 150, 72, 14, L"バージョン情報"},
};

class DialogTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(dll_.get(), nullptr) << dll_.Failure();
        HRSRC found = FindResourceExW(dll_.get(), RT_DIALOG, MAKEINTRESOURCEW(kDialogId),
                                      MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
        ASSERT_NE(found, nullptr) << "no Japanese dialog 101, error " << GetLastError();
        const DWORD size = SizeofResource(dll_.get(), found);
        HGLOBAL loaded = LoadResource(dll_.get(), found);
        ASSERT_NE(loaded, nullptr);
        const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
        ASSERT_NE(bytes, nullptr);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(bytes) % 4, 0u) << "the template is not DWORD-aligned";
        std::string error;
        ASSERT_TRUE(ParseDialogTemplate(bytes, size, dialog_, error)) << error;
    }

    LoadedDll dll_;
    DialogTemplate dialog_;
};

TEST_F(DialogTemplateTest, DialogHeader) {
    EXPECT_EQ(dialog_.dlgVer, 1);
    EXPECT_EQ(dialog_.signature, 0xFFFF);
    EXPECT_EQ(dialog_.helpId, 0u);
    EXPECT_EQ(dialog_.exStyle, 0u);
    EXPECT_EQ(dialog_.style, kDialogStyle);
    EXPECT_EQ(dialog_.style & WS_VISIBLE, 0u);
    EXPECT_EQ(dialog_.itemCount, 27);
    EXPECT_EQ(dialog_.x, 0);
    EXPECT_EQ(dialog_.y, 0);
    EXPECT_EQ(dialog_.cx, 286);
    EXPECT_EQ(dialog_.cy, 173);
    EXPECT_EQ(dialog_.menu.kind, NameOrOrdinal::Kind::None) << Describe(dialog_.menu);
    EXPECT_EQ(dialog_.windowClass.kind, NameOrOrdinal::Kind::None) << Describe(dialog_.windowClass);
    EXPECT_EQ(dialog_.title, std::wstring(L"パスをクリップボードにコピー"));
    EXPECT_EQ(dialog_.pointSize, 8);
    EXPECT_EQ(dialog_.weight, 400);
    EXPECT_EQ(dialog_.italic, 0);
    EXPECT_EQ(dialog_.charset, 1);
    EXPECT_EQ(dialog_.typeface, std::wstring(L"MS Shell Dlg"));
}

TEST_F(DialogTemplateTest, ControlsInOrder) {
    ASSERT_EQ(dialog_.controls.size(), std::size(kExpectedControls));
    for (std::size_t i = 0; i < std::size(kExpectedControls); ++i) {
        const ExpectedControl& expected = kExpectedControls[i];
        const ControlTemplate& control = dialog_.controls[i];
        SCOPED_TRACE(testing::Message() << "control " << i + 1 << " (" << expected.name << ")");
        EXPECT_EQ(control.helpId, 0u);
        EXPECT_EQ(control.exStyle, 0u);
        EXPECT_EQ(control.style, expected.style) << std::hex << control.style << " against " << expected.style;
        EXPECT_EQ(control.x, expected.x);
        EXPECT_EQ(control.y, expected.y);
        EXPECT_EQ(control.cx, expected.cx);
        EXPECT_EQ(control.cy, expected.cy);
        EXPECT_EQ(control.id, expected.id);
        EXPECT_EQ(control.windowClass.kind, NameOrOrdinal::Kind::Ordinal) << Describe(control.windowClass);
        EXPECT_EQ(control.windowClass.ordinal, kButtonAtom);
        EXPECT_EQ(control.title.kind, NameOrOrdinal::Kind::Text) << Describe(control.title);
        EXPECT_EQ(control.title.text, std::wstring(expected.caption));
        EXPECT_EQ(control.extraCount, 0);
    }
}

TEST_F(DialogTemplateTest, ExactlyTheExpectedIds) {
    std::vector<DWORD> ids;
    for (const ControlTemplate& control : dialog_.controls) {
        ids.push_back(control.id);
    }
    std::sort(ids.begin(), ids.end());
    const std::vector<DWORD> expected = {2,    1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008,
                                         1009, 1010, 1011, 1013, 1014, 1015, 1016, 1017, 1018,
                                         1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027};
    EXPECT_EQ(ids, expected);
}

TEST_F(DialogTemplateTest, NothingAfterTheLastControl) {
    EXPECT_EQ(dialog_.trailingBytes, 0u);
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

TEST(DialogTemplateLanguage, OnlyJapanese) {
    LoadedDll dll;
    ASSERT_NE(dll.get(), nullptr) << dll.Failure();
    std::vector<WORD> languages;
    ASSERT_TRUE(EnumResourceLanguagesW(dll.get(), RT_DIALOG, MAKEINTRESOURCEW(kDialogId), CollectLanguage,
                                       reinterpret_cast<LONG_PTR>(&languages)))
        << "error " << GetLastError();
    EXPECT_EQ(languages, std::vector<WORD>{kJapanese});
    // Asked for by an explicit other language, the template is not there.
    EXPECT_EQ(FindResourceExW(dll.get(), RT_DIALOG, MAKEINTRESOURCEW(kDialogId),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              nullptr);
}

} // namespace
} // namespace pathlift
