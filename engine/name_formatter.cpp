// The Copy's two passes over the selection: the first finds the exact length of the text (after asking the
// queries, whose answers it keeps), the second writes each entry straight to where the text will stay. Each entry
// is its path's start text, cut to the name or without its extension, then every character mapped on its own:
// "%20" for a space, "/" or "\\" for a backslash, ASCII letters to one case.

#include "name_formatter.h"

#include "copy_answers.h"
#include "path_text.h"

#include <cstring>

namespace pathlift {

namespace {

std::size_t AddSizes(std::size_t a, std::size_t b) noexcept {
    return a > kNoAnswer - b ? kNoAnswer : a + b;
}

std::u16string_view Trimmed(std::u16string_view source, const CopyOptions& options) noexcept {
    if (options.Mode != kModeFileName && options.NoExtension == 0) {
        return source;
    }
    const PathParts parts = SplitPath(source);
    const std::size_t begin = options.Mode == kModeFileName ? parts.drive.size() + parts.directory.size() : 0;
    const std::size_t end = source.size() - (options.NoExtension != 0 ? parts.extension.size() : 0);
    return source.substr(begin, end - begin);
}

// The entry of one path before quoting: its start text cut as the options say.
std::u16string_view EntryBody(const CopyBuffers& buffers, std::size_t index) noexcept {
    return Trimmed(EntrySource(buffers, index), *buffers.options);
}

char16_t* CopyOut(char16_t* out, std::u16string_view text) noexcept {
    if (!text.empty()) {
        std::memcpy(out, text.data(), text.size() * sizeof(char16_t));
    }
    return out + text.size();
}

bool CharactersUnchanged(const CopyOptions& options) noexcept {
    return options.ConvertSpace == 0 && options.DirectorySepalator != kSeparatorSlash &&
           options.DirectorySepalator != kSeparatorDoubleBackslash && options.ConvertUpLower != kCaseUpper &&
           options.ConvertUpLower != kCaseLower;
}

// Decided on the finished entry, so an escaped space no longer counts.
bool Quoted(std::u16string_view body, const CopyOptions& options) noexcept {
    return options.WQuotation == kQuoteAlways || (options.WQuotation == kQuoteIfSpace && options.ConvertSpace == 0 &&
                                                  body.find(u' ') != std::u16string_view::npos);
}

// What each ASCII character becomes; every other character stays as it is.
class CharacterMap {
public:
    explicit CharacterMap(const CopyOptions& options) noexcept {
        for (char16_t c = 0; c < 128; ++c) {
            Set(c, {&c, 1});
            if (c >= u'a' && c <= u'z' && options.ConvertUpLower == kCaseUpper) {
                Set(c, {std::u16string_view(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ").substr(c - u'a', 1)});
            } else if (c >= u'A' && c <= u'Z' && options.ConvertUpLower == kCaseLower) {
                Set(c, {std::u16string_view(u"abcdefghijklmnopqrstuvwxyz").substr(c - u'A', 1)});
            }
        }
        if (options.ConvertSpace != 0) {
            Set(u' ', u"%20");
        }
        if (options.DirectorySepalator == kSeparatorSlash) {
            Set(u'\\', u"/");
        } else if (options.DirectorySepalator == kSeparatorDoubleBackslash) {
            Set(u'\\', u"\\\\");
        }
    }

    // Counted without the table, in a loop simple enough for the compiler to do several characters at once.
    std::size_t Length(std::u16string_view body) const noexcept {
        std::size_t spaces = 0;
        std::size_t backslashes = 0;
        for (char16_t c : body) {
            spaces += c == u' ' ? 1 : 0;
            backslashes += c == u'\\' ? 1 : 0;
        }
        return body.size() + spaces * (entries_[u' '].length - 1u) + backslashes * (entries_[u'\\'].length - 1u);
    }

    // Writes the mapped body at out; end is the end of the room out lies in. While three units of room are left
    // every entry is written whole and the pointer moved by its length, without a loop per entry.
    char16_t* Write(char16_t* out, std::u16string_view body, const char16_t* end) const noexcept {
        for (char16_t c : body) {
            if (c >= 128) {
                *out++ = c;
            } else if (end - out >= 3) {
                const Entry& entry = entries_[c];
                out[0] = entry.text[0];
                out[1] = entry.text[1];
                out[2] = entry.text[2];
                out += entry.length;
            } else {
                const Entry& entry = entries_[c];
                for (unsigned k = 0; k < entry.length; ++k) {
                    *out++ = entry.text[k];
                }
            }
        }
        return out;
    }

private:
    struct Entry {
        char16_t text[3];
        unsigned char length;
    };
    void Set(char16_t c, std::u16string_view text) noexcept {
        Entry& entry = entries_[c];
        entry.length = static_cast<unsigned char>(text.size());
        for (std::size_t k = 0; k < text.size(); ++k) {
            entry.text[k] = text[k];
        }
    }

    Entry entries_[128] = {};
};

} // namespace

CopyBuffers::~CopyBuffers() {
    FreeCopyBuffers(*this);
}

bool AllocateCopyBuffers(const Selection& files, const CopyOptions& options, PathQueries& queries,
                         CopyBuffers& buffers) noexcept {
    FreeCopyBuffers(buffers);
    buffers.files = &files;
    buffers.options = &options;
    if (!FindAnswers(buffers, queries)) {
        FreeCopyBuffers(buffers);
        return false;
    }
    const std::size_t count = files.size();
    const std::size_t separator = options.FileSeparator.size();
    std::size_t length = 0;
    if (count > 1) {
        length = separator != 0 && count - 1 > kNoAnswer / separator ? kNoAnswer : (count - 1) * separator;
    }
    const bool measured = !CharactersUnchanged(options) || options.WQuotation != kQuoteNever ||
                          options.Mode == kModeFileName || options.NoExtension != 0;
    const CharacterMap map(options);
    if (!measured && buffers.answers == nullptr && files.EveryPathHasADrive()) {
        buffers.verbatim = true; // each path is its own entry: nothing to look at
        length = AddSizes(length, files.TextLength());
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            const std::u16string_view body = EntryBody(buffers, i);
            length = AddSizes(length, measured ? map.Length(body) + (Quoted(body, options) ? 2 : 0) : body.size());
        }
    }
    // The text and its terminator must be countable in bytes.
    if (length >= kNoAnswer / sizeof(char16_t) - 1) {
        FreeCopyBuffers(buffers);
        return false;
    }
    buffers.textLength = length;
    return true;
}

void FormatFileList(const CopyBuffers& buffers, char16_t* out) noexcept {
    if (buffers.files == nullptr) {
        *out = u'\0';
        return;
    }
    const CopyOptions& options = *buffers.options;
    const Selection& files = *buffers.files;
    const std::u16string_view separator = options.FileSeparator;
    if (buffers.verbatim) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (i != 0) {
                out = CopyOut(out, separator);
            }
            out = CopyOut(out, files[i]);
        }
        *out = u'\0';
        return;
    }
    const CharacterMap map(options);
    const bool unchanged = CharactersUnchanged(options);
    const char16_t* const end = out + buffers.textLength + 1;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i != 0) {
            out = CopyOut(out, separator);
        }
        const std::u16string_view body = EntryBody(buffers, i);
        const bool quoted = Quoted(body, options);
        if (quoted) {
            *out++ = u'"';
        }
        out = unchanged ? CopyOut(out, body) : map.Write(out, body, end);
        if (quoted) {
            *out++ = u'"';
        }
    }
    *out = u'\0';
}

void FreeCopyBuffers(CopyBuffers& buffers) noexcept {
    ReleaseBytes(buffers.answers);
    buffers.answers = nullptr;
    buffers.answerText.Release();
    buffers.answerLength = 0;
    buffers.textLength = 0;
    buffers.verbatim = false;
    buffers.files = nullptr;
    buffers.options = nullptr;
}

} // namespace pathlift
