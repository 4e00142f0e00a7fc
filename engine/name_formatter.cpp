// The Copy command's storage and the formatting of each path into an entry and of the entries into one text.

#include "name_formatter.h"

#include "path_text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace pathlift {

namespace {

constexpr std::size_t kNoRoom = std::numeric_limits<std::size_t>::max();

// The platform queries read and write through buffers of 32768 characters (65536 bytes).
constexpr std::size_t kQueryBufferLength = 32767;
// "\\?\UNC" in place of the first backslash of a network path adds six characters.
constexpr std::size_t kPrefixGrowth = 6;

std::size_t AddSizes(std::size_t a, std::size_t b) noexcept {
    return a > kNoRoom - b ? kNoRoom : a + b;
}

// The most room a path can take in the text when no query changes it: a space may become "%20", a backslash two
// backslashes, and the entry may be quoted and preceded by a two-character separator.
std::size_t OutputRoomFor(std::u16string_view path) noexcept {
    std::size_t room = AddSizes(path.size(), 4);
    for (char16_t c : path) {
        room = AddSizes(room, c == u' ' ? 2 : c == u'\\' ? 1 : 0);
    }
    return room;
}

bool AppendOutput(CopyBuffers& buffers, std::u16string_view piece) noexcept {
    const std::size_t needed = AddSizes(AddSizes(buffers.outputLength, piece.size()), 1);
    if (needed == kNoRoom) {
        return false;
    }
    if (needed > buffers.output.capacity()) {
        // Only a universal or short name longer than its path gets here; grow by half again, or just enough.
        CharBuffer larger;
        const std::size_t generous = AddSizes(buffers.output.capacity(), buffers.output.capacity() / 2);
        if (!larger.Reserve(std::max(needed, generous)) && !larger.Reserve(needed)) {
            return false;
        }
        std::memcpy(larger.data(), buffers.output.data(), buffers.outputLength * sizeof(char16_t));
        buffers.output = std::move(larger);
    }
    std::memcpy(buffers.output.data() + buffers.outputLength, piece.data(), piece.size() * sizeof(char16_t));
    buffers.outputLength += piece.size();
    buffers.output.data()[buffers.outputLength] = u'\0';
    return true;
}

std::u16string_view TextOf(const CharBuffer& buffer) noexcept {
    return {buffer.data(), BoundedLength(buffer.data(), buffer.capacity())};
}

} // namespace

CopyBuffers::~CopyBuffers() {
    FreeCopyBuffers(*this);
}

bool AllocateCopyBuffers(const FileList& files, CopyBuffers& buffers) noexcept {
    FreeCopyBuffers(buffers);
    const std::size_t n = files.size();
    if (n > kNoRoom / sizeof(CharBuffer)) {
        return false;
    }
    void* array = TryAllocateBytes(n * sizeof(CharBuffer));
    if (array == nullptr) {
        return false;
    }
    buffers.entries = static_cast<CharBuffer*>(array);
    for (std::size_t i = 0; i < n; ++i) {
        new (&buffers.entries[i]) CharBuffer();
    }
    buffers.count = n;

    std::size_t outputRoom = 1;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::u16string& path = files[i];
        if (!buffers.entries[i].Reserve(AddSizes(path.size(), 1))) {
            FreeCopyBuffers(buffers);
            return false;
        }
        CopyText(buffers.entries[i].data(), buffers.entries[i].capacity(), path);
        outputRoom = AddSizes(outputRoom, OutputRoomFor(path));
        longest = std::max(longest, path.size());
    }
    if (!buffers.output.Reserve(outputRoom)) {
        FreeCopyBuffers(buffers);
        return false;
    }
    buffers.outputLength = 0;

    // An entry never holds more than the prefixed path or a query's answer; escaping can at most triple that.
    const std::size_t entryLength = std::max(AddSizes(longest, kPrefixGrowth), kQueryBufferLength);
    const std::size_t entryRoom = entryLength > kNoRoom / 3 - 1 ? kNoRoom : entryLength * 3 + 1;
    if (!buffers.work.Reserve(entryLength + 1) || !buffers.entry.Reserve(entryRoom) ||
        !buffers.scratch.Reserve(entryRoom)) {
        FreeCopyBuffers(buffers);
        return false;
    }
    return true;
}

