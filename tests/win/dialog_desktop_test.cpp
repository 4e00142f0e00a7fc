// The copy dialog on a real desktop: its size and place at every display scaling, and its keyboard on the dialog's
// own thread while the host's thread never looks at its messages. These tests change the display resolution of the
// prefix and send real keys, so they run alone.

#include "dialog/copy_dialog.h"
#include "dialog/dialog_thread.h"
#include "engine/win/clipboard_writer.h"

#include "tests/win/dialog_driver.h"
#include "tests/win/registry_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

namespace pathlift {
namespace {

using namespace pathlift::testing;

const FileList kFiles = {uR"(C:\Work\my file.txt)", uR"(C:\Work\Sub Dir\Read Me.md)"};
constexpr wchar_t kReportVariable[] = L"PATHLIFT_DIALOG_REPORT";

// --- Size and place at each resolution ----------------------------------------------------------------------------

struct Measured {
    int dpi = 0;
    int templateWidth = 0, templateHeight = 0; // what the dialog manager gives the template
    int left = 0, top = 0, width = 0, height = 0;
    int outside = -1; // controls not wholly inside the client area
};

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// Runs in a process of its own, started below with the resolution to measure already in the registry.
TEST(DialogAtThisResolution, DISABLED_Measure) {
    wchar_t report[MAX_PATH] = {};
    ASSERT_NE(GetEnvironmentVariableW(kReportVariable, report, MAX_PATH), 0u);
    Measured m;
    HDC screen = GetDC(nullptr);
    m.dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    HWND plain =
        CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_COPY_DIALOG), nullptr, PlainDialogProc, 0);
    ASSERT_NE(plain, nullptr);
    RECT sized = {};
    GetWindowRect(plain, &sized);
    m.templateWidth = sized.right - sized.left;
    m.templateHeight = sized.bottom - sized.top;
    DestroyWindow(plain);

    HWND dialog = OpenCopyDialog(&kFiles);
    ASSERT_NE(dialog, nullptr);
    RECT window = {};
    GetWindowRect(dialog, &window);
    m.left = window.left;
    m.top = window.top;
    m.width = window.right - window.left;
    m.height = window.bottom - window.top;
    RECT client = {};
    GetClientRect(dialog, &client);
    m.outside = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r = {};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        m.outside += r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > client.bottom ? 1 : 0;
    }
    Click(dialog, IDCANCEL);
    std::FILE* out = _wfopen(report, L"w");
    ASSERT_NE(out, nullptr);
    std::fprintf(out, "%d %d %d %d %d %d %d %d\n", m.dpi, m.templateWidth, m.templateHeight, m.left, m.top, m.width,
                 m.height, m.outside);
    std::fclose(out);
}

// Sets LogPixels for the processes started from now on, and puts the old value back.
class Resolution {
public:
    explicit Resolution(DWORD dpi) {
        DWORD size = sizeof(old_);
        hadOld_ = RegGetValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &old_, &size) ==
                  ERROR_SUCCESS;
        RegSetKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels", REG_DWORD, &dpi, sizeof(dpi));
    }
    ~Resolution() {
        if (hadOld_) {
            RegSetKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels", REG_DWORD, &old_, sizeof(old_));
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels");
        }
    }
    Resolution(const Resolution&) = delete;
    Resolution& operator=(const Resolution&) = delete;

private:
    static constexpr wchar_t kDesktop[] = L"Control Panel\\Desktop";
    DWORD old_ = 0;
    bool hadOld_ = false;
};

