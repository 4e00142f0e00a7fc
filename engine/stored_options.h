#pragma once
// The copy options as the settings store loads them: each value read into a buffer of its stored size, then
// defaulted and normalised on its own. The store supplies the reads; everything else happens here.

#include "copy_options.h"

#include <cstddef>

namespace pathlift {

// The eight stored values, in the order they are loaded and saved.
enum class StoredOption {
    Mode,
    ShortName,
    NoExtension,
    ConvertSpace,
    WQuotation,
    DirectorySepalator,
    FileSeparator,
    ConvertUpLower
};
inline constexpr std::size_t kStoredOptionCount = 8;

// Room for one value's data: a DWORD in 4 bytes, the separator in 4 UTF-16 units (8 bytes).
inline constexpr std::size_t kStoredDwordBytes = 4;
inline constexpr std::size_t kStoredSeparatorBytes = 8;

class StoredOptionReader {
public:
    // Reads one value into buffer, which holds size bytes, all zero; on return size is the stored data's size.
    // False when the value is missing, larger than the buffer or cannot be read; the buffer is then not used.
    virtual bool Read(StoredOption option, void* buffer, std::size_t& size) = 0;

protected:
    ~StoredOptionReader() = default;
};

// Reads the eight values in order; a failed read gives that option's default, a stored value out of range too.
CopyOptions LoadStoredOptions(StoredOptionReader& reader);

} // namespace pathlift
