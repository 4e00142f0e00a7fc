// In-place text and path primitives: replacement, the long-path prefix pair, the path split and ASCII case.

#include "path_text.h"

#include <algorithm>
#include <cstring>

namespace pathlift {

namespace {

constexpr std::u16string_view kLongPathPrefix = u"\\\\?\\";
constexpr std::u16string_view kUncPrefix = u"\\\\?\\UNC";

// Puts head in front of text[skip...], in place; the result is cut to capacity - 1 characters.
void ReplaceHead(char16_t* text, std::size_t capacity, std::size_t skip, std::u16string_view head) noexcept {
    const std::size_t length = BoundedLength(text, capacity);
    const std::size_t tail = length - std::min(skip, length);
    const std::size_t room = capacity - 1;
    const std::size_t headKept = std::min(head.size(), room);
    const std::size_t tailKept = std::min(tail, room - headKept);
    std::memmove(text + headKept, text + (length - tail), tailKept * sizeof(char16_t));
    if (headKept != 0) {
        std::memcpy(text, head.data(), headKept * sizeof(char16_t));
    }
    text[headKept + tailKept] = u'\0';
}

} // namespace

std::size_t BoundedLength(const char16_t* text, std::size_t capacity) noexcept {
    std::size_t length = 0;
    while (length < capacity && text[length] != u'\0') {
        ++length;
    }
    return length;
}

std::size_t CopyText(char16_t* destination, std::size_t capacity, std::u16string_view source) noexcept {
    if (capacity == 0) {
        return 0;
    }
    const std::size_t length = std::min(source.size(), capacity - 1);
    std::memmove(destination, source.data(), length * sizeof(char16_t));
    destination[length] = u'\0';
    return length;
}

std::size_t ReplaceAll(char16_t* text, std::size_t capacity, std::u16string_view find, std::u16string_view replacement,
                       char16_t* scratch) noexcept {
    if (capacity == 0 || find.empty()) {
        return 0;
    }
    std::size_t s = 0;
    std::size_t d = 0;
    std::size_t count = 0;
    while (s < capacity && d < capacity && text[s] != u'\0') {
        std::size_t k = 0;
        while (k < find.size() && s + k < capacity && text[s + k] != u'\0' && text[s + k] == find[k]) {
            ++k;
        }
        if (k == find.size()) {
            ++count;
            for (std::size_t r = 0; r < replacement.size() && d < capacity; ++r) {
                scratch[d++] = replacement[r];
            }
            s += find.size();
        } else {
            scratch[d++] = text[s++];
        }
    }
    if (d == capacity) {
        d = capacity - 1;
    }
    scratch[d] = u'\0';
    std::memcpy(text, scratch, (d + 1) * sizeof(char16_t));
    return count;
}

HeadAndTail WithLongPathPrefix(std::u16string_view path) noexcept {
    if (path.substr(0, kLongPathPrefix.size()) == kLongPathPrefix) {
        return {{}, path};
    }
    if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\' && (path.size() < 3 || path[2] != u'?')) {
        return {kUncPrefix, path.substr(1)}; // keeps the second backslash: "\\?\UNC" + "\srv\share"
    }
    return {kLongPathPrefix, path};
}

HeadAndTail WithoutLongPathPrefix(std::u16string_view text) noexcept {
    if (text.substr(0, kLongPathPrefix.size()) != kLongPathPrefix) {
        return {{}, text};
    }
    if (text.substr(kLongPathPrefix.size(), 4) == u"UNC\\") {
        return {u"\\", text.substr(kUncPrefix.size())}; // "\" + "\srv\share"
    }
    return {{}, text.substr(kLongPathPrefix.size())};
}

void AddLongPathPrefix(char16_t* text, std::size_t capacity) noexcept {
    if (text == nullptr || capacity == 0) {
        return;
    }
    const std::u16string_view whole(text, BoundedLength(text, capacity));
    const HeadAndTail form = WithLongPathPrefix(whole);
    if (form.head.empty()) {
        return; // already prefixed
    }
    ReplaceHead(text, capacity, whole.size() - form.tail.size(), form.head);
}

void RemoveLongPathPrefix(char16_t* text, std::size_t capacity) noexcept {
    if (text == nullptr || capacity == 0) {
        return;
    }
    const std::u16string_view whole(text, BoundedLength(text, capacity));
    const HeadAndTail form = WithoutLongPathPrefix(whole);
    if (form.tail.size() == whole.size()) {
        return; // no prefix
    }
    ReplaceHead(text, capacity, whole.size() - form.tail.size(), form.head);
}

PathParts SplitPath(std::u16string_view path) noexcept {
    PathParts parts;
    std::size_t restStart = 0;
    if (path.size() >= 2 && path[1] == u':') {
        parts.drive = path.substr(0, 2);
        restStart = 2;
    }
    // From the end back to the last backslash or slash: the first full stop met is the name's last.
    std::size_t nameStart = path.size();
    std::size_t lastDot = std::u16string_view::npos;
    while (nameStart > restStart && path[nameStart - 1] != u'\\' && path[nameStart - 1] != u'/') {
        --nameStart;
        if (path[nameStart] == u'.' && lastDot == std::u16string_view::npos) {
            lastDot = nameStart;
        }
    }
    parts.directory = path.substr(restStart, nameStart - restStart);
    if (lastDot != std::u16string_view::npos && lastDot >= nameStart) {
        parts.fileName = path.substr(nameStart, lastDot - nameStart);
        parts.extension = path.substr(lastDot);
    } else {
        parts.fileName = path.substr(nameStart);
    }
    return parts;
}

void ToUpperInPlace(char16_t* text) noexcept {
    for (; *text != u'\0'; ++text) {
        if (*text >= u'a' && *text <= u'z') {
            *text = static_cast<char16_t>(*text - u'a' + u'A');
        }
    }
}

void ToLowerInPlace(char16_t* text) noexcept {
    for (; *text != u'\0'; ++text) {
        if (*text >= u'A' && *text <= u'Z') {
            *text = static_cast<char16_t>(*text - u'A' + u'a');
        }
    }
}

} // namespace pathlift
