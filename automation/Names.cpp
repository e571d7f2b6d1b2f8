// Sheet and workbook names as the application compares and allows them.
#include "automation/Names.h"

#include "automation/Utf.h"

namespace automation {

std::string sheetNameProblem(std::u16string_view name) {
    if (name.empty()) return "a sheet name cannot be empty";
    if (codePointCount(name) > 31) return "a sheet name cannot be longer than 31 characters";
    for (char16_t c : name)
        if (c == u':' || c == u'\\' || c == u'/' || c == u'?' || c == u'*' || c == u'[' || c == u']')
            return "a sheet name cannot contain any of the characters : \\ / ? * [ ]";
    if (name.front() == u'\'' || name.back() == u'\'') return "a sheet name cannot begin or end with an apostrophe";
    if (sameNameIgnoringCase(name, u"History")) return "\"History\" is a name the application reserves";
    return {};
}

namespace {
char16_t foldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
    if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) && c % 2 == 0 && c != 0x130)
        return static_cast<char16_t>(c + 1);
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    return c;
}
}  // namespace

bool sameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i])) return false;
    return true;
}

}  // namespace automation
