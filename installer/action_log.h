#pragma once
// One line of a custom action in the install log (msiexec /l*v), prefixed "Pathlift: " so it can be found there.

#include <windows.h>

#include <msiquery.h>

#include <string>

namespace pathlift {

inline void Log(MSIHANDLE session, const std::wstring& line) {
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return;
    }
    // Field 0 is a template: brackets in a path or in a program's output must not be read as properties.
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, (L"Pathlift: " + line).c_str());
    MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

} // namespace pathlift
