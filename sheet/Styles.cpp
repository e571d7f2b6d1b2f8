#include "sheet/Styles.h"

#include "sheet/DateFormat.h"

#include <algorithm>
#include <array>

namespace sheet {
namespace {

struct Builtin {
    std::uint32_t id;
    std::string_view code;
};
// The codes are the ones the application shows for the built-in ids in the United
// States (a file names only the id; 14 and 22 follow the user's short date).
constexpr std::array<Builtin, 28> kBuiltins{{{0, "General"},
                                             {1, "0"},
                                             {2, "0.00"},
                                             {3, "#,##0"},
                                             {4, "#,##0.00"},
                                             {9, "0%"},
                                             {10, "0.00%"},
                                             {11, "0.00E+00"},
                                             {12, "# ?/?"},
                                             {13, "# ?\?/??"},
                                             {14, "m/d/yyyy"},
                                             {15, "d-mmm-yy"},
                                             {16, "d-mmm"},
                                             {17, "mmm-yy"},
                                             {18, "h:mm AM/PM"},
                                             {19, "h:mm:ss AM/PM"},
                                             {20, "h:mm"},
                                             {21, "h:mm:ss"},
                                             {22, "m/d/yyyy h:mm"},
                                             {37, "#,##0 ;(#,##0)"},
                                             {38, "#,##0 ;[Red](#,##0)"},
                                             {39, "#,##0.00;(#,##0.00)"},
                                             {40, "#,##0.00;[Red](#,##0.00)"},
                                             {45, "mm:ss"},
                                             {46, "[h]:mm:ss"},
                                             {47, "mmss.0"},
                                             {48, "##0.0E+0"},
                                             {49, "@"}}};

constexpr std::uint64_t kOpBold = 1ull << 62;
constexpr std::uint64_t kOpNotBold = 1ull << 61;
constexpr std::uint64_t kOpWrap = 1ull << 58;
constexpr std::uint64_t kOpNoWrap = 1ull << 57;

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One attribute of a start tag as written: from the white space before its name to
// its closing quote.
struct AttributeSpan {
    std::string_view qname;
    std::size_t begin, end;
};

// The attributes of an element's start tag (the element came from a well-formed
// document or from here), and in `last` where the last attribute ends (after the
// name when there is none): what follows is white space and "/>" or ">".
std::vector<AttributeSpan> attributesOf(std::string_view element, std::size_t& last) {
    std::vector<AttributeSpan> spans;
    std::size_t at = element.find_first_of(" \t\r\n/>", 1);
    last = at;
    while (at < element.size()) {
        std::size_t name = at;
        while (name < element.size() && isXmlSpace(element[name])) ++name;
        if (name >= element.size() || element[name] == '/' || element[name] == '>') break;
        std::size_t nameEnd = element.find_first_of(" \t\r\n=", name);
        std::size_t quote = element.find_first_of("\"'", nameEnd);
        std::size_t close = element.find(element[quote], quote + 1);
        spans.push_back({element.substr(name, nameEnd - name), at, close + 1});
        at = last = close + 1;
    }
    return spans;
}

// The element with its attribute `name` (one without a prefix, so in no namespace)
// given the value, or taken away for an empty value. Everything else of the
// element, the user's attributes and its content, stays byte for byte.
std::string withAttribute(std::string_view element, std::string_view name, std::string_view value) {
    std::size_t last = 0;
    std::string out(element);
    const auto spans = attributesOf(element, last);
    const auto it = std::find_if(spans.begin(), spans.end(), [&](const AttributeSpan& a) { return a.qname == name; });
    std::string attribute;
    if (!value.empty()) attribute.append(" ").append(name).append("=\"").append(value).append("\"");
    if (it != spans.end())
        out.replace(it->begin, it->end - it->begin, attribute);
    else
        out.insert(last, attribute);
    return out;
}

// An element with no attribute and no content, "<alignment/>", says nothing.
bool isBare(std::string_view element) {
    std::size_t last = 0;
    if (!attributesOf(element, last).empty()) return false;
    while (last < element.size() && isXmlSpace(element[last])) ++last;
    return element.substr(last) == "/>";
}

// Sets an apply* flag of a cell format's attributes to 1 (a format whose flag said
// 0 would keep showing its cell style's property instead of the one set here).
void setApplyFlag(std::string& attributes, std::string_view flag) {
    const std::string needle = " " + std::string(flag) + "=\"";
    const auto at = attributes.find(needle);
    if (at == std::string::npos) {
        attributes.append(needle).append("1\"");
        return;
    }
    const auto value = at + needle.size();
    attributes.replace(value, attributes.find('"', value) - value, "1");
}

}  // namespace

std::string_view builtinFormatCode(std::uint32_t id) {
    for (const auto& b : kBuiltins)
        if (b.id == id) return b.code;
    return {};
}

Styles::Styles() {
    Font font;
    font.children = {{"sz", "<sz val=\"11\"/>"},
                     {"color", "<color theme=\"1\"/>"},
                     {"name", "<name val=\"Calibri\"/>"},
                     {"family", "<family val=\"2\"/>"},
                     {"scheme", "<scheme val=\"minor\"/>"}};
    fonts.push_back(std::move(font));
    formats_.push_back(CellFormat{});
}

void Styles::Font::putChildrenInOrder() {
    // The schema's order of a font's properties. Some writers put them in another
    // order, which validators refuse; the order carries no meaning, so each property
    // is kept whole and only moved. Unknown children keep their place at the end.
    static constexpr std::string_view kOrder[] = {"b",       "i",      "strike", "condense",  "extend",
                                                  "outline", "shadow", "u",      "vertAlign", "sz",
                                                  "color",   "name",   "family", "charset",   "scheme"};
    auto rank = [](const XmlPiece& child) {
        const auto* at = std::find(std::begin(kOrder), std::end(kOrder), child.name);
        return static_cast<std::size_t>(at - std::begin(kOrder));
    };
    std::stable_sort(children.begin(), children.end(),
                     [&](const XmlPiece& a, const XmlPiece& b) { return rank(a) < rank(b); });
}

std::string Styles::Font::xml() const {
    std::string out = startTag;
    for (const XmlPiece& child : children) out += child.raw;
    out.append("</").append(prefix).append("font>");
    return out;
}

std::string Styles::formatCode(std::uint32_t xf) const {
    if (xf >= formats_.size()) return "General";
    auto id = formats_[xf].numFmtId;
    if (auto it = customFormats.find(id); it != customFormats.end()) return it->second;
    auto code = builtinFormatCode(id);
    return code.empty() ? "General" : std::string(code);
}

bool Styles::isTextFormat(std::uint32_t xf) const {
    if (xf >= formats_.size()) return false;
    auto id = formats_[xf].numFmtId;
    if (id == kTextFormatId) return true;
    auto it = customFormats.find(id);
    return it != customFormats.end() && it->second == "@";
}

bool Styles::isDateFormat(std::uint32_t xf) const {
    if (xf >= formats_.size()) return false;
    auto id = formats_[xf].numFmtId;
    if (auto it = customFormats.find(id); it != customFormats.end()) return isDateTimeCode(it->second);
    return isDateTimeFormatId(id);
}

bool Styles::isBold(std::uint32_t xf) const {
    if (xf >= formats_.size()) return false;
    auto font = formats_[xf].fontId;
    return font < fonts.size() && fonts[font].isBold;
}

bool Styles::wrapsText(std::uint32_t xf) const { return xf < formats_.size() && formats_[xf].wrapsText; }

std::uint32_t Styles::numFmtIdFor(std::string_view code) {
    for (const auto& b : kBuiltins)
        if (b.code == code) return b.id;
    for (const auto& [id, c] : customFormats)
        if (c == code) return id;
    std::uint32_t id = customFormats.empty() ? 164 : std::max<std::uint32_t>(164, customFormats.rbegin()->first + 1);
    customFormats.emplace(id, std::string(code));
    return id;
}

std::uint32_t Styles::findOrAdd(const CellFormat& f) {
    for (std::uint32_t i = 0; i < formats_.size(); ++i)
        if (formats_[i] == f) return i;
    formats_.push_back(f);
    return static_cast<std::uint32_t>(formats_.size() - 1);
}

std::uint32_t Styles::withFormatCode(std::uint32_t xf, std::string_view code) {
    if (xf >= formats_.size()) xf = 0;
    // The cache holds the last code per format only for the two codes callers use in
    // bulk; other codes go the slow way.
    std::uint64_t key = 0;
    if (code == "@")
        key = (1ull << 60) | xf;
    else if (code == "General")
        key = (1ull << 59) | xf;
    if (key)
        if (auto it = cache_.find(key); it != cache_.end()) return it->second;
    CellFormat f = formats_[xf];
    f.numFmtId = numFmtIdFor(code);
    if (f.extraAttributes.find("applyNumberFormat") == std::string::npos && f.numFmtId != 0)
        f.extraAttributes += " applyNumberFormat=\"1\"";
    auto result = findOrAdd(f);
    if (key) cache_[key] = result;
    return result;
}

std::uint32_t Styles::withBold(std::uint32_t xf, bool bold) {
    if (xf >= formats_.size()) xf = 0;
    std::uint64_t key = (bold ? kOpBold : kOpNotBold) | xf;
    if (auto it = cache_.find(key); it != cache_.end()) return it->second;
    CellFormat f = formats_[xf];
    if (isBold(xf) != bold) {
        Font font = fonts[f.fontId < fonts.size() ? f.fontId : 0];
        // Whatever form the bold property had (<b/>, <b val="0"/>, ...), it goes; a
        // bold font gets it first, as properties may come in any order.
        std::erase_if(font.children, [](const XmlPiece& child) { return child.name == "b"; });
        if (bold) font.children.insert(font.children.begin(), {"b", "<" + font.prefix + "b/>"});
        font.isBold = bold;
        const std::string xml = font.xml();
        std::uint32_t fontId = 0;
        bool found = false;
        for (std::uint32_t i = 0; i < fonts.size(); ++i)
            if (fonts[i].xml() == xml) {
                fontId = i;
                found = true;
                break;
            }
        if (!found) {
            fonts.push_back(std::move(font));
            fontId = static_cast<std::uint32_t>(fonts.size() - 1);
        }
        f.fontId = fontId;
        if (f.extraAttributes.find("applyFont") == std::string::npos) f.extraAttributes += " applyFont=\"1\"";
    }
    auto result = findOrAdd(f);
    cache_[key] = result;
    return result;
}

std::uint32_t Styles::withWrapText(std::uint32_t xf, bool wrap) {
    if (xf >= formats_.size()) xf = 0;
    std::uint64_t key = (wrap ? kOpWrap : kOpNoWrap) | xf;
    if (auto it = cache_.find(key); it != cache_.end()) return it->second;
    CellFormat f = formats_[xf];
    if (f.wrapsText != wrap) {
        // Only wrapText changes: the alignment the user gave the format (horizontal,
        // indent, rotation, ...) is kept as it was written.
        if (f.alignment.empty()) f.alignment = "<" + mainPrefix + "alignment/>";
        f.alignment = withAttribute(f.alignment, "wrapText", wrap ? "1" : "");
        if (isBare(f.alignment)) f.alignment.clear();
        f.wrapsText = wrap;
        setApplyFlag(f.extraAttributes, "applyAlignment");
    }
    auto result = findOrAdd(f);
    cache_[key] = result;
    return result;
}

}  // namespace sheet
