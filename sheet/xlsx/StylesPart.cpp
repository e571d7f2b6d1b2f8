#include "sheet/xlsx/StylesPart.h"

#include "sheet/xlsx/PartPieces.h"

#include <algorithm>
#include <charconv>

namespace sheet::xlsx {
namespace {

std::uint32_t number(std::string_view text, bool& ok) {
    std::uint32_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    ok = ec == std::errc() && end == text.data() + text.size();
    return v;
}

// An xsd:boolean, whose white space is collapsed.
bool isTrue(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return false;
    text = text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
    return text == "1" || text == "true";
}

class StylesReader : public PartPiecesReader {
public:
    explicit StylesReader(Styles& styles) : styles_(styles) {}

private:
    void onStart(const XmlElement& e) override {
        if (e.depth == 1 && e.name != "styleSheet")
            fail("the root element is <" + std::string(e.name) + ">, not <styleSheet>");
        if (e.depth == 1 && !e.prefix.empty()) mainPrefix = std::string(e.prefix) + ":";
        if (e.depth == 2) {
            section_ = std::string(e.name);
            trackStart(e, section_ == "numFmts" || section_ == "fonts" || section_ == "cellXfs");
            return;
        }
        trackStart(e, false);
        if (e.depth == 3 && section_ == "numFmts" && e.name == "numFmt") {
            const auto* id = e.attr("numFmtId");
            const auto* code = e.attr("formatCode");
            bool ok = false;
            auto value = id ? number(*id, ok) : 0;
            if (!ok || !code) fail("a number format lacks its id or code");
            styles_.customFormats[value] = std::string(*code);
        } else if (e.depth == 3 && section_ == "fonts" && e.name == "font") {
            Styles::Font font;
            font.startTag.assign(document().substr(e.offset, e.startTagEnd - e.offset));
            // <font/> holds no properties; children added to it need an end tag.
            if (font.startTag.ends_with("/>")) font.startTag.erase(font.startTag.size() - 2, 1);
            if (!e.prefix.empty()) font.prefix = std::string(e.prefix) + ":";
            fonts_.push_back(std::move(font));
        } else if (e.depth == 4 && section_ == "fonts") {
            childStart_ = e.offset;
            if (e.name == "b") {
                const auto* v = e.attr("val");
                fonts_.back().isBold = !v || *v == "1" || *v == "true";
            }
        } else if (e.depth == 3 && section_ == "cellXfs" && e.name == "xf") {
            CellFormat f;
            for (const auto& a : *e.attributes) {
                bool ok = true;
                if (a.ns.empty() && a.name == "numFmtId")
                    f.numFmtId = number(a.value, ok);
                else if (a.ns.empty() && a.name == "fontId")
                    f.fontId = number(a.value, ok);
                else if (a.ns.empty() && a.name == "fillId")
                    f.fillId = number(a.value, ok);
                else if (a.ns.empty() && a.name == "borderId")
                    f.borderId = number(a.value, ok);
                else if (a.ns.empty() && a.name == "xfId")
                    f.xfId = number(a.value, ok);
                else {
                    f.extraAttributes += ' ';
                    if (!a.prefix.empty()) f.extraAttributes.append(a.prefix).append(":");
                    f.extraAttributes.append(a.name).append("=\"");
                    appendEscapedAttribute(f.extraAttributes, a.value);
                    f.extraAttributes += '"';
                }
                if (!ok) fail("cell format " + std::to_string(xfs_.size()) + " has a bad " + std::string(a.name));
            }
            xfs_.push_back(std::move(f));
            xfInner_ = e.startTagEnd;
            alignmentStart_ = alignmentEnd_ = 0;
        } else if (e.depth == 4 && section_ == "cellXfs" && e.name == "alignment" && e.ns == ns::main &&
                   alignmentEnd_ == 0 && !xfs_.empty()) {
            alignmentStart_ = e.offset;
            if (const auto* wrap = e.attr("wrapText")) xfs_.back().wrapsText = isTrue(*wrap);
        }
    }
    void onEnd(std::string_view, std::string_view name, int depth, std::size_t endOffset) override {
        trackEnd(depth, endOffset);
        if (depth == 4 && section_ == "fonts" && !fonts_.empty()) {
            fonts_.back().children.push_back(
                {std::string(name), std::string(document().substr(childStart_, endOffset - childStart_))});
        } else if (depth == 3 && section_ == "fonts" && name == "font" && !fonts_.empty()) {
            fonts_.back().putChildrenInOrder();
        } else if (depth == 4 && section_ == "cellXfs" && name == "alignment" && alignmentStart_ != 0 &&
                   alignmentEnd_ == 0) {
            alignmentEnd_ = endOffset;
            xfs_.back().alignment.assign(document().substr(alignmentStart_, endOffset - alignmentStart_));
        } else if (depth == 3 && section_ == "cellXfs" && name == "xf") {
            // The children are carried whole: the alignment on its own, as wrapping
            // changes it, and the rest (protection, extensions) around it.
            std::string& inner = xfs_.back().innerXml;
            if (alignmentEnd_ != 0) {
                inner.assign(document().substr(xfInner_, alignmentStart_ - xfInner_));
                inner.append(document().substr(alignmentEnd_, contentEnd() - alignmentEnd_));
            } else if (contentEnd() > xfInner_) {
                inner.assign(document().substr(xfInner_, contentEnd() - xfInner_));
            }
        }
    }

public:
    std::vector<Styles::Font> fonts_;
    std::string mainPrefix;
    std::vector<CellFormat> xfs_;

private:
    Styles& styles_;
    std::string section_;
    std::size_t childStart_ = 0, xfInner_ = 0;
    // The first <alignment> of the current xf, from its '<' to one past its end (0
    // while there is none).
    std::size_t alignmentStart_ = 0, alignmentEnd_ = 0;
};

constexpr std::string_view kDefaultRest[] = {
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
    "patternType=\"gray125\"/></fill></fills>",
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>",
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>",
};

}  // namespace

void readStyles(std::string_view xml, const std::string& partName, Styles& styles, const ReadLimits& limits) {
    StylesReader reader(styles);
    styles.customFormats.clear();
    reader.parse(xml, partName, limits.maxXmlDepth);
    if (reader.xfs_.empty()) reader.xfs_.push_back(CellFormat{});
    if (reader.fonts_.empty()) reader.fonts_ = Styles().fonts;
    for (const auto& f : reader.xfs_)
        if (f.fontId >= reader.fonts_.size())
            throw XlsxError(partName + ": a cell format refers to font " + std::to_string(f.fontId) + " of " +
                            std::to_string(reader.fonts_.size()));
    styles.fonts = std::move(reader.fonts_);
    styles.formats() = std::move(reader.xfs_);
    styles.rootStartTag = std::move(reader.rootStartTag);
    styles.pieces = std::move(reader.pieces);
    styles.mainPrefix = std::move(reader.mainPrefix);
    styles.clearCaches();
}

std::string writeStyles(const Styles& styles) {
    std::vector<XmlPiece> pieces = styles.pieces;
    std::string root = styles.rootStartTag;
    if (root.empty()) {
        root = "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
        pieces = {{"numFmts", ""}, {"fonts", ""}};
        for (auto raw : kDefaultRest) {
            std::string r(raw);
            std::string name = r.substr(1, r.find(' ') - 1);
            pieces.push_back({name, r});
        }
        pieces.push_back({"cellXfs", ""});
        pieces.push_back(
            {"cellStyles",
             "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"});
    }
    // numFmts must come first and fonts before fills; cellXfs after cellStyleXfs.
    auto has = [&](std::string_view n) {
        return std::any_of(pieces.begin(), pieces.end(), [&](const XmlPiece& p) { return p.name == n; });
    };
    if (!has("numFmts")) pieces.insert(pieces.begin(), {"numFmts", ""});
    if (!has("fonts")) {
        auto it = std::find_if(pieces.begin(), pieces.end(), [](const XmlPiece& p) { return p.name == "numFmts"; });
        pieces.insert(it + 1, {"fonts", ""});
    }
    if (!has("cellXfs")) {
        auto it = std::find_if(pieces.begin(), pieces.end(), [](const XmlPiece& p) {
            return p.name == "cellStyles" || p.name == "dxfs" || p.name == "tableStyles" || p.name == "colors" ||
                   p.name == "extLst";
        });
        pieces.insert(it, {"cellXfs", ""});
    }

    // Generated elements take the prefix the stylesheet's own elements carry.
    const std::string p = styles.rootStartTag.empty() ? std::string() : styles.mainPrefix;
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n" + root;
    for (const XmlPiece& piece : pieces) {
        if (!piece.raw.empty()) {
            out += piece.raw;
        } else if (piece.name == "numFmts") {
            if (styles.customFormats.empty()) continue;
            out += "<" + p + "numFmts count=\"" + std::to_string(styles.customFormats.size()) + "\">";
            for (const auto& [id, code] : styles.customFormats) {
                out += "<" + p + "numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"";
                appendEscapedAttribute(out, code);
                out += "\"/>";
            }
            out += "</" + p + "numFmts>";
        } else if (piece.name == "fonts") {
            out += "<" + p + "fonts count=\"" + std::to_string(styles.fonts.size()) + "\">";
            for (const auto& f : styles.fonts) out += f.xml();
            out += "</" + p + "fonts>";
        } else if (piece.name == "cellXfs") {
            out += "<" + p + "cellXfs count=\"" + std::to_string(styles.formats().size()) + "\">";
            for (const auto& f : styles.formats()) {
                out += "<" + p + "xf numFmtId=\"" + std::to_string(f.numFmtId) + "\" fontId=\"" +
                       std::to_string(f.fontId) + "\" fillId=\"" + std::to_string(f.fillId) + "\" borderId=\"" +
                       std::to_string(f.borderId) + "\" xfId=\"" + std::to_string(f.xfId) + "\"" + f.extraAttributes;
                if (f.alignment.empty() && f.innerXml.empty())
                    out += "/>";
                else
                    out += ">" + f.alignment + f.innerXml + "</" + p + "xf>";
            }
            out += "</" + p + "cellXfs>";
        }
    }
    auto nameEnd = root.find_first_of(" \t\r\n>", 1);
    out += "</" + root.substr(1, nameEnd - 1) + ">";
    return out;
}

}  // namespace sheet::xlsx
