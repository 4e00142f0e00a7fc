// The settings key: opened in two steps (Software, then the product key, created when missing for a write), read
// and written one value at a time, and closed in the reverse order.

#include "settings_store.h"

#include "engine/stored_options.h"

namespace pathlift {

namespace {

// The eight values, in StoredOption order, which is the order they are read and written. Each number is a DWORD;
// the one without a number field is FileSeparator, the text.
struct StoredValue {
    const wchar_t* name;
    std::uint32_t CopyOptions::*number;
};
constexpr StoredValue kStoredOptions[kStoredOptionCount] = {
    {L"Mode", &CopyOptions::Mode},
    {L"ShortName", &CopyOptions::ShortName},
    {L"NoExtension", &CopyOptions::NoExtension},
    {L"ConvertSpace", &CopyOptions::ConvertSpace},
    {L"WQuotation", &CopyOptions::WQuotation},
    {L"DirectorySepalator", &CopyOptions::DirectorySepalator},
    {L"FileSeparator", nullptr},
    {L"ConvertUpLower", &CopyOptions::ConvertUpLower},
};

// A critical section, deleted at unload with everything it made: a std::recursive_mutex of the static runtime keeps a
// block and, once two dialogs met on it, an event for good after every unload.
struct SettingsSection {
    SettingsSection() noexcept { InitializeCriticalSection(&section); }
    ~SettingsSection() { DeleteCriticalSection(&section); }
    CRITICAL_SECTION section;
};
SettingsSection g_settingsLock;
HKEY g_softwareKey = nullptr;
HKEY g_productKey = nullptr;

LSTATUS Report(LSTATUS status, DWORD* lastError) {
    if (lastError != nullptr) {
        *lastError = static_cast<DWORD>(status);
    }
    return status;
}

// Reads through the open key; the stored type is not asked for, so any type whose data fits is accepted.
class RegistryOptionReader final : public StoredOptionReader {
public:
    bool Read(StoredOption option, void* buffer, std::size_t& size) override {
        DWORD error = 0;
        DWORD bytes = static_cast<DWORD>(size);
        const bool read = ReadSetting(kStoredOptions[static_cast<std::size_t>(option)].name, nullptr, buffer, &bytes,
                                      &error) == kSettingsDone;
        size = bytes;
        return read;
    }
};

} // namespace

SettingsLock::SettingsLock() noexcept {
    EnterCriticalSection(&g_settingsLock.section);
}
SettingsLock::~SettingsLock() {
    LeaveCriticalSection(&g_settingsLock.section);
}

int OpenSettingsKey(const wchar_t* keyName, DWORD* lastError, SettingsAccess access) {
    const SettingsLock lock;
    if (g_productKey != nullptr) {
        return kSettingsNothingDone;
    }
    const bool create = access != SettingsAccess::Read;
    const REGSAM rights = access == SettingsAccess::Read    ? KEY_QUERY_VALUE
                          : access == SettingsAccess::Write ? KEY_SET_VALUE
                                                            : KEY_QUERY_VALUE | KEY_SET_VALUE;
    if (Report(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, create ? KEY_CREATE_SUB_KEY : KEY_QUERY_VALUE,
                             &g_softwareKey),
               lastError) != ERROR_SUCCESS) {
        g_softwareKey = nullptr;
        return kSettingsFailed;
    }
    const LSTATUS status = create ? RegCreateKeyExW(g_softwareKey, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE, rights,
                                                    nullptr, &g_productKey, nullptr)
                                  : RegOpenKeyExW(g_softwareKey, keyName, 0, rights, &g_productKey);
    if (Report(status, lastError) != ERROR_SUCCESS) {
        g_productKey = nullptr;
        // Nothing will close the Software key later while the store counts as closed: close it now.
        RegCloseKey(g_softwareKey);
        g_softwareKey = nullptr;
        return kSettingsFailed;
    }
    return kSettingsDone;
}

int CloseSettingsKey(DWORD* lastError) {
    const SettingsLock lock;
    if (g_productKey == nullptr) {
        return kSettingsNothingDone;
    }
    if (Report(RegCloseKey(g_productKey), lastError) != ERROR_SUCCESS) {
        return kSettingsFailed; // the store stays open; the next save writes through it and closes it
    }
    g_productKey = nullptr;
    const LSTATUS status = Report(RegCloseKey(g_softwareKey), lastError);
    g_softwareKey = nullptr;
    return status == ERROR_SUCCESS ? kSettingsDone : kSettingsFailed;
}

int ReadSetting(const wchar_t* valueName, DWORD* type, void* data, DWORD* size, DWORD* lastError) {
    const SettingsLock lock;
    if (g_productKey == nullptr) {
        return kSettingsNothingDone;
    }
    // The stored type is not checked: any value whose data fits the buffer is accepted.
    const LSTATUS status = RegQueryValueExW(g_productKey, valueName, nullptr, type, static_cast<BYTE*>(data), size);
    return Report(status, lastError) == ERROR_SUCCESS ? kSettingsDone : kSettingsFailed;
}

int WriteSetting(const wchar_t* valueName, DWORD type, const void* data, DWORD size, DWORD* lastError) {
    const SettingsLock lock;
    if (g_productKey == nullptr) {
        return kSettingsNothingDone;
    }
    const LSTATUS status = RegSetValueExW(g_productKey, valueName, 0, type, static_cast<const BYTE*>(data), size);
    return Report(status, lastError) == ERROR_SUCCESS ? kSettingsDone : kSettingsFailed;
}

CopyOptions LoadCopyOptions() {
    const SettingsLock lock;
    DWORD error = 0;
    if (OpenSettingsKey(kSettingsKeyName, &error, SettingsAccess::Read) != kSettingsDone) {
        return CopyOptions();
    }
    RegistryOptionReader reader;
    const CopyOptions options = LoadStoredOptions(reader);
    CloseSettingsKey(&error);
    return options;
}

void SaveCopyOptions(const CopyOptions& options) noexcept {
    const SettingsLock lock;
    DWORD error = 0;
    OpenSettingsKey(kSettingsKeyName, &error,
                    SettingsAccess::Write); // when it fails every write does nothing, which is all right
    for (const StoredValue& option : kStoredOptions) {
        if (option.number == nullptr) {
            WriteSetting(option.name, REG_MULTI_SZ, options.FileSeparator.c_str(),
                         static_cast<DWORD>((options.FileSeparator.size() + 1) * sizeof(char16_t)), &error);
        } else {
            const std::uint32_t number = options.*option.number;
            WriteSetting(option.name, REG_DWORD, &number, sizeof(number), &error);
        }
    }
    CloseSettingsKey(&error);
}

} // namespace pathlift
