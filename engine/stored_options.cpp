// Stored bytes to copy options: a value shorter than its buffer fills only its first bytes of a zeroed buffer, a
// separator without its own terminator ends with the buffer.

#include "stored_options.h"

#include <cstdint>

namespace pathlift {

namespace {

void ReadDword(StoredOptionReader& reader, StoredOption option, std::uint32_t& field) {
    unsigned char bytes[kStoredDwordBytes] = {};
    std::size_t size = sizeof(bytes);
    if (!reader.Read(option, bytes, size)) {
        return;
    }
    // Little-endian whatever the host: the registry stores a DWORD so.
    field = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
            static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void ReadSeparator(StoredOptionReader& reader, std::u16string& field) {
    unsigned char bytes[kStoredSeparatorBytes] = {};
    std::size_t size = sizeof(bytes);
    if (!reader.Read(StoredOption::FileSeparator, bytes, size)) {
        return;
    }
    std::u16string text;
    for (std::size_t i = 0; i + 1 < sizeof(bytes); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        if (unit == u'\0') {
            break;
        }
        text.push_back(unit);
    }
    field = std::move(text);
}

} // namespace

CopyOptions LoadStoredOptions(StoredOptionReader& reader) {
    CopyOptions options;
    ReadDword(reader, StoredOption::Mode, options.Mode);
    ReadDword(reader, StoredOption::ShortName, options.ShortName);
    ReadDword(reader, StoredOption::NoExtension, options.NoExtension);
    ReadDword(reader, StoredOption::ConvertSpace, options.ConvertSpace);
    ReadDword(reader, StoredOption::WQuotation, options.WQuotation);
    ReadDword(reader, StoredOption::DirectorySepalator, options.DirectorySepalator);
    ReadSeparator(reader, options.FileSeparator);
    ReadDword(reader, StoredOption::ConvertUpLower, options.ConvertUpLower);
    Normalise(options);
    return options;
}

} // namespace pathlift
