// Turns the tools' flags into copy options, with names a user can guess.

#include "host_options.h"

#include <cwchar>
#include <map>

namespace pathlift::tools {

namespace {

std::u16string U16(const std::wstring& text) {
    return {text.begin(), text.end()};
}

bool Choose(const std::map<std::wstring, std::uint32_t>& choices, const std::wstring& value, std::uint32_t& field) {
    const auto found = choices.find(value);
    if (found == choices.end()) {
        return false;
    }
    field = found->second;
    return true;
}

} // namespace

HostRequest ParseHostArguments(const std::vector<std::wstring>& arguments) {
    static const std::map<std::wstring, std::uint32_t> modes = {
        {L"full", kModeFullPath}, {L"name", kModeFileName}, {L"unc", kModeUniversal}};
    static const std::map<std::wstring, std::uint32_t> quotes = {
        {L"never", kQuoteNever}, {L"always", kQuoteAlways}, {L"if-space", kQuoteIfSpace}};
    static const std::map<std::wstring, std::uint32_t> directorySeparators = {
        {L"\\", kSeparatorBackslash}, {L"/", kSeparatorSlash}, {L"\\\\", kSeparatorDoubleBackslash}};
    static const std::map<std::wstring, std::uint32_t> cases = {
        {L"keep", kCaseUnchanged}, {L"upper", kCaseUpper}, {L"lower", kCaseLower}};
    static const std::map<std::wstring, std::u16string> separators = {
        {L"crlf", u"\r\n"}, {L";", u";"}, {L"space", u" "}, {L" ", u" "}, {L"tab", u"\t"}};

    HostRequest request;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& flag = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        const std::wstring value = hasValue ? arguments[i + 1] : L"";
        bool understood = true;
        if (flag == L"--help" || flag == L"-h") {
            request.help = true;
        } else if (flag == L"--short") {
            request.options.ShortName = 1;
        } else if (flag == L"--no-extension") {
            request.options.NoExtension = 1;
        } else if (flag == L"--space-as-%20") {
            request.options.ConvertSpace = 1;
        } else if (flag == L"--interactive") {
            request.interactive = true;
        } else if (flag == L"--generate") {
            ++i;
            wchar_t* end = nullptr;
            const unsigned long long count = hasValue ? std::wcstoull(value.c_str(), &end, 10) : 0;
            understood = hasValue && !value.empty() && *end == L'\0' && count > 0 && count <= 10000000;
            request.generate = static_cast<std::size_t>(count);
        } else if (flag == L"--mode" || flag == L"--quote" || flag == L"--dir-separator" || flag == L"--case" ||
                   flag == L"--separator") {
            ++i;
            if (!hasValue) {
                understood = false;
            } else if (flag == L"--mode") {
                understood = Choose(modes, value, request.options.Mode);
            } else if (flag == L"--quote") {
                understood = Choose(quotes, value, request.options.WQuotation);
            } else if (flag == L"--dir-separator") {
                understood = Choose(directorySeparators, value, request.options.DirectorySepalator);
            } else if (flag == L"--case") {
                understood = Choose(cases, value, request.options.ConvertUpLower);
            } else {
                const auto found = separators.find(value);
                understood = found != separators.end();
                if (understood) {
                    request.options.FileSeparator = found->second;
                }
            }
        } else if (flag.rfind(L"--", 0) == 0) {
            understood = false;
        } else {
            request.files.push_back(U16(flag));
        }
        if (!understood) {
            request.error = L"cannot understand " + flag + (hasValue && flag.rfind(L"--", 0) == 0 ? L" " + value : L"");
            return request;
        }
    }
    return request;
}

const wchar_t* HostUsage() {
    return L"flags: --mode full|name|unc  --short  --no-extension  --space-as-%20\n"
           L"       --quote never|always|if-space  --dir-separator '\\' | '/' | '\\\\'\n"
           L"       --separator crlf|';'|space|tab  --case keep|upper|lower\n"
           L"       --generate N (select N made-up paths of 58 characters and print the time of each step)\n"
           L"then the paths to copy (sample files are created when none are given)\n";
}

} // namespace pathlift::tools
