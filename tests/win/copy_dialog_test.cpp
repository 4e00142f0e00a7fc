// Real copy dialogs from the real template under Wine: what they show, what Copy puts on the clipboard and in the
// registry, and every way they close, with the message boxes a user would see.

#include "dialog/copy_dialog.h"
#include "dialog/selected_files.h"
#include "dialog/settings_store.h"
#include "engine/storage.h"
#include "engine/win/clipboard_writer.h"

#include "tests/win/clipboard_holder.h"
#include "tests/win/dialog_driver.h"
#include "tests/win/registry_support.h"

#include <gtest/gtest.h>

namespace pathlift {
namespace {

using namespace pathlift::testing;

const FileList kFiles = {uR"(C:\Work\my file.txt)", uR"(C:\Work\Sub Dir\Read Me.md)"};

// The paths the table holds for the dialog; none when it holds nothing.
FileList Held(HWND dialog) {
    const SharedSelection files = GetSelectedFiles(dialog);
    return files != nullptr ? files->ToList() : FileList();
}

long OpenCopyDialogCount() {
    return static_cast<long>(tools::CopyDialogsOfThisProcess().size());
}

StoredValue Separator(const std::wstring& text) {
    return Text(REG_MULTI_SZ, text + L'\0');
}

class CopyDialog : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteSettingsKey();
        ASSERT_EQ(SetClipboardText(nullptr, L"before"), kClipboardDone);
    }
    void TearDown() override {
        PumpMessages();
        EXPECT_EQ(OpenCopyDialogCount(), 0) << "a dialog was left open";
        EXPECT_EQ(SelectedFilesEntryCount(), 0u) << "a dialog left its entry behind";
        DeleteSettingsKey();
    }

    HWND Open(const FileList& files = kFiles) {
        HWND dialog = OpenCopyDialog(&files);
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }

    MessageBoxWatcher boxes;
};

