// registry_dump <HKLM|HKCU>\<path>...: prints each key's tree with every value's type and exact bytes, values and
// sub-keys sorted by name, so that the registration of two prefixes can be compared byte for byte (reg export
// shows a string without its terminator like one with it). A missing key prints "absent". It reads the registry
// view of its own bitness.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};

std::wstring Describe(const Value& value) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring line = L"  " + (value.name.empty() ? std::wstring(L"@") : L"\"" + value.name + L"\"") + L" type " +
                        std::to_wstring(value.type) + L", " + std::to_wstring(value.data.size()) + L" bytes:";
    for (BYTE byte : value.data) {
        line += L' ';
        line += kHex[byte >> 4];
        line += kHex[byte & 15];
    }
    if (value.type == REG_SZ && value.data.size() % 2 == 0) {
        // The text too, for a reader; the bytes above are what is compared.
        const std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / 2);
        line += L"  \"" + std::wstring(text.c_str()) + L"\"";
    }
    return line + L"\n";
}

void Dump(HKEY parent, const std::wstring& path, const std::wstring& shown) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Print(L"[" + shown + L"] absent\n");
        return;
    }
    DWORD subKeys = 0, longestSubKey = 0, values = 0, longestName = 0, longestData = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &longestSubKey, nullptr, &values, &longestName,
                     &longestData, nullptr, nullptr);
    std::vector<Value> found;
    for (DWORD i = 0; i < values; ++i) {
        std::wstring name(longestName + 1, L'\0');
        DWORD nameLength = longestName + 1, type = 0, size = longestData;
        Value value{L"", 0, std::vector<BYTE>(longestData)};
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, value.data.data(), &size) ==
            ERROR_SUCCESS) {
            value.name = name.substr(0, nameLength);
            value.type = type;
            value.data.resize(size);
            found.push_back(value);
        }
    }
    std::sort(found.begin(), found.end(), [](const Value& a, const Value& b) { return a.name < b.name; });
    Print(L"[" + shown + L"]\n");
    for (const Value& value : found) {
        Print(Describe(value));
    }
    std::vector<std::wstring> names;
    for (DWORD i = 0; i < subKeys; ++i) {
        std::wstring name(longestSubKey + 1, L'\0');
        DWORD length = longestSubKey + 1;
        if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            names.push_back(name.substr(0, length));
        }
    }
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        Dump(key, name, shown + L"\\" + name);
    }
    RegCloseKey(key);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        const std::size_t slash = argument.find(L'\\');
        const std::wstring root = argument.substr(0, slash);
        const HKEY hive = root == L"HKLM" ? HKEY_LOCAL_MACHINE : root == L"HKCU" ? HKEY_CURRENT_USER : nullptr;
        if (hive == nullptr || slash == std::wstring::npos) {
            Print(L"registry_dump: " + argument + L" does not start with HKLM\\ or HKCU\\\n");
            return 2;
        }
        Dump(hive, argument.substr(slash + 1), argument);
    }
    return 0;
}
