// Layer 3, the editor: the host's keyword list syntax and matching rules, apart from
// the prompting. Calls nothing of the host.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace host {

struct Keyword {
    std::string local;          // as listed (capitals mark the abbreviation)
    std::string global;         // the global name; equals `local` without a "_" part
    std::size_t minimumLength;  // shortest accepted prefix of the local name
};

// Parses "Local1 Local2 _Global1 Global2". A keyword's abbreviation runs up to its
// last capital letter; a keyword without capitals must be typed in full. No value
// when the "_" part names a different number of keywords than the local part.
std::optional<std::vector<Keyword>> parseKeywordList(const std::string& list);

// The keyword `input` selects, or null. Leading and trailing blanks are ignored. A
// leading "_" matches global names (in full or as a prefix as long as the local
// abbreviation). A whole name wins over a prefix; among prefixes the first listed.
const Keyword* matchKeyword(const std::vector<Keyword>& keywords, const std::string& input);

}  // namespace host