TEST_F(CopyDialog, WithoutSettingsShowsDefaultsAndTheFirstCopyWritesAllEight) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(SettingsKeyExists()) << "opening the dialog only reads the settings";
    const std::vector<int> defaults = {IDC_RADIO_PATH, IDC_RADIO_NOQUOTE, IDC_RADIO_BACKSLASH, IDC_RADIO_NEWLINE,
                                       IDC_RADIO_NOCONVERT};
    EXPECT_EQ(CheckedControls(dialog), defaults);
    EXPECT_EQ(OpenCopyDialogCount(), 1);
    EXPECT_EQ(Held(dialog), kFiles);

    Click(dialog, IDC_BUTTON_COPY);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(ClipboardText(), L"C:\\Work\\my file.txt\r\nC:\\Work\\Sub Dir\\Read Me.md");
    const std::vector<StoredValue> expected = {Dword(1), Dword(0), Dword(0),           Dword(0),
                                               Dword(0), Dword(1), Separator(L"\r\n"), Dword(0)};
    EXPECT_EQ(AllStoredOptions(), expected);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CopyDialog, ClickedOptionsAreCopiedAndStored) {
    struct Row {
        const char* name;
        std::vector<int> clicks;
        std::wstring text;
        std::vector<StoredValue> stored;
    };
    const Row rows[] = {
        {"file names, %20, quotes where a space is, slashes, semicolons, upper case",
         {IDC_RADIO_FILENAME, IDC_CHECK_CONVERTSPACE, IDC_RADIO_QUOTE_IFSPACE, IDC_RADIO_SLASH, IDC_RADIO_SEMICOLON,
          IDC_RADIO_UPPER},
         L"MY%20FILE.TXT;READ%20ME.MD",
         {Dword(2), Dword(0), Dword(0), Dword(1), Dword(2), Dword(2), Separator(L";"), Dword(1)}},
        {"no extension, always quoted, doubled backslashes, tabs, lower case",
         {IDC_CHECK_NOEXTENSION, IDC_RADIO_QUOTE, IDC_RADIO_DOUBLEBACKSLASH, IDC_RADIO_TAB, IDC_RADIO_LOWER},
         L"\"c:\\\\work\\\\my file\"\t\"c:\\\\work\\\\sub dir\\\\read me\"",
         {Dword(1), Dword(0), Dword(1), Dword(0), Dword(1), Dword(3), Separator(L"\t"), Dword(2)}},
        {"UNC path of local files, spaces between, a click twice is still one choice",
         {IDC_RADIO_UNCPATH, IDC_RADIO_SPACE, IDC_RADIO_SPACE, IDC_RADIO_QUOTE_IFSPACE},
         L"\"C:\\Work\\my file.txt\" \"C:\\Work\\Sub Dir\\Read Me.md\"",
         {Dword(3), Dword(0), Dword(0), Dword(0), Dword(2), Dword(1), Separator(L" "), Dword(0)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteSettingsKey();
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        for (int id : row.clicks) {
            Click(dialog, id);
        }
        Click(dialog, IDC_BUTTON_COPY);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(ClipboardText(), row.text);
        EXPECT_EQ(AllStoredOptions(), row.stored);
    }
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CopyDialog, StoredOptionsAreShownAgain) {
    StoreDword(L"Mode", 2);
    StoreDword(L"ShortName", 1);
    StoreDword(L"NoExtension", 1);
    StoreDword(L"ConvertSpace", 1);
    StoreDword(L"WQuotation", 1);
    StoreDword(L"DirectorySepalator", 3);
    Store(L"FileSeparator", Separator(L"\t"));
    StoreDword(L"ConvertUpLower", 2);
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const std::vector<int> shown = {IDC_RADIO_FILENAME,     IDC_CHECK_SHORTNAME, IDC_CHECK_NOEXTENSION,
                                    IDC_CHECK_CONVERTSPACE, IDC_RADIO_QUOTE,     IDC_RADIO_DOUBLEBACKSLASH,
                                    IDC_RADIO_TAB,          IDC_RADIO_LOWER};
    EXPECT_EQ(CheckedControls(dialog), shown);
    Click(dialog, IDCANCEL);
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(CopyDialog, OddStoredValuesAreShownNormalisedAndStoredCleanAfterCopy) {
    struct Row {
        const char* name;
        const wchar_t* value;
        StoredValue stored;
        int shown; // the control that shows the value
        StoredValue afterCopy;
    };
    const Row rows[] = {
        {"Mode as the text 2", L"Mode", Text(REG_SZ, std::wstring(L"2") + L'\0'), IDC_RADIO_PATH, Dword(1)},
        {"Mode 7", L"Mode", Dword(7), IDC_RADIO_PATH, Dword(1)},
        {"ShortName 5", L"ShortName", Dword(5), IDC_CHECK_SHORTNAME, Dword(1)},
        {"FileSeparator as REG_SZ", L"FileSeparator", Text(REG_SZ, std::wstring(L";") + L'\0'), IDC_RADIO_SEMICOLON,
         Separator(L";")},
        {"FileSeparator of 10 bytes", L"FileSeparator", Separator(L";;;;"), IDC_RADIO_NEWLINE, Separator(L"\r\n")},
        {"WQuotation 3", L"WQuotation", Dword(3), IDC_RADIO_NOQUOTE, Dword(0)},
        {"DirectorySepalator 4", L"DirectorySepalator", Dword(4), IDC_RADIO_BACKSLASH, Dword(1)},
        {"DirectorySepalator 0", L"DirectorySepalator", Dword(0), IDC_RADIO_BACKSLASH, Dword(1)},
        {"ConvertUpLower 0xFFFFFFFF", L"ConvertUpLower", Dword(0xFFFFFFFF), IDC_RADIO_NOCONVERT, Dword(0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteSettingsKey();
        Store(row.value, row.stored);
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(Checked(dialog, row.shown));
        EXPECT_EQ(CheckedControls(dialog).size(), row.shown == IDC_CHECK_SHORTNAME ? 6u : 5u);
        Click(dialog, IDC_BUTTON_COPY);
        EXPECT_EQ(Stored(row.value), row.afterCopy);
    }
    // ShortName on a path that does not exist keeps the long path.
    EXPECT_EQ(ClipboardText(), L"C:\\Work\\my file.txt\r\nC:\\Work\\Sub Dir\\Read Me.md");
}

TEST_F(CopyDialog, CancelAndTheCloseBoxLeaveTheStoredOptionsAlone) {
    StoreDword(L"Mode", 2);
    Store(L"FileSeparator", Separator(L";"));
    const std::vector<StoredValue> before = AllStoredOptions();
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Cancel");
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        Click(dialog, IDC_RADIO_UNCPATH);
        Click(dialog, IDC_CHECK_SHORTNAME);
        Click(dialog, IDC_RADIO_TAB);
        if (closeBox) {
            SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            Click(dialog, IDCANCEL);
        }
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(AllStoredOptions(), before);
        EXPECT_EQ(ClipboardText(), L"before");

        HWND again = Open();
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(CheckedControls(again), (std::vector<int>{IDC_RADIO_FILENAME, IDC_RADIO_NOQUOTE, IDC_RADIO_BACKSLASH,
                                                            IDC_RADIO_SEMICOLON, IDC_RADIO_NOCONVERT}));
        Click(again, IDCANCEL);
    }
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CopyDialog, OnlyAClickOfTheKnownButtonsIsHandled) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const WPARAM unhandled[] = {
        MAKEWPARAM(IDC_BUTTON_COPY, BN_DOUBLECLICKED), MAKEWPARAM(IDC_BUTTON_COPY, BN_SETFOCUS),
        MAKEWPARAM(IDCANCEL, BN_DOUBLECLICKED),        MAKEWPARAM(IDC_RADIO_FILENAME, BN_CLICKED),
        MAKEWPARAM(IDC_CHECK_SHORTNAME, BN_CLICKED),   MAKEWPARAM(IDOK, BN_CLICKED)};
    for (WPARAM wParam : unhandled) {
        SCOPED_TRACE(wParam);
        EXPECT_EQ(DlgProc(dialog, WM_COMMAND, wParam, 0), FALSE);
        EXPECT_TRUE(IsWindow(dialog));
    }
    EXPECT_EQ(DlgProc(dialog, WM_PAINT, 0, 0), FALSE);
    EXPECT_FALSE(Stored(L"Mode").present);
    EXPECT_EQ(ClipboardText(), L"before");
    EXPECT_EQ(DlgProc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), TRUE);
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(CopyDialog, TwoDialogsEachCopyTheirOwnSelection) {
    const FileList first = {u"C:\\first\\one.txt"};
    const FileList second = {u"D:\\second\\two.txt", u"D:\\second\\three.txt"};
    HWND a = Open(first);
    HWND b = Open(second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(OpenCopyDialogCount(), 2);
    Click(b, IDC_RADIO_SEMICOLON);
    Click(b, IDC_BUTTON_COPY);
    EXPECT_EQ(ClipboardText(), L"D:\\second\\two.txt;D:\\second\\three.txt");
    EXPECT_TRUE(IsWindow(a));
    EXPECT_EQ(Held(a), first);
    EXPECT_EQ(OpenCopyDialogCount(), 1);
    Click(a, IDC_BUTTON_COPY);
    EXPECT_EQ(ClipboardText(), L"C:\\first\\one.txt");
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(CopyDialog, ADialogOnAnotherThreadCopiesItsOwnSelection) {
    HWND here = Open();
    ASSERT_NE(here, nullptr);
    std::wstring copied;
    std::thread other([&] {
        const FileList files = {u"E:\\elsewhere.txt"};
        HWND dialog = OpenCopyDialog(&files);
        if (dialog != nullptr) {
            Click(dialog, IDC_BUTTON_COPY);
            copied = ClipboardText();
        }
    });
    other.join();
    EXPECT_EQ(copied, L"E:\\elsewhere.txt");
    EXPECT_EQ(Held(here), kFiles);
    Click(here, IDCANCEL);
}

TEST_F(CopyDialog, NoSelectionMeansNoDialog) {
    const FileList empty;
    EXPECT_EQ(OpenCopyDialog(nullptr), nullptr);
    EXPECT_EQ(OpenCopyDialog(&empty), nullptr);
    PumpMessages();
    Sleep(50);
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_EQ(SelectedFilesEntryCount(), 0u);
    EXPECT_EQ(OpenCopyDialogCount(), 0);
    EXPECT_FALSE(SettingsKeyExists()) << "a dialog that did not start reads no settings";
}

TEST_F(CopyDialog, CopyWithoutPathsSaysSoAndSavesNothing) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    // The entry is there but holds no paths: only the first message.
    UnregisterSelectedFiles(dialog);
    RegisterSelectedFiles(dialog, {});
    Click(dialog, IDC_BUTTON_COPY);
    EXPECT_FALSE(IsWindow(dialog));
    std::vector<SeenMessageBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].owner, nullptr);
    EXPECT_EQ(seen[0].caption, kErrorCaption);
    EXPECT_EQ(seen[0].text, kGetFailedText);
    EXPECT_EQ(seen[0].buttons, 1);
    EXPECT_FALSE(Stored(L"Mode").present);
    EXPECT_EQ(ClipboardText(), L"before");

    // No entry at all: the Copy's message, then the close finds nothing to unregister.
    dialog = Open();
    ASSERT_NE(dialog, nullptr);
    UnregisterSelectedFiles(dialog);
    Click(dialog, IDC_BUTTON_COPY);
    EXPECT_FALSE(IsWindow(dialog));
    seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].text, kGetFailedText);
    EXPECT_EQ(seen[2].owner, nullptr);
    EXPECT_EQ(seen[2].caption, kErrorCaption);
    EXPECT_EQ(seen[2].text, kUnregisterFailedText);
}

