#pragma once
// Text and path primitives of the name formatter. They work in place on null-terminated UTF-16 text held in a
// buffer of known capacity (terminator included) and never write past it.

#include <cstddef>
#include <string_view>

namespace pathlift {

// Length of a null-terminated text, looking at no more than capacity characters.
std::size_t BoundedLength(const char16_t* text, std::size_t capacity) noexcept;

// Copies source into a buffer of the given capacity, cut to capacity - 1 characters; gives the length written.
std::size_t CopyText(char16_t* destination, std::size_t capacity, std::u16string_view source) noexcept;

// Replaces every non-overlapping match of find, left to right, building the result in scratch (at least capacity
// characters) and copying it back. A result longer than capacity - 1 is cut there. Gives the number of matches.
std::size_t ReplaceAll(char16_t* text, std::size_t capacity, std::u16string_view find, std::u16string_view replacement,
                       char16_t* scratch) noexcept;

// A text as two consecutive pieces: a short head the rule puts in front, then the rest of the original text.
struct HeadAndTail {
    std::u16string_view head;
    std::u16string_view tail;
};
// The long-path form of a path: "\\?\" + "C:\a", "\\?\UNC" + "\srv\s", or the path itself when it has the prefix.
HeadAndTail WithLongPathPrefix(std::u16string_view path) noexcept;
// The path without the prefix: "\\" + "srv\s" from "\\?\UNC\srv\s", "C:\a" from "\\?\C:\a", else the text.
HeadAndTail WithoutLongPathPrefix(std::u16string_view text) noexcept;

// "C:\a" becomes "\\?\C:\a" and "\\srv\s" becomes "\\?\UNC\srv\s"; a text that has the prefix stays as it is.
void AddLongPathPrefix(char16_t* text, std::size_t capacity) noexcept;
// The reverse: "\\?\UNC\srv\s" becomes "\\srv\s", "\\?\C:\a" becomes "C:\a"; other texts stay as they are.
void RemoveLongPathPrefix(char16_t* text, std::size_t capacity) noexcept;

// The four consecutive parts of a path; together they are the whole path.
struct PathParts {
    std::u16string_view drive;     // "C:" when the second character is a colon, else empty
    std::u16string_view directory; // up to and including the last backslash or slash
    std::u16string_view fileName;  // the name up to its last full stop
    std::u16string_view extension; // the last full stop of the name and what follows it
};
PathParts SplitPath(std::u16string_view path) noexcept;

// ASCII letters only: accented, Greek, Cyrillic and full-width letters keep their case.
void ToUpperInPlace(char16_t* text) noexcept;
void ToLowerInPlace(char16_t* text) noexcept;

} // namespace pathlift
