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
    // A mapped drive: every path that begins with the key has the share in place of the key as its universal name.
    std::map<std::u16string, std::u16string> universalNames;
    std::map<std::u16string, std::u16string> shortPaths;
    std::vector<std::u16string> universalAsked;
    std::vector<std::u16string> shortAsked;

    bool UniversalName(const char16_t* localPath, char16_t* work, std::size_t workCapacity) override {
        universalAsked.emplace_back(localPath);
        const std::u16string path(localPath);
        for (auto mapping = universalNames.rbegin(); mapping != universalNames.rend(); ++mapping) {
            if (path.compare(0, mapping->first.size(), mapping->first) == 0) {
                CopyText(work, workCapacity, mapping->second + path.substr(mapping->first.size()));
                return true;
            }
        }
        return Refuse(work, workCapacity);
    }
    bool ShortPath(const char16_t* longPath, char16_t* out, std::size_t outCapacity) override {
        shortAsked.emplace_back(longPath);
        const auto found = shortPaths.find(longPath);
        if (found == shortPaths.end()) {
            return Refuse(out, outCapacity);
        }
        CopyText(out, outCapacity, found->second);
        return true;
    }

private:
    // A failed query leaves rubbish behind, as a real one may: the formatter must not use it.
    static bool Refuse(char16_t* out, std::size_t capacity) {
        CopyText(out, capacity, u"RUBBISH");
        return false;
    }
};

// The whole Copy as the dialog runs it, minus the clipboard: reserve, format, give the text.
inline std::u16string FormatSelection(const FileList& files, const CopyOptions& options, PathQueries& queries) {
    const Selection selection = Selection::FromList(files);
    CopyBuffers buffers;
    if (!AllocateCopyBuffers(selection, options, queries, buffers)) {
        return u"<formatting failed>";
    }
    std::u16string text(buffers.textLength + 1, u'?');
    FormatFileList(buffers, text.data());
    if (text.back() != u'\0') {
        return u"<terminator misplaced>";
    }
    text.pop_back();
    return text;
}

inline std::u16string FormatSelection(const FileList& files, const CopyOptions& options) {
    FakePathQueries none;
    return FormatSelection(files, options, none);
}

} // namespace pathlift::testing