// Refuses every reservation of the Copy's storage from the given one on.
class RefusingProbe final : public AllocationProbe {
public:
    explicit RefusingProbe(int from) : from_(from) { SetAllocationProbe(this); }
    ~RefusingProbe() { SetAllocationProbe(nullptr); }
    bool Allow(std::size_t) noexcept override {
        if (calls++ >= from_) {
            return false;
        }
        ++live;
        return true;
    }
    void Released() noexcept override { --live; }
    int calls = 0;
    int live = 0;

private:
    int from_;
};

// Each reservation of a Copy refused in turn, those of the name queries and the clipboard's block included: the
// user is told, and the stored options and the clipboard stay as they were.
TEST_F(CopyDialog, NoMemoryForTheCopySavesNothingAndCopiesNothing) {
    const CopyOptions old{.Mode = 2, .DirectorySepalator = 2, .FileSeparator = u";"};
    const auto choose = [](HWND dialog) {
        Click(dialog, IDC_RADIO_UNCPATH);
        Click(dialog, IDC_CHECK_SHORTNAME);
        Click(dialog, IDC_RADIO_QUOTE);
    };
    int reservations = 0;
    {
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        choose(dialog);
        const SharedSelection kept = GetSelectedFiles(dialog); // given back only once the probe is gone
        RefusingProbe counting(1 << 30);
        Click(dialog, IDC_BUTTON_COPY);
        reservations = counting.calls;
        EXPECT_EQ(counting.live, 0);
        EXPECT_EQ(ClipboardText(), L"\"C:\\Work\\my file.txt\"\r\n\"C:\\Work\\Sub Dir\\Read Me.md\"");
    }
    ASSERT_GE(reservations, 2) << "the name queries' storage and the clipboard's block";
    SaveCopyOptions(old);
    ASSERT_EQ(SetClipboardText(nullptr, L"before"), kClipboardDone);
    for (int refused = 0; refused < reservations; ++refused) {
        SCOPED_TRACE(::testing::Message() << "refused reservation " << refused << " of " << reservations);
        const std::size_t before = boxes.Seen().size();
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        choose(dialog);
        const SharedSelection kept = GetSelectedFiles(dialog);
        {
            RefusingProbe probe(refused);
            Click(dialog, IDC_BUTTON_COPY);
            EXPECT_EQ(probe.live, 0) << "everything reserved is released";
        }
        EXPECT_FALSE(IsWindow(dialog));
        const std::vector<SeenMessageBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), before + 1);
        EXPECT_EQ(seen.back().owner, dialog);
        EXPECT_EQ(seen.back().caption, kErrorCaption);
        EXPECT_EQ(seen.back().text, kNoMemoryText);
        EXPECT_EQ(LoadCopyOptions(), old) << "nothing is saved";
        EXPECT_EQ(ClipboardText(), L"before");
    }
}

