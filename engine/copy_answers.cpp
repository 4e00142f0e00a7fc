// The universal-name and short-name answers of one Copy. The universal name is asked once per folder, on the
// folder's drive-based form ("Y:\dir\", never "\\?\Y:\dir\", which a network provider does not know as a
// redirected drive), and the rest of each path appended: a slow network drive then stalls the shell once per folder
// instead of once per item. A path that already has the network form "\\srv\share" is not asked about. A folder
// without an answer gives its paths their own long form, as before. The short name is asked per path, of the
// universal name where there is one.

#include "copy_answers.h"

#include "path_text.h"

#include <cstring>
#include <functional>
#include <initializer_list>
#include <new>
#include <unordered_map>

namespace pathlift {

namespace {

// The platform queries read and write through buffers of 32768 characters (65536 bytes).
constexpr std::size_t kQueryCapacity = 32768;
// "\\?\UNC" in place of the first backslash of a network path adds six characters, "\\?\" four.
constexpr std::size_t kPrefixRoom = 8;

using Pieces = std::initializer_list<std::u16string_view>;

// The drive-based folder that is asked, up to and including its last backslash.
struct FolderKey {
    std::u16string_view folder;
    bool operator==(const FolderKey& other) const noexcept {
        return folder.size() == other.folder.size() &&
               (folder.empty() ||
                std::memcmp(folder.data(), other.folder.data(), folder.size() * sizeof(char16_t)) == 0);
    }
};
struct FolderHash {
    std::size_t operator()(const FolderKey& key) const noexcept { return std::hash<std::u16string_view>{}(key.folder); }
};
using FolderAnswers = std::unordered_map<FolderKey, AnswerSpan, FolderHash, std::equal_to<FolderKey>,
                                         ProbedAllocator<std::pair<const FolderKey, AnswerSpan>>>;

void CopyUnits(char16_t* destination, std::u16string_view source) noexcept {
    if (!source.empty()) {
        std::memcpy(destination, source.data(), source.size() * sizeof(char16_t));
    }
}

// The pieces one after the other in buffer, null-terminated; the buffer has room for them.
std::u16string_view Join(CharBuffer& buffer, Pieces pieces) noexcept {
    std::size_t length = 0;
    for (std::u16string_view piece : pieces) {
        CopyUnits(buffer.data() + length, piece);
        length += piece.size();
    }
    buffer.data()[length] = u'\0';
    return {buffer.data(), length};
}

std::u16string_view Terminated(CharBuffer& buffer) noexcept {
    buffer.data()[buffer.capacity() - 1] = u'\0';
    return {buffer.data(), BoundedLength(buffer.data(), buffer.capacity())};
}

// Appends the pieces to the kept answers; the span says where they went. False when no room can be had.
bool Keep(CopyBuffers& buffers, Pieces pieces, AnswerSpan& span) noexcept {
    std::size_t length = 0;
    for (std::u16string_view piece : pieces) {
        length += piece.size();
    }
    const std::size_t needed = buffers.answerLength + length;
    if (needed >= buffers.answerText.capacity()) {
        CharBuffer larger;
        const std::size_t generous = buffers.answerText.capacity() + buffers.answerText.capacity() / 2;
        if (!larger.Reserve(needed + 1 > generous ? needed + 1 : generous)) {
            return false;
        }
        CopyUnits(larger.data(), {buffers.answerText.data(), buffers.answerLength});
        buffers.answerText = std::move(larger);
    }
    span = {buffers.answerLength, length};
    for (std::u16string_view piece : pieces) {
        CopyUnits(buffers.answerText.data() + buffers.answerLength, piece);
        buffers.answerLength += piece.size();
    }
    return true;
}

// Keeps the start of one path's entry, reserving the spans of every path the first time.
bool KeepFor(CopyBuffers& buffers, std::size_t index, Pieces pieces) noexcept {
    if (buffers.answers == nullptr) {
        const std::size_t count = buffers.files->size();
        if (count > kNoAnswer / sizeof(AnswerSpan)) {
            return false;
        }
        buffers.answers = static_cast<AnswerSpan*>(TryAllocateBytes(count * sizeof(AnswerSpan)));
        if (buffers.answers == nullptr) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            buffers.answers[i] = {kNoAnswer, 0};
        }
    }
    return Keep(buffers, pieces, buffers.answers[index]);
}

// The path as the formatter saw it after adding the long-path prefix and taking it away again.
HeadAndTail Unprefixed(std::u16string_view path) noexcept {
    if (path.empty() || (path[0] != u'\\' && path[0] != u'U')) {
        return {{}, path}; // the common case, "C:\...": neither form of the prefix can be involved
    }
    const HeadAndTail prefixed = WithLongPathPrefix(path);
    if (prefixed.head.empty()) {
        return WithoutLongPathPrefix(path);
    }
    if (prefixed.head.size() > 4 || path.substr(0, 4) != u"UNC\\") {
        return {{}, path}; // "\\?\UNC" + "\srv" comes back as "\\srv", "\\?\" + "C:\a" as "C:\a"
    }
    return {u"\\", path.substr(3)}; // "\\?\" + "UNC\x" reads as the network form "\\?\UNC\x"
}

// "\\srv\share\..." (or any text that starts with two backslashes) names a network place already.
bool IsNetworkForm(std::u16string_view path) noexcept {
    return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

class Asker {
public:
    Asker(CopyBuffers& buffers, PathQueries& queries) : buffers_(buffers), queries_(queries) {}

    bool Reserve() noexcept {
        const std::size_t longest = buffers_.files->LongestPath() + kPrefixRoom;
        return question_.Reserve(longest + 1) && universal_.Reserve(kQueryCapacity) &&
               whole_.Reserve(kQueryCapacity + longest + 2) && short_.Reserve(kQueryCapacity);
    }

    // Throws std::bad_alloc when the folder table cannot grow.
    bool Ask(std::size_t index) {
        const CopyOptions& options = *buffers_.options;
        const HeadAndTail prefixed = WithLongPathPrefix((*buffers_.files)[index]);
        std::u16string_view asked;
        bool answered = false;
        const HeadAndTail plain = WithoutLongPathPrefix((*buffers_.files)[index]);
        if (options.Mode == kModeUniversal && plain.head.empty() && !IsNetworkForm(plain.tail)) {
            const std::size_t slash = plain.tail.rfind(u'\\');
            const std::u16string_view folder = plain.tail.substr(0, slash == plain.tail.npos ? 0 : slash + 1);
            const FolderKey key{folder};
            if (last_ == nullptr || !(key == lastKey_)) { // a selection's items mostly share one folder
                const auto [found, added] = folders_.try_emplace(key, AnswerSpan{kNoAnswer, 0});
                if (added &&
                    queries_.UniversalName(Join(question_, {folder}).data(), universal_.data(),
                                           universal_.capacity()) &&
                    !Keep(buffers_, {Terminated(universal_)}, found->second)) {
                    return false;
                }
                lastKey_ = key;
                last_ = &found->second; // the table's entries stay where they are while it grows
            }
            if (last_->begin != kNoAnswer) {
                const std::u16string_view share(buffers_.answerText.data() + last_->begin, last_->length);
                const std::u16string_view slashAfter = share.empty() || share.back() != u'\\' ? u"\\" : u"";
                asked = Join(whole_, {share, slashAfter, plain.tail.substr(folder.size())});
                answered = true;
            }
        }
        if (options.ShortName != 0) {
            if (!answered) {
                asked = Join(whole_, {prefixed.head, prefixed.tail});
            }
            // Without a short form the entry keeps the long one, in Mode 3 the universal name the user asked for.
            if (queries_.ShortPath(asked.data(), short_.data(), short_.capacity())) {
                asked = Terminated(short_);
                answered = true;
            }
        }
        if (!answered) {
            return KeepUnprefixed(index);
        }
        const HeadAndTail entry = WithoutLongPathPrefix(asked);
        return KeepFor(buffers_, index, {entry.head, entry.tail});
    }

    // Only a path whose prefix removal puts a backslash in front needs its own copy.
    bool KeepUnprefixed(std::size_t index) noexcept {
        const HeadAndTail entry = Unprefixed((*buffers_.files)[index]);
        return entry.head.empty() || KeepFor(buffers_, index, {entry.head, entry.tail});
    }

private:
    CopyBuffers& buffers_;
    PathQueries& queries_;
    FolderAnswers folders_;
    FolderKey lastKey_ = {};
    const AnswerSpan* last_ = nullptr;
    CharBuffer question_; // the drive-based folder asked for
    CharBuffer universal_;
    CharBuffer whole_; // the path the short name is asked for
    CharBuffer short_;
};

} // namespace

std::u16string_view EntrySource(const CopyBuffers& buffers, std::size_t index) noexcept {
    if (buffers.answers != nullptr && buffers.answers[index].begin != kNoAnswer) {
        return {buffers.answerText.data() + buffers.answers[index].begin, buffers.answers[index].length};
    }
    return Unprefixed((*buffers.files)[index]).tail;
}

bool FindAnswers(CopyBuffers& buffers, PathQueries& queries) noexcept {
    const CopyOptions& options = *buffers.options;
    const bool asking = options.Mode == kModeUniversal || options.ShortName != 0;
    try {
        Asker asker(buffers, queries);
        if (asking && !asker.Reserve()) {
            return false;
        }
        if (!asking && buffers.files->EveryPathHasADrive()) {
            return true; // no path has a prefix whose removal would put a backslash in front
        }
        for (std::size_t i = 0; i < buffers.files->size(); ++i) {
            if (!(asking ? asker.Ask(i) : asker.KeepUnprefixed(i))) {
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace pathlift
