// The settings key: opened in two steps (Software, then the product key, created when missing), read and written
// one value at a time, and closed in the reverse order.

#include "settings_store.h"

#include <cstring>

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

bool ReadDword(const wchar_t* name, std::uint32_t& field) {
    DWORD error = 0;
    std::uint32_t value = 0; // a stored value shorter than four bytes fills only its first bytes of a zeroed buffer
    DWORD size = sizeof(value);
    if (ReadSetting(name, nullptr, &value, &size, &error) != kSettingsDone) {
        return false;
    }
    field = value;
    return true;
}

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
    CopyOptions options;
    DWORD error = 0;
    if (OpenSettingsKey(kSettingsKeyName, &error) != kSettingsDone) {
        return options;
    }
    ReadDword(L"Mode", options.Mode);
    ReadDword(L"ShortName", options.ShortName);
    ReadDword(L"NoExtension", options.NoExtension);
    ReadDword(L"ConvertSpace", options.ConvertSpace);
    ReadDword(L"WQuotation", options.WQuotation);
    ReadDword(L"DirectorySepalator", options.DirectorySepalator);
    char16_t separator[4] = {}; // 8 bytes; a text without its own terminator is cut at the buffer's end
    DWORD size = sizeof(separator);
    if (ReadSetting(L"FileSeparator", nullptr, separator, &size, &error) == kSettingsDone) {
        std::size_t length = 0;
        while (length < 4 && separator[length] != u'\0') {
            ++length;
        }
        options.FileSeparator = std::u16string(separator, length);
    }
    ReadDword(L"ConvertUpLower", options.ConvertUpLower);
    CloseSettingsKey(&error);
    Normalise(options);
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
