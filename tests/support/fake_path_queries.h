#pragma once
// Answers for the universal-name and short-name queries, as a network share or an 8.3 file system would give them,
// recording what the formatter asked.

#include "engine/name_formatter.h"
#include "engine/path_text.h"

#include <map>
#include <string>
#include <vector>

namespace pathlift::testing {

class FakePathQueries final : public PathQueries {
public:
    std::map<std::u16string, std::u16string> universalNames;
    std::map<std::u16string, std::u16string> shortPaths;
    std::vector<std::u16string> universalAsked;
    std::vector<std::u16string> shortAsked;

    bool UniversalName(const char16_t* localPath, char16_t* work, std::size_t workCapacity) override {
        universalAsked.emplace_back(localPath);
        return Answer(universalNames, localPath, work, workCapacity);
    }
    bool ShortPath(const char16_t* longPath, char16_t* out, std::size_t outCapacity) override {
        shortAsked.emplace_back(longPath);
        return Answer(shortPaths, longPath, out, outCapacity);
    }

private:
    // A failed query leaves rubbish behind, as a real one may: the formatter must not use it.
    static bool Answer(const std::map<std::u16string, std::u16string>& answers, const char16_t* question, char16_t* out,
                       std::size_t capacity) {
        const auto found = answers.find(question);
        CopyText(out, capacity, found == answers.end() ? u"RUBBISH" : found->second);
        return found != answers.end();
    }
};

// The whole Copy as the dialog runs it, minus the clipboard: reserve, format, give the text.
inline std::u16string FormatSelection(const FileList& files, const CopyOptions& options, PathQueries& queries) {
    CopyBuffers buffers;
    if (!AllocateCopyBuffers(files, buffers) || !FormatFileList(buffers, options, queries)) {
        return u"<formatting failed>";
    }
    return std::u16string(buffers.Text());
}

inline std::u16string FormatSelection(const FileList& files, const CopyOptions& options) {
    FakePathQueries none;
    return FormatSelection(files, options, none);
}

} // namespace pathlift::testing