void FreeCopyBuffers(CopyBuffers& buffers) noexcept {
    buffers.output.Release();
    buffers.outputLength = 0;
    for (std::size_t i = 0; i < buffers.count; ++i) {
        buffers.entries[i].~CharBuffer();
    }
    ReleaseBytes(buffers.entries);
    buffers.entries = nullptr;
    buffers.count = 0;
    buffers.work.Release();
    buffers.entry.Release();
    buffers.scratch.Release();
}

std::u16string_view FormatEntry(const char16_t* path, const CopyOptions& options, PathQueries& queries,
                                CopyBuffers& buffers) noexcept {
    char16_t* const e = buffers.entry.data();
    const std::size_t ec = buffers.entry.capacity();
    char16_t* const w = buffers.work.data();
    const std::size_t wc = buffers.work.capacity();
    char16_t* const s = buffers.scratch.data();
    const std::size_t sc = buffers.scratch.capacity();

    CopyText(e, ec, {path, BoundedLength(path, ec)});
    AddLongPathPrefix(e, ec);
    CopyText(w, wc, TextOf(buffers.entry));

    if (options.Mode == kModeUniversal) {
        if (queries.UniversalName(e, w, wc)) {
            w[wc - 1] = u'\0';
        } else {
            CopyText(w, wc, TextOf(buffers.entry)); // no network name: go on with the path itself
        }
    }

    // Without a short form the entry keeps the long one, in Mode 3 the universal name the user asked for.
    if (options.ShortName != 0 && queries.ShortPath(w, s, sc)) {
        s[sc - 1] = u'\0';
        CopyText(e, ec, TextOf(buffers.scratch));
    } else {
        CopyText(e, ec, TextOf(buffers.work));
    }

    RemoveLongPathPrefix(e, ec);

    const std::u16string_view whole = TextOf(buffers.entry);
    const PathParts parts = SplitPath(whole);
    const std::size_t begin = options.Mode == kModeFileName ? parts.drive.size() + parts.directory.size() : 0;
    const std::size_t end = whole.size() - (options.NoExtension != 0 ? parts.extension.size() : 0);
    std::memmove(e, e + begin, (end - begin) * sizeof(char16_t));
    e[end - begin] = u'\0';

    if (options.ConvertSpace != 0) {
        ReplaceAll(e, ec, u" ", u"%20", s);
    }
    if (options.DirectorySepalator == kSeparatorSlash) {
        ReplaceAll(e, ec, u"\\", u"/", s);
    } else if (options.DirectorySepalator == kSeparatorDoubleBackslash) {
        ReplaceAll(e, ec, u"\\", u"\\\\", s);
    }
    if (options.ConvertUpLower == kCaseUpper) {
        ToUpperInPlace(e);
    } else if (options.ConvertUpLower == kCaseLower) {
        ToLowerInPlace(e);
    }
    return TextOf(buffers.entry);
}

bool FormatFileList(CopyBuffers& buffers, const CopyOptions& options, PathQueries& queries) noexcept {
    buffers.outputLength = 0;
    if (!buffers.output || !buffers.entry || !buffers.work || !buffers.scratch) {
        return false;
    }
    buffers.output.data()[0] = u'\0';
    for (std::size_t i = 0; i < buffers.count; ++i) {
        const std::u16string_view entry = FormatEntry(buffers.entries[i].data(), options, queries, buffers);
        // Decided on the finished entry, so an escaped space no longer counts.
        const bool quoted = options.WQuotation == kQuoteAlways ||
                            (options.WQuotation == kQuoteIfSpace && entry.find(u' ') != std::u16string_view::npos);
        const bool appended = (i == 0 || AppendOutput(buffers, options.FileSeparator)) &&
                              (!quoted || AppendOutput(buffers, u"\"")) && AppendOutput(buffers, entry) &&
                              (!quoted || AppendOutput(buffers, u"\""));
        if (!appended) {
            buffers.outputLength = 0;
            buffers.output.data()[0] = u'\0';
            return false;
        }
    }
    return true;
}

} // namespace pathlift
