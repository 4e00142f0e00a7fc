#pragma once
// The settings key of the test prefix's user, written and read back byte for byte.

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace pathlift::testing {

inline constexpr wchar_t kSettingsPath[] = L"Software\\Pathlift";

inline void DeleteSettingsKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsPath);
}

inline bool SettingsKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

struct StoredValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> bytes;
    friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

inline StoredValue Stored(const wchar_t* name) {
    StoredValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return value;
    }
    // RegQueryValueExW, unlike RegGetValueW, gives the stored bytes exactly, without adding terminators.
    std::uint8_t data[256] = {};
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key, name, nullptr, &value.type, data, &size) == ERROR_SUCCESS) {
        value.present = true;
        value.bytes.assign(data, data + size);
    }
    RegCloseKey(key);
    return value;
}

// The eight options as stored, in the order the dialog writes them; an absent value is a default StoredValue.
inline std::vector<StoredValue> AllStoredOptions() {
    std::vector<StoredValue> values;
    for (const wchar_t* name : {L"Mode", L"ShortName", L"NoExtension", L"ConvertSpace", L"WQuotation",
                                L"DirectorySepalator", L"FileSeparator", L"ConvertUpLower"}) {
        values.push_back(Stored(name));
    }
    return values;
}

inline StoredValue Dword(std::uint32_t v) {
    return {true, REG_DWORD, {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}};
}

// A text's UTF-16LE bytes with the given type; the terminator is part of the text where wanted.
inline StoredValue Text(DWORD type, const std::wstring& text) {
    StoredValue value{true, type, {}};
    for (wchar_t c : text) {
        value.bytes.push_back(std::uint8_t(c));
        value.bytes.push_back(std::uint8_t(c >> 8));
    }
    return value;
}

inline void Store(const wchar_t* name, const StoredValue& value) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, name, 0, value.type, value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
    RegCloseKey(key);
}

inline void StoreDword(const wchar_t* name, std::uint32_t v) {
    Store(name, Dword(v));
}

} // namespace pathlift::testing