TEST_F(CopyDialog, CloseWithoutAnEntrySaysSoAndStillCloses) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    UnregisterSelectedFiles(dialog);
    Click(dialog, IDCANCEL);
    EXPECT_FALSE(IsWindow(dialog));
    const std::vector<SeenMessageBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].owner, nullptr);
    EXPECT_EQ(seen[0].caption, kErrorCaption);
    EXPECT_EQ(seen[0].text, kUnregisterFailedText);
    EXPECT_EQ(seen[0].buttons, 1);
}

TEST_F(CopyDialog, ClipboardHeldElsewhereIsWaitedForBrieflyThenGivenUpQuietly) {
    struct Row {
        DWORD holdMs;
        bool asksTheDialog; // the holder sends the dialog a message and lets go after the reply
        std::wstring text;
    };
    const Row rows[] = {{100, false, L"my file.txt\r\nRead Me.md"},
                        {5000, false, L"before"},
                        {5000, true, L"my file.txt\r\nRead Me.md"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "held for " << row.holdMs << " ms, asking: " << row.asksTheDialog);
        ASSERT_EQ(SetClipboardText(nullptr, L"before"), kClipboardDone);
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        ClipboardHolder holder(row.holdMs, row.asksTheDialog ? dialog : nullptr);
        ASSERT_TRUE(holder.Holding());
        Click(dialog, IDC_RADIO_FILENAME);
        Click(dialog, IDC_BUTTON_COPY);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(Stored(L"Mode"), Dword(2));
        holder.Release();
        EXPECT_EQ(holder.Answered(), row.asksTheDialog);
        EXPECT_EQ(ClipboardText(), row.text);
        EXPECT_TRUE(boxes.Seen().empty());
    }
}

