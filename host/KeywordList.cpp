// Layer 3, the editor: keyword list parsing and matching.
#include "host/KeywordList.h"
#include "platform/Text.h"

#include <strings.h>
#include <cctype>
#include <sstream>

namespace host {
namespace {

std::size_t abbreviationLength(const std::string& keyword) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < keyword.size(); ++i)
        if (std::isupper(static_cast<unsigned char>(keyword[i]))) length = i + 1;
    return length == 0 ? keyword.size() : length;
}

bool isPrefixIgnoringCase(const std::string& prefix, const std::string& word) {
    return prefix.size() <= word.size() && ::strncasecmp(prefix.c_str(), word.c_str(), prefix.size()) == 0;
}

}  // namespace

std::optional<std::vector<Keyword>> parseKeywordList(const std::string& list) {
    std::istringstream words(list);
    std::vector<std::string> locals, globals;
    bool inGlobals = false;
    for (std::string word; words >> word;) {
        if (word == "_") {
            if (inGlobals) return std::nullopt;
            inGlobals = true;
            continue;
        }
        if (!inGlobals && word[0] == '_') {  // "_Global" glued to the first global name
            inGlobals = true;
            word.erase(0, 1);
            // "__X" would make "_X" a global name, which the list printed back
            // ("... _ _X") could not say again; "_" alone is the separator.
            if (word[0] == '_') return std::nullopt;
        }
        (inGlobals ? globals : locals).push_back(word);
    }
    if (inGlobals && globals.size() != locals.size()) return std::nullopt;
    std::vector<Keyword> keywords;
    for (std::size_t i = 0; i < locals.size(); ++i)
        keywords.push_back({locals[i], inGlobals ? globals[i] : locals[i], abbreviationLength(locals[i])});
    return keywords;
}

const Keyword* matchKeyword(const std::vector<Keyword>& keywords, const std::string& rawInput) {
    std::string input = std::string(platform::trim(rawInput, " \t\r\n"));
    bool byGlobal = !input.empty() && input[0] == '_';
    if (byGlobal) input.erase(0, 1);
    if (input.empty()) return nullptr;
    auto nameOf = [&](const Keyword& k) -> const std::string& { return byGlobal ? k.global : k.local; };
    for (const Keyword& k : keywords)
        if (::strcasecmp(input.c_str(), nameOf(k).c_str()) == 0) return &k;
    for (const Keyword& k : keywords)
        if (input.size() >= k.minimumLength && isPrefixIgnoringCase(input, nameOf(k))) return &k;
    return nullptr;
}

}  // namespace host
