// The settings key: opened in two steps (Software, then the product key, created when missing), read and written
// one value at a time, and closed in the reverse order.

#include "settings_store.h"

#include "engine/stored_options.h"

namespace pathlift {

namespace {

std::recursive_mutex g_settingsLock;
HKEY g_softwareKey = nullptr;
HKEY g_productKey = nullptr;

LSTATUS Report(LSTATUS status, DWORD* lastError) {
    if (lastError != nullptr) {
        *lastError = static_cast<DWORD>(status);
    }
    return status;
}

// The registry value of each stored option, in StoredOption order.
const wchar_t* const kValueNames[kStoredOptionCount] = {L"Mode",          L"ShortName",     L"NoExtension",
                                                        L"ConvertSpace",  L"WQuotation",    L"DirectorySepalator",
                                                        L"FileSeparator", L"ConvertUpLower"};

// Reads through the open key; the stored type is not asked for, so any type whose data fits is accepted.
class RegistryOptionReader final : public StoredOptionReader {
public:
    bool Read(StoredOption option, void* buffer, std::size_t& size) override {
        DWORD error = 0;
        DWORD bytes = static_cast<DWORD>(size);
        const bool read = ReadSetting(kValueNames[static_cast<std::size_t>(option)], nullptr, buffer, &bytes, &error) ==
                          kSettingsDone;
        size = bytes;
        return read;
    }
};

} // namespace

std::unique_lock<std::recursive_mutex> LockSettings() {
    return std::unique_lock<std::recursive_mutex>(g_settingsLock);
}

int OpenSettingsKey(const wchar_t* keyName, DWORD* lastError) {
    const auto lock = LockSettings();
    if (g_productKey != nullptr) {
        return kSettingsNothingDone;
    }
    if (Report(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_ALL_ACCESS, &g_softwareKey), lastError) !=
        ERROR_SUCCESS) {
        g_softwareKey = nullptr;
        return kSettingsFailed;
    }
    if (Report(RegCreateKeyExW(g_softwareKey, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               &g_productKey, nullptr),
               lastError) != ERROR_SUCCESS) {
        g_productKey = nullptr;
        // Nothing will close the Software key later while the store counts as closed: close it now.
        RegCloseKey(g_softwareKey);
        g_softwareKey = nullptr;
        return kSettingsFailed;
    }
    return kSettingsDone;
}

int CloseSettingsKey(DWORD* lastError) {
    const auto lock = LockSettings();
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
    const auto lock = LockSettings();
    if (g_productKey == nullptr) {
        return kSettingsNothingDone;
    }
    // The stored type is not checked: any value whose data fits the buffer is accepted.
    const LSTATUS status = RegQueryValueExW(g_productKey, valueName, nullptr, type, static_cast<BYTE*>(data), size);
    return Report(status, lastError) == ERROR_SUCCESS ? kSettingsDone : kSettingsFailed;
}

int WriteSetting(const wchar_t* valueName, DWORD type, const void* data, DWORD size, DWORD* lastError) {
    const auto lock = LockSettings();
    if (g_productKey == nullptr) {
        return kSettingsNothingDone;
    }
    const LSTATUS status = RegSetValueExW(g_productKey, valueName, 0, type, static_cast<const BYTE*>(data), size);
    return Report(status, lastError) == ERROR_SUCCESS ? kSettingsDone : kSettingsFailed;
}

CopyOptions LoadCopyOptions() {
    const auto lock = LockSettings();
    DWORD error = 0;
    if (OpenSettingsKey(kSettingsKeyName, &error) != kSettingsDone) {
        return CopyOptions();
    }
    RegistryOptionReader reader;
    const CopyOptions options = LoadStoredOptions(reader);
    CloseSettingsKey(&error);
    return options;
}

void WriteOptionValue(const wchar_t* valueName, std::uint32_t value) {
    DWORD error = 0;
    WriteSetting(valueName, REG_DWORD, &value, sizeof(value), &error);
}

void WriteSeparatorValue(const std::u16string& separator) {
    DWORD error = 0;
    WriteSetting(L"FileSeparator", REG_MULTI_SZ, separator.c_str(),
                 static_cast<DWORD>((separator.size() + 1) * sizeof(char16_t)), &error);
}

} // namespace pathlift