TEST_F(CopyDialog, AboutBoxIsOwnedByTheDialogWhichStaysOpen) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, IDC_BUTTON_VERSION);
    EXPECT_TRUE(IsWindow(dialog));
    const std::vector<SeenMessageBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].owner, dialog);
    EXPECT_EQ(seen[0].caption, L"Pathlift について");
    EXPECT_EQ(seen[0].buttons, 1);
    std::vector<std::wstring> lines;
    std::wstring text = seen[0].text;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(L'\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos) {
            break;
        }
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 6u) << "six lines, no line feed at the end";
    EXPECT_EQ(lines[0], L"Pathlift Shell Extension v1.1");
    EXPECT_EQ(lines[1], L"build 2010/04/25");
    EXPECT_FALSE(lines[2].empty());
    EXPECT_FALSE(lines[3].empty());
    EXPECT_EQ(lines[4], L"");
    EXPECT_EQ(lines[5], L"アンインストールはコントロールパネルのプログラムの追加と削除から行ってください。");
    EXPECT_FALSE(Stored(L"Mode").present);
    Click(dialog, IDCANCEL);
}

TEST_F(CopyDialog, ADialogDestroyedWithoutClosingGivesBackItsEntryAndCount) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(OpenCopyDialogCount(), 1);
    DestroyWindow(dialog);
    EXPECT_EQ(OpenCopyDialogCount(), 0);
    EXPECT_EQ(SelectedFilesEntryCount(), 0u);
    EXPECT_TRUE(boxes.Seen().empty());
}

} // namespace
} // namespace pathlift
