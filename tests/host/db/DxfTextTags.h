// A reader of ASCII DXF text of the tests' own, apart from the database's: its tags
// with where each lies, and its objects by handle, so that a test can say which
// bytes of a saved drawing must be the ones read and which must have gone.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tabro::testing {

struct TextTag {
    int code = 0;
    std::string value;      // without the line ending
    std::size_t begin = 0;  // its code line
    std::size_t end = 0;    // past its value's line ending
};

// Every tag, line pair by line pair ("\n" or "\r\n" line ends; codes may be padded).
inline std::vector<TextTag> textTags(std::string_view text) {
    std::vector<TextTag> tags;
    std::size_t pos = 0;
    auto line = [&](std::string& out) {
        if (pos >= text.size()) return false;
        std::size_t nl = text.find('\n', pos);
        const std::size_t stop = nl == std::string_view::npos ? text.size() : nl;
        out.assign(text.substr(pos, stop - pos));
        if (!out.empty() && out.back() == '\r') out.pop_back();
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        return true;
    };
    std::string code, value;
    while (true) {
        const std::size_t begin = pos;
        if (!line(code) || !line(value)) break;
        const std::size_t first = code.find_first_not_of(' ');
        if (first == std::string::npos) break;
        tags.push_back({std::stoi(code.substr(first)), value, begin, pos});
    }
    return tags;
}

struct TextObject {
    std::string type;
    std::string handle;  // group 5 (105 of a DIMSTYLE); empty for none
    std::size_t begin = 0, end = 0;
    std::vector<TextTag> tags;  // the type tag first
};

// Each object from its group 0 to the next (SECTION, ENDSEC and EOF too).
inline std::vector<TextObject> textObjects(std::string_view text) {
    std::vector<TextObject> objects;
    for (TextTag& t : textTags(text)) {
        if (t.code == 0) objects.push_back({t.value, {}, t.begin, t.end, {}});
        if (objects.empty()) continue;
        TextObject& o = objects.back();
        if ((t.code == 5 || t.code == 105) && o.handle.empty()) o.handle = t.value;
        o.end = t.end;
        o.tags.push_back(std::move(t));
    }
    return objects;
}

// The objects that have a handle, by handle.
inline std::map<std::string, TextObject> objectsByHandle(std::string_view text) {
    std::map<std::string, TextObject> byHandle;
    for (TextObject& o : textObjects(text))
        if (!o.handle.empty()) byHandle.emplace(o.handle, std::move(o));
    return byHandle;
}

// An object's tags as "code value" lines, to compare and to show.
inline std::vector<std::string> tagLines(const std::vector<TextTag>& tags) {
    std::vector<std::string> lines;
    for (const TextTag& t : tags) lines.push_back(std::to_string(t.code) + " " + t.value);
    return lines;
}

// Whether two texts are the same bytes; when not, where they first differ with a few
// lines around it (a drawing is too long for a test failure to show it whole).
inline ::testing::AssertionResult sameText(std::string_view a, std::string_view b) {
    if (a == b) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    const std::size_t from = at > 120 ? at - 120 : 0;
    return ::testing::AssertionFailure() << "the texts (" << a.size() << " and " << b.size()
                                         << " bytes) differ from byte " << at << ":\n--- first\n"
                                         << a.substr(from, 240) << "\n--- second\n"
                                         << b.substr(from, 240);
}

}  // namespace tabro::testing
