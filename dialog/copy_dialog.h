#pragma once
// The modeless copy dialog: created from IDD_COPY_DIALOG with the address of a CopyDialogStart as its parameter,
// whose selection the dialog moves out of while it starts.

#include "pathlift_version.h"

#include <windows.h>

namespace pathlift {

INT_PTR CALLBACK DlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

inline constexpr wchar_t kErrorCaption[] = L"Error - Pathlift";
inline constexpr wchar_t kAboutCaption[] = L"Pathlift について";
inline constexpr wchar_t kRegisterFailedText[] = L"Failed to register selected files.\nOn DlgProc(): WM_INITDIALOG";
inline constexpr wchar_t kGetFailedText[] =
    L"Failed to get selected files.\nOn DlgProc(hDlg, WM_COMMAND, (IDC_BUTTON_COPY|(BN_CLICKED<<16)), lp)";
inline constexpr wchar_t kNoMemoryText[] =
    L"Failed to allocate memory for processing.\n On DlgProc(hDlg, WM_COMMAND, (IDC_BUTTON_COPY|(BN_CLICKED<<16)), lp)";
inline constexpr wchar_t kUnregisterFailedText[] =
    L"Failed to unregister selected files.\nOn DlgProc(hDlg, WM_CLOSE, wp, lp)";
inline constexpr wchar_t kAboutText[] =
    L"Pathlift Shell Extension v" PATHLIFT_VERSION_SHORT_W L"\n"
    L"build 2010/04/25\n"
    L"Copyright (C) 2026 The Pathlift developers\n"
    L"Support: support@pathlift.example\n"
    L"\n"
    L"アンインストールはコントロールパネルのプログラムの追加と削除から行ってください。";

} // namespace pathlift
