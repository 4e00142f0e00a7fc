// The clipboard writer on Wine's real clipboard: what is published, who owns it, and contention.

#include "engine/win/clipboard_writer.h"

#include "tests/win/clipboard_holder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace pathlift {
namespace {

// A hidden window of the test's own, to own the clipboard as the copy dialog would.
class Window {
public:
    Window()
        : hwnd_(CreateWindowExW(0, L"STATIC", L"clipboard test", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)) {
    }
    ~Window() { DestroyWindow(hwnd_); }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    HWND get() const { return hwnd_; }

private:
    HWND hwnd_;
};

struct Published {
    bool present = false;
    std::wstring text;
    SIZE_T bytes = 0;
};

Published ReadClipboard() {
    Published result;
    if (!OpenClipboard(nullptr)) {
        ADD_FAILURE() << "the test could not open the clipboard";
        return result;
    }
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        result.present = true;
        result.bytes = GlobalSize(data);
        if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
            result.text.assign(text, result.bytes / sizeof(wchar_t));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return result;
}

TEST(ClipboardText, PublishedExactlyWithOneTerminator) {
    struct Row {
        const char* name;
        std::wstring text;
    };
    const Row rows[] = {
        {"empty", L""},
        {"line breaks kept, none added", L"C:\\a.txt\r\nC:\\b c.txt\r\n\r\nD:\\"},
        {"Japanese names", L"C:\\ユーザー\\デスクトップ\\報告書 第1版.docx;\\\\サーバー\\共有\\表.xlsx"},
        {"tabs and quotes", L"\"C:\\a\"\t\"C:\\b\""},
    };
    Window owner;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(SetClipboardText(owner.get(), row.text.c_str()), kClipboardDone);
        const Published published = ReadClipboard();
        ASSERT_TRUE(published.present);
        EXPECT_EQ(published.bytes, row.text.size() * 2 + 2);
        EXPECT_EQ(published.text, row.text + L'\0');
        EXPECT_EQ(GetClipboardOwner(), owner.get());
    }
}

TEST(ClipboardText, ReplacesEveryFormerFormat) {
    Window owner;
    ASSERT_TRUE(OpenClipboard(owner.get()));
    EmptyClipboard();
    HGLOBAL narrow = GlobalAlloc(GMEM_MOVEABLE, 4);
    std::memcpy(GlobalLock(narrow), "old", 4);
    GlobalUnlock(narrow);
    SetClipboardData(CF_TEXT, narrow);
    CloseClipboard();

    ASSERT_EQ(SetClipboardText(owner.get(), L"new"), kClipboardDone);
    ASSERT_TRUE(OpenClipboard(nullptr));
    // CF_TEXT may still be offered, but only as the system's conversion of the new Unicode text.
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        EXPECT_STREQ(static_cast<const char*>(GlobalLock(data)), "new");
        GlobalUnlock(data);
    }
    CloseClipboard();
    EXPECT_EQ(ReadClipboard().text, std::wstring(L"new") + L'\0');
}

TEST(ClipboardText, HeldBrieflyElsewhereArrivesHeldLongGivesBusyAndKeepsTheOldText) {
    struct Row {
        DWORD holdMs;
        bool asksOurWindow; // the holder sends our window a message and lets go after the reply
        int result;
        std::wstring text;
    };
    const Row rows[] = {
        {100, false, kClipboardDone, L"new contents"},
        {5000, false, kClipboardBusy, L"old contents"},
        {5000, true, kClipboardDone, L"new contents"},
    };
    Window owner;
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "held for " << row.holdMs << " ms, asking: " << row.asksOurWindow);
        ASSERT_EQ(SetClipboardText(owner.get(), L"old contents"), kClipboardDone);
        testing::ClipboardHolder holder(row.holdMs, row.asksOurWindow ? owner.get() : nullptr);
        ASSERT_TRUE(holder.Holding());
        EXPECT_EQ(SetClipboardText(owner.get(), L"new contents"), row.result);
        holder.Release();
        EXPECT_EQ(holder.Answered(), row.asksOurWindow);
        EXPECT_EQ(ReadClipboard().text, row.text + L'\0');
    }
}

} // namespace
} // namespace pathlift