Measured MeasureInNewProcess(DWORD dpi) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring report = std::wstring(temp) + L"pathlift-dialog-" + std::to_wstring(dpi) + L".txt";
    DeleteFileW(report.c_str());
    SetEnvironmentVariableW(kReportVariable, report.c_str());
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(exe) +
        L"\" --gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=DialogAtThisResolution.DISABLED_Measure";
    {
        const Resolution resolution(dpi);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            WaitForSingleObject(process.hProcess, 60000);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    SetEnvironmentVariableW(kReportVariable, nullptr);
    Measured m;
    std::ifstream in(report.c_str());
    in >> m.dpi >> m.templateWidth >> m.templateHeight >> m.left >> m.top >> m.width >> m.height >> m.outside;
    DeleteFileW(report.c_str());
    return m;
}

TEST(DialogScaling, EveryControlIsInsideAndTheWindowCentredAtEachResolution) {
    RECT desktop = {};
    GetClientRect(GetDesktopWindow(), &desktop);
    ASSERT_EQ(desktop.right, 1024) << "the test display is 1024 x 768";
    ASSERT_EQ(desktop.bottom, 768);
    // The minimum 435 x 306 at 96 DPI scales with the window's DPI (Wine's processes are per-monitor aware, so the
    // window's DPI is the resolution's); the template wins where it needs more.
    struct Row {
        DWORD dpi;
        int minimumWidth, minimumHeight;
    };
    const Row rows[] = {{72, 326, 230}, {96, 435, 306}, {120, 544, 383}, {144, 653, 459}, {192, 870, 612}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.dpi << " dpi");
        const Measured m = MeasureInNewProcess(row.dpi);
        ASSERT_EQ(m.dpi, static_cast<int>(row.dpi)) << "the new process reads the resolution";
        EXPECT_EQ(m.outside, 0) << "every control lies wholly inside the client area";
        EXPECT_EQ(m.width, std::max(row.minimumWidth, m.templateWidth));
        EXPECT_EQ(m.height, std::max(row.minimumHeight, m.templateHeight));
        EXPECT_EQ(m.left, (1024 - m.width) / 2);
        EXPECT_EQ(m.top, (768 - m.height) / 2);
    }
    DeleteSettingsKey();
}

// --- The keyboard on the dialog's own thread ------------------------------------------------------------------

// Each dialog is started as the menu entry starts it, on a thread of its own; this thread only waits and looks.
class DialogKeyboard : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteSettingsKey();
        ASSERT_EQ(SetClipboardText(nullptr, L"before"), kClipboardDone);
    }
    void TearDown() override {
        EXPECT_TRUE(tools::WaitUntil([] { return CopyDialogThreadCount() == 0; }, 3000))
            << "a dialog thread outlived its dialog";
        DeleteSettingsKey();
    }

    HWND Open() {
        const std::vector<HWND> before = tools::CopyDialogsOfThisProcess();
        EXPECT_EQ(StartCopyDialogThread(GetModuleHandleW(nullptr), {Selection::FromList(kFiles), nullptr}), S_OK);
        for (HWND dialog : tools::CopyDialogsOfThisProcess()) {
            if (std::find(before.begin(), before.end(), dialog) == before.end()) {
                return dialog;
            }
        }
        ADD_FAILURE() << "no dialog appeared";
        return nullptr;
    }

    // A real key press, with Shift held when asked, sent to the foreground window; Wine may take the foreground
    // away for a moment, so it is given back first. Then this thread waits, taking no messages, until done() holds.
    static bool Press(HWND dialog, WORD key, const std::function<bool()>& done, bool shift = false) {
        if (GetForegroundWindow() != dialog) {
            SetForegroundWindow(dialog);
            tools::WaitUntil([dialog] { return GetForegroundWindow() == dialog; }, 1000);
        }
        std::vector<INPUT> inputs;
        const auto add = [&](WORD vk, bool up) {
            INPUT input = {};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = vk;
            input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
            inputs.push_back(input);
        };
        if (shift) {
            add(VK_SHIFT, false);
        }
        add(key, false);
        add(key, true);
        if (shift) {
            add(VK_SHIFT, true);
        }
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
        return tools::WaitUntil(done, 3000);
    }

    MessageBoxWatcher boxes;
};

