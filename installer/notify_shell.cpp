// One of the packages' custom actions: tells the shell that handler registrations changed, so a running Explorer
// builds its next context menu from the new registry instead of its cache.

#include <windows.h>

#include <msiquery.h>
#include <shlobj.h>

// Runs after the install and after the removal. Whatever the shell does with the notice, the package's work is
// done, so the result is always success; the line in the install log shows that the notice went out.
extern "C" UINT WINAPI NotifyShell(MSIHANDLE session) {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record != 0) {
        MsiRecordSetStringW(record, 0, L"Pathlift: told the shell that file associations changed");
        MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
        MsiCloseHandle(record);
    }
    return ERROR_SUCCESS;
}
