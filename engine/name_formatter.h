#pragma once
// Turns a selection and the copy options into the one text that goes on the clipboard: first everything the text
// needs is found and reserved, then the text is written straight into its final place.

#include "copy_options.h"
#include "selection.h"
#include "storage.h"

#include <cstddef>

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

// Where a path's entry starts from when a query answered for it: a stretch of CopyBuffers::answerText.
struct AnswerSpan {
    std::size_t begin;
    std::size_t length;
};

// What one Copy keeps between finding the room and writing the text.
struct CopyBuffers {
    CopyBuffers() noexcept = default;
    ~CopyBuffers();
    CopyBuffers(const CopyBuffers&) = delete;
    CopyBuffers& operator=(const CopyBuffers&) = delete;

    const Selection* files = nullptr;
    const CopyOptions* options = nullptr;
    std::size_t textLength = 0; // characters of the finished text, terminator excluded
    bool verbatim = false;      // every entry is its path unchanged: the text is the paths and the separators
    // One per path once any path needs one; begin is kNoAnswer where the path itself is the start.
    AnswerSpan* answers = nullptr;
    CharBuffer answerText;
    std::size_t answerLength = 0;
};

// Asks the queries the options call for (the universal name once per folder, the short name per path), keeps
// their answers and finds the exact length of the text. Both files and options must outlive the buffers. False,
// with everything released, when storage cannot be had.
bool AllocateCopyBuffers(const Selection& files, const CopyOptions& options, PathQueries& queries,
                         CopyBuffers& buffers) noexcept;

// Writes the text, buffers.textLength characters and a terminator, to out. Reserves nothing.
void FormatFileList(const CopyBuffers& buffers, char16_t* out) noexcept;

void FreeCopyBuffers(CopyBuffers& buffers) noexcept;

} // namespace pathlift