TEST_F(DialogKeyboard, TabAndShiftTabMoveTheFocusBetweenTabStops) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    HWND copy = GetDlgItem(dialog, IDC_BUTTON_COPY);
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    ASSERT_EQ(tools::FocusOf(dialog), copy) << "Copy is the first tab stop and takes the focus";
    EXPECT_TRUE(Press(dialog, VK_TAB, [&] { return tools::FocusOf(dialog) == cancel; }));
    EXPECT_TRUE(Press(dialog, VK_TAB, [&] { return tools::FocusOf(dialog) == GetDlgItem(dialog, IDC_RADIO_PATH); }));
    EXPECT_TRUE(Press(
        dialog, VK_TAB, [&] { return tools::FocusOf(dialog) == cancel; }, true));
    EXPECT_TRUE(Press(
        dialog, VK_TAB, [&] { return tools::FocusOf(dialog) == copy; }, true));
    EXPECT_TRUE(IsWindow(dialog));
    Click(dialog, IDCANCEL);
}

TEST_F(DialogKeyboard, AnArrowMovesTheChoiceInsideItsGroupOnly) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_RADIO_BACKSLASH)), TRUE);
    ASSERT_TRUE(Checked(dialog, IDC_RADIO_BACKSLASH));
    EXPECT_TRUE(Press(dialog, VK_RIGHT, [&] { return Checked(dialog, IDC_RADIO_SLASH); }));
    EXPECT_EQ(tools::FocusOf(dialog), GetDlgItem(dialog, IDC_RADIO_SLASH));
    EXPECT_TRUE(Press(dialog, VK_DOWN, [&] { return Checked(dialog, IDC_RADIO_DOUBLEBACKSLASH); }));
    const std::vector<int> checked = {IDC_RADIO_PATH, IDC_RADIO_NOQUOTE, IDC_RADIO_DOUBLEBACKSLASH, IDC_RADIO_NEWLINE,
                                      IDC_RADIO_NOCONVERT};
    EXPECT_EQ(CheckedControls(dialog), checked) << "one choice in the group, the other groups as they were";
    Click(dialog, IDCANCEL);
}

TEST_F(DialogKeyboard, EnterCopiesExactlyAsTheCopyButtonDoes) {
    const std::vector<int> clicks = {IDC_RADIO_FILENAME, IDC_CHECK_CONVERTSPACE, IDC_RADIO_SEMICOLON, IDC_RADIO_UPPER};
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    for (int id : clicks) {
        Click(dialog, id);
    }
    Click(dialog, IDC_BUTTON_COPY);
    const std::wstring byButton = ClipboardText();
    const std::vector<StoredValue> storedByButton = AllStoredOptions();
    EXPECT_EQ(byButton, L"MY%20FILE.TXT;READ%20ME.MD");

    DeleteSettingsKey();
    ASSERT_EQ(SetClipboardText(nullptr, L"before"), kClipboardDone);
    dialog = Open();
    ASSERT_NE(dialog, nullptr);
    for (int id : clicks) {
        Click(dialog, id); // the focus is on the last one clicked, a radio button: Enter means the default button
    }
    EXPECT_TRUE(Press(dialog, VK_RETURN, [&] { return !IsWindow(dialog); }));
    EXPECT_EQ(ClipboardText(), byButton);
    EXPECT_EQ(AllStoredOptions(), storedByButton);
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(DialogKeyboard, EscClosesWithoutSavingOrCopying) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, IDC_RADIO_UNCPATH);
    Click(dialog, IDC_CHECK_SHORTNAME);
    EXPECT_TRUE(Press(dialog, VK_ESCAPE, [&] { return !IsWindow(dialog); }));
    EXPECT_EQ(AllStoredOptions(), std::vector<StoredValue>(8));
    EXPECT_EQ(ClipboardText(), L"before");
    EXPECT_TRUE(boxes.Seen().empty());
}

} // namespace
} // namespace pathlift
