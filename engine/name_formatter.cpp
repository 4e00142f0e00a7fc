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

std::size_t MappedLength(std::u16string_view body, const CopyOptions& options) noexcept {
    const bool spaces = options.ConvertSpace != 0;
    const bool backslashes = options.DirectorySepalator == kSeparatorDoubleBackslash;
    std::size_t length = body.size();
    if (spaces || backslashes) {
        for (char16_t c : body) {
            length += (spaces && c == u' ') ? 2 : (backslashes && c == u'\\') ? 1 : 0;
        }
    }
    return length;
}

char16_t* WriteMapped(char16_t* out, std::u16string_view body, const CopyOptions& options) noexcept {
    if (CharactersUnchanged(options)) {
        std::memcpy(out, body.data(), body.size() * sizeof(char16_t));
        return out + body.size();
    }
    const bool spaces = options.ConvertSpace != 0;
    for (char16_t c : body) {
        if (c == u' ' && spaces) {
            *out++ = u'%';
            *out++ = u'2';
            *out++ = u'0';
        } else if (c == u'\\' && options.DirectorySepalator == kSeparatorSlash) {
            *out++ = u'/';
        } else if (c == u'\\' && options.DirectorySepalator == kSeparatorDoubleBackslash) {
            *out++ = u'\\';
            *out++ = u'\\';
        } else if (c >= u'a' && c <= u'z' && options.ConvertUpLower == kCaseUpper) {
            *out++ = static_cast<char16_t>(c - u'a' + u'A');
        } else if (c >= u'A' && c <= u'Z' && options.ConvertUpLower == kCaseLower) {
            *out++ = static_cast<char16_t>(c - u'A' + u'a');
        } else {
            *out++ = c;
        }
    }
    return out;
}

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
    for (std::size_t i = 0; i < count; ++i) {
        const std::u16string_view body = EntryBody(buffers, i);
        length =
            AddSizes(length, measured ? MappedLength(body, options) + (Quoted(body, options) ? 2 : 0) : body.size());
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
    const std::u16string_view separator = options.FileSeparator;
    for (std::size_t i = 0; i < buffers.files->size(); ++i) {
        if (i != 0) {
            for (char16_t c : separator) {
                *out++ = c;
            }
        }
        const std::u16string_view body = EntryBody(buffers, i);
        const bool quoted = Quoted(body, options);
        if (quoted) {
            *out++ = u'"';
        }
        out = WriteMapped(out, body, options);
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
    buffers.files = nullptr;
    buffers.options = nullptr;
}

} // namespace pathlift
