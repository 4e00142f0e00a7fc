// The name formatter on any options, any paths up to the longest the shell hands over, and query answers that
// fail, shrink or grow the path. The joined text must be the entries formatted one by one, joined.

#include "fuzz/fuzz_input.h"

#include "engine/name_formatter.h"
#include "engine/path_text.h"

#include <map>
#include <string>
#include <utility>

namespace pathlift::fuzzing {

namespace {

// Mostly the small values the options mean something for, sometimes any value at all.
std::uint32_t OptionValue(FuzzInput& in) {
    const std::uint8_t b = in.Byte();
    return b < 240 ? b % 5u : in.Dword();
}

std::u16string Separator(FuzzInput& in) {
    const std::uint8_t b = in.Byte();
    if (b < 200) {
        return std::u16string(kFileSeparators[b % 4]);
    }
    std::u16string text(b % 9u, u'\0');
    for (char16_t& unit : text) {
        unit = static_cast<char16_t>(in.Unit() | 1);
    }
    return text;
}

// A path built from the pieces that matter to the formatter, a long one from a piece repeated.
std::u16string Path(FuzzInput& in) {
    static const std::u16string_view pieces[] = {
        u"\\", u"/",      u".",      u"\\\\?\\", u"\\\\?\\UNC\\", u"C:",   u" ",   u"%20", u"\\\\srv\\share",
        u"\t", u"\u3000", u"\u30c6", u"\u00e9",  u"Dir",          u"name", u"ext",
    };
    std::u16string path;
    std::u16string last;
    while (!in.Empty() && path.size() < kMaxPathLength) {
        const std::uint8_t b = in.Byte();
        if (b == 0) {
            break;
        }
        const unsigned kind = b % 24u;
        if (kind < std::size(pieces)) {
            last = pieces[kind];
        } else if (kind == 16) {
            last = std::u16string(1, static_cast<char16_t>(0xD800 | in.Byte() << 2)); // lone or paired surrogates
        } else if (kind == 17) {
            last = std::u16string(1, static_cast<char16_t>(0xDC00 | in.Byte() << 2));
        } else if (kind == 18) {
            last = std::u16string(1, static_cast<char16_t>(in.Unit() | 0x20));
        } else if (kind == 19) {
            last = std::u16string(1, static_cast<char16_t>((b & 0x20 ? u'a' : u'A') + in.Byte() % 26));
        } else {
            const std::size_t times = in.Upto(kMaxPathLength);
            for (std::size_t i = 0; i < times && path.size() < kMaxPathLength && !last.empty(); ++i) {
                path += last;
            }
            continue;
        }
        path += last;
    }
    if (path.size() > kMaxPathLength) {
        path.resize(kMaxPathLength);
    }
    return path;
}

// Answers taken from the input the first time a question is asked and the same ever after, so a path formatted
// alone meets the answers it met in the whole list. A failed query leaves rubbish in the buffer, as a real one may.
class RandomQueries final : public PathQueries {
public:
    explicit RandomQueries(FuzzInput& in) : in_(in) {}

    bool UniversalName(const char16_t* localPath, char16_t* work, std::size_t workCapacity) override {
        return Answer(universal_, localPath, work, workCapacity);
    }
    bool ShortPath(const char16_t* longPath, char16_t* out, std::size_t outCapacity) override {
        return Answer(short_, longPath, out, outCapacity);
    }

private:
    // The formatter's buffers hold at least 32768 units, so every answer fits whole wherever it is asked.
    static constexpr std::size_t kLongestAnswer = 32767;

    std::pair<bool, std::u16string> Make(const std::u16string& question) {
        const std::uint8_t kind = in_.Byte() % 4;
        if (kind == 0) {
            return {false, u"RUBBISH"};
        }
        if (kind == 1) { // shorter: a prefix, down to nothing
            return {true, question.substr(0, in_.Upto(question.size()))};
        }
        std::u16string answer = kind == 2 ? question : Path(in_); // longer than the question, or anything
        const std::size_t length = in_.Upto(kLongestAnswer);
        while (answer.size() < length) {
            answer += u"\\longer name";
        }
        answer.resize(std::min(answer.size(), kLongestAnswer));
        return {true, answer};
    }

    bool Answer(std::map<std::u16string, std::pair<bool, std::u16string>>& answers, const char16_t* question,
                char16_t* out, std::size_t capacity) {
        const std::u16string key(question);
        auto found = answers.find(key);
        if (found == answers.end()) {
            found = answers.emplace(key, Make(key)).first;
        }
        CopyText(out, capacity, found->second.second);
        return found->second.first;
    }

    FuzzInput& in_;
    std::map<std::u16string, std::pair<bool, std::u16string>> universal_;
    std::map<std::u16string, std::pair<bool, std::u16string>> short_;
};

// Finds the room, then writes into exactly that room: the terminator must land on its last unit.
std::u16string FormatAll(const FileList& files, const CopyOptions& options, PathQueries& queries) {
    const Selection selection = Selection::FromList(files);
    CopyBuffers buffers;
    Require(AllocateCopyBuffers(selection, options, queries, buffers), "the storage of a Copy can be had");
    std::u16string text(buffers.textLength + 1, u'?');
    FormatFileList(buffers, text.data());
    Require(text.back() == u'\0', "the text fills exactly the room that was found for it");
    text.pop_back();
    return text;
}

bool QuotedWhole(std::u16string_view entry) {
    return entry.size() >= 2 && entry.front() == u'"' && entry.back() == u'"';
}

} // namespace

} // namespace pathlift::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pathlift;
    using namespace pathlift::fuzzing;
    FuzzInput in(data, size);
    CopyOptions options;
    const bool normalise = in.Flag();
    options.Mode = OptionValue(in);
    options.ShortName = OptionValue(in);
    options.NoExtension = OptionValue(in);
    options.ConvertSpace = OptionValue(in);
    options.WQuotation = OptionValue(in);
    options.DirectorySepalator = OptionValue(in);
    options.FileSeparator = Separator(in);
    options.ConvertUpLower = OptionValue(in);
    if (normalise) {
        Normalise(options);
    }
    FileList files(1 + in.Byte() % 6u);
    for (std::u16string& path : files) {
        path = Path(in);
    }
    RandomQueries queries(in);

    const std::u16string text = FormatAll(files, options, queries);

    std::u16string joined;
    std::u16string last;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::u16string alone = FormatAll({files[i]}, options, queries);
        if (options.WQuotation == kQuoteAlways) {
            Require(QuotedWhole(alone), "an entry is quoted when always asked");
        } else if (options.WQuotation == kQuoteIfSpace && alone.find(u' ') != std::u16string::npos) {
            Require(QuotedWhole(alone), "an entry with a space is quoted when asked for that");
        }
        joined += (i == 0 ? u"" : options.FileSeparator) + alone;
        last = alone;
    }
    Require(text == joined, "the joined text is the entries formatted one by one, joined");
    Require(text.size() >= last.size() && text.compare(text.size() - last.size(), last.size(), last) == 0,
            "the text ends with the last entry: no separator follows it");
    return 0;
}
