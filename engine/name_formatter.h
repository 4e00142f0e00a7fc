#pragma once
// Turns a selection and the copy options into the one text that goes on the clipboard.

#include "copy_options.h"
#include "file_list.h"
#include "storage.h"

#include <cstddef>
#include <string_view>

namespace pathlift {

// The answers the file system and the network give about a path. The Windows build asks WNetGetUniversalNameW
// and GetShortPathNameW; tests give their own answers.
class PathQueries {
public:
    // On success the work buffer holds the universal name of localPath, null-terminated, from its start.
    virtual bool UniversalName(const char16_t* localPath, char16_t* work, std::size_t workCapacity) = 0;
    // On success out holds the short (8.3) form of longPath, null-terminated.
    virtual bool ShortPath(const char16_t* longPath, char16_t* out, std::size_t outCapacity) = 0;

protected:
    ~PathQueries() = default;
};

// The storage of one Copy, all of it reserved before any formatting.
struct CopyBuffers {
    CopyBuffers() noexcept = default;
    ~CopyBuffers();
    CopyBuffers(const CopyBuffers&) = delete;
    CopyBuffers& operator=(const CopyBuffers&) = delete;

    CharBuffer* entries = nullptr; // one copy of each path, in selection order
    std::size_t count = 0;
    CharBuffer output; // the finished text
    std::size_t outputLength = 0;
    // Working storage of this formatting alone, so formattings on different threads never share any.
    CharBuffer work;    // carries the path to the short-name query; receives the universal name
    CharBuffer entry;   // the entry being formatted
    CharBuffer scratch; // the short-name answer and the result of each replacement

    std::u16string_view Text() const noexcept { return {output.data(), outputLength}; }
};

// Reserves, in this order, the array of entry buffers, each entry buffer (copying its path at once), the output
// buffer and the working storage. Sizes come from the paths themselves, so a long path is never cut and a large
// selection of short paths needs little. On failure everything reserved so far is released and false is returned.
bool AllocateCopyBuffers(const FileList& files, CopyBuffers& buffers) noexcept;

// Releases the output, then each entry buffer in order, then the array, then the working storage.
void FreeCopyBuffers(CopyBuffers& buffers) noexcept;

// Rewrites the path into one entry in buffers.entry and gives the entry.
std::u16string_view FormatEntry(const char16_t* path, const CopyOptions& options, PathQueries& queries,
                                CopyBuffers& buffers) noexcept;

// Formats every entry and joins them, with the separator between entries and quotes where asked. False only when
// an entry grew past its reserved room (a universal or short name longer than the path) and no more storage could be
// had; the output is then empty.
bool FormatFileList(CopyBuffers& buffers, const CopyOptions& options, PathQueries& queries) noexcept;

} // namespace pathlift
