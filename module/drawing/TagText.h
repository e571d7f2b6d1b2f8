// Comparing attribute tags as the drawing does: without regard to case, character
// by character in the multibyte text of the system code page.
#pragma once

#include <string>
#include <string_view>

namespace tabro {

// True when the two NUL-terminated tags are equal ignoring case: ASCII letters
// folded to lower case, other characters decoded under the locale and folded with
// towlower (as _mbsicmp does), a byte that does not decode equal only to itself.
// Plain ASCII tags, the usual case, are compared without decoding.
bool sameTagText(const char* a, const char* b);
inline bool sameTagText(const std::string& a, const std::string& b) {
    return a == b || sameTagText(a.c_str(), b.c_str());
}

// The tag folded as sameTagText folds it: two tags are the same text exactly when
// their keys are the same bytes. For finding tags by hash where a reference holds
// thousands of attributes and comparing each with each would take quadratic time.
std::string tagKey(std::string_view tag);

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text without the blanks around it.
inline std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace tabro
