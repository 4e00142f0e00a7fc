#pragma once
// The per-user copy options under HKEY_CURRENT_USER\Software\Pathlift: four registry operations over one
// process-wide key, and the loading and saving that the copy dialog does with them.

#include "engine/copy_options.h"

#include <windows.h>

namespace pathlift {

enum : int { kSettingsDone = 0, kSettingsNothingDone = 1, kSettingsFailed = -1 };

// What the key is opened for. Reading asks for KEY_QUERY_VALUE and never creates the key; writing asks for
// KEY_SET_VALUE, reading and writing for both, and both create it when missing. None asks for more, so a host whose
// token may read the key but not change its security still gets the stored options.
enum class SettingsAccess { Read, Write, ReadWrite };

// Each gives 0 on success, 1 when there was nothing to do (already open / not open) and -1 when a registry call
// failed. lastError, when given, receives the result of every registry call made.
int OpenSettingsKey(const wchar_t* keyName, DWORD* lastError, SettingsAccess access = SettingsAccess::ReadWrite);
int CloseSettingsKey(DWORD* lastError);
int ReadSetting(const wchar_t* valueName, DWORD* type, void* data, DWORD* size, DWORD* lastError);
int WriteSetting(const wchar_t* valueName, DWORD type, const void* data, DWORD size, DWORD* lastError);

// The key handles are shared by every dialog of the process. Whoever opens the key holds this lock until it has
// closed it again, so dialogs on different threads take turns instead of seeing each other's open key. A thread
// that holds it may take it again.
class SettingsLock {
public:
    SettingsLock() noexcept;
    ~SettingsLock();
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;
};

// Opens the key for reading, reads and normalises the eight values (a failed read gives that option's default) and
// closes it. When the key cannot be opened (it does not exist yet) every option is its default.
CopyOptions LoadCopyOptions();

// Opens the key for writing, writes the eight values in the order they are read and closes it: the DWORD values as
// REG_DWORD of 4 bytes, FileSeparator as REG_MULTI_SZ with one terminating null. Results are ignored: a save never
// stops a Copy. Reserves nothing.
void SaveCopyOptions(const CopyOptions& options) noexcept;

inline constexpr wchar_t kSettingsKeyName[] = L"Pathlift";

} // namespace pathlift
