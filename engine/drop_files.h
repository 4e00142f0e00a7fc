#pragma once
// The selection as the shell hands it over: a CF_HDROP block (a DROPFILES header, then the names) read straight
// into a Selection, never past its end.

#include "selection.h"

#include <cstddef>

namespace pathlift {

// The DROPFILES header: pFiles (the names' byte offset) at byte 0, fWide (non-zero for UTF-16 names) at byte 16.
inline constexpr std::size_t kDropFilesHeaderSize = 20;
inline constexpr std::size_t kDropFilesWideOffset = 16;

// Turns the 8-bit names of a block into UTF-16, as the system's code page says.
class AnsiDecoder {
public:
    static constexpr std::size_t kFailed = static_cast<std::size_t>(-1);
    // Converts exactly bytes bytes of text into out, which has room for 2 * bytes units, and gives the units
    // written, or kFailed when the system cannot convert them.
    virtual std::size_t Decode(const char* text, std::size_t bytes, char16_t* out) noexcept = 0;

protected:
    ~AnsiDecoder() = default;
};

// Each byte as the character of the same number (ISO 8859-1): for builds that have no system code page.
class Latin1Decoder final : public AnsiDecoder {
public:
    std::size_t Decode(const char* text, std::size_t bytes, char16_t* out) noexcept override {
        for (std::size_t i = 0; i < bytes; ++i) {
            out[i] = static_cast<unsigned char>(text[i]);
        }
        return bytes;
    }
};

// Reads the block of size bytes at data. Throws only std::bad_alloc.
Selection ReadDropFiles(const void* data, std::size_t size, AnsiDecoder& ansi);

} // namespace pathlift
