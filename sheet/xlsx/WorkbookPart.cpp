#include "sheet/xlsx/WorkbookPart.h"

#include "sheet/Automation.h"
#include "sheet/xlsx/PartPieces.h"

#include <algorithm>
#include <charconv>

namespace sheet::xlsx {
namespace {

std::string qualified(const XmlAttribute& a) {
    return a.prefix.empty() ? std::string(a.name) : std::string(a.prefix) + ":" + std::string(a.name);
}

void appendAttribute(std::string& out, const XmlAttribute& a) {
    out += ' ';
    out += qualified(a);
    out += "=\"";
    appendEscapedAttribute(out, a.value);
    out += '"';
}

class WorkbookReader : public PartPiecesReader {
public:
    WorkbookInfo info;

private:
    void onStart(const XmlElement& e) override {
        if (e.depth == 1 && e.name != "workbook")
            fail("the root element is <" + std::string(e.name) + ">, not <workbook>");
        if (e.depth == 2) {
            section_ = std::string(e.name);
            trackStart(e, section_ == "sheets" || section_ == "bookViews" || section_ == "definedNames");
            // Kept as read, and read for the date system its numbers count in.
            if (section_ == "workbookPr")
                if (const auto* date1904 = e.attr("date1904"))
                    info.isDate1904 = *date1904 == "1" || *date1904 == "true";
            return;
        }
        trackStart(e, false);
        if (e.depth == 3 && section_ == "sheets" && e.name == "sheet") {
            WorkbookSheetEntry s;
            bool hasName = false;
            for (const auto& a : *e.attributes) {
                if (a.ns.empty() && a.name == "name") {
                    s.name = utf8ToUtf16(a.value);
                    hasName = true;
                } else if (a.ns.empty() && a.name == "sheetId") {
                    s.sheetId = std::string(a.value);
                } else if (a.ns == ns::rel && a.name == "id") {
                    s.relId = std::string(a.value);
                } else if (a.ns.empty() && a.name == "state") {
                    auto visibility = visibilityOfState(a.value);
                    if (!visibility)
                        fail("sheet state " + quotedInput(a.value) + " is none of visible, hidden and veryHidden");
                    s.visibility = *visibility;
                } else {
                    appendAttribute(s.extraAttributes, a);
                }
            }
            if (!hasName || s.relId.empty()) fail("a sheet entry lacks its name or relationship id");
            info.sheets.push_back(std::move(s));
        } else if (e.depth == 3 && section_ == "bookViews" && e.name == "workbookView") {
            if (!sawView_) {
                sawView_ = true;
                for (const auto& a : *e.attributes) {
                    const bool isActiveTab = a.ns.empty() && a.name == "activeTab";
                    if (isActiveTab || (a.ns.empty() && a.name == "firstSheet")) {
                        std::size_t v = 0;
                        auto [end, ec] = std::from_chars(a.value.data(), a.value.data() + a.value.size(), v);
                        if (ec == std::errc() && end == a.value.data() + a.value.size())
                            (isActiveTab ? info.activeTab : info.firstSheet) = v;
                    } else {
                        info.workbookViewAttributes.emplace_back(qualified(a), std::string(a.value));
                    }
                }
            } else {
                extraViewStart_ = e.offset;
            }
        } else if (e.depth == 3 && section_ == "definedNames" && e.name == "definedName") {
            WorkbookInfo::Name n;
            for (const auto& a : *e.attributes) {
                if (a.ns.empty() && a.name == "localSheetId") {
                    long v = -1;
                    auto [end, ec] = std::from_chars(a.value.data(), a.value.data() + a.value.size(), v);
                    if (ec != std::errc() || end != a.value.data() + a.value.size() || v < 0)
                        fail("defined name with a bad sheet index " + quotedInput(a.value));
                    n.localSheetId = v;
                } else {
                    appendAttribute(n.attributes, a);
                }
            }
            info.definedNames.push_back(std::move(n));
            text_.clear();
            collectText = true;
        }
    }
    void onEnd(std::string_view, std::string_view name, int depth, std::size_t endOffset) override {
        trackEnd(depth, endOffset);
        if (depth == 3 && section_ == "bookViews" && name == "workbookView" && extraViewStart_) {
            info.extraWorkbookViews.append(document().substr(extraViewStart_, endOffset - extraViewStart_));
            extraViewStart_ = 0;
        }
        if (depth == 3 && section_ == "definedNames" && name == "definedName") {
            collectText = false;
            info.definedNames.back().text = text_;
        }
    }
    void onText(std::string_view text) override {
        if (text_.size() + text.size() > (1u << 20)) fail("a defined name is too long");
        text_.append(text);
    }

    std::string section_;
    std::string text_;
    bool sawView_ = false;
    std::size_t extraViewStart_ = 0;
};

// The tab the tab bar starts at: the one the file named while that sheet is there
// and visible, else the next visible sheet after it, else the first visible one.
std::size_t firstTab(const Book& book, const PackageCarry* carry) {
    const auto& sheets = book.sheets();
    std::size_t first = 0;
    if (auto named = carry ? carry->firstTab.lock() : nullptr) {
        auto it = std::find(sheets.begin(), sheets.end(), named);
        if (it != sheets.end()) first = static_cast<std::size_t>(it - sheets.begin());
    }
    for (std::size_t i = first; i < sheets.size(); ++i)
        if (sheets[i]->isVisible()) return i;
    for (std::size_t i = 0; i < first; ++i)
        if (sheets[i]->isVisible()) return i;
    return 0;
}

}  // namespace

WorkbookInfo readWorkbookPart(std::string_view xml, const std::string& partName, const ReadLimits& limits) {
    WorkbookReader reader;
    reader.parse(xml, partName, limits.maxXmlDepth);
    WorkbookInfo info = std::move(reader.info);
    info.rootStartTag = std::move(reader.rootStartTag);
    info.pieces = std::move(reader.pieces);
    info.unpatchableReason = std::move(reader.unpatchableReason);
    if (info.sheets.empty()) throw XlsxError(partName + ": the workbook has no sheets");
    if (info.sheets.size() > limits.maxSheets) throw XlsxError(partName + ": too many sheets");
    if (info.activeTab >= info.sheets.size()) info.activeTab = 0;
    if (info.firstSheet >= info.sheets.size()) info.firstSheet = 0;
    return info;
}

std::string writeWorkbookPart(const Book& book, const PackageCarry* carry) {
    std::string root;
    std::vector<XmlPiece> pieces;
    if (carry && !carry->workbookRootStartTag.empty()) {
        root = carry->workbookRootStartTag;
        pieces = carry->workbookPieces;
    } else {
        root =
            "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";
        pieces = {{"bookViews", ""}, {"sheets", ""}, {"definedNames", ""}, {"calcPr", "<calcPr calcId=\"191029\"/>"}};
    }
    auto has = [&](std::string_view n) {
        for (const auto& p : pieces)
            if (p.name == n) return true;
        return false;
    };
    auto insertBefore = [&](std::string name, std::initializer_list<std::string_view> later) {
        auto it = pieces.begin();
        for (; it != pieces.end(); ++it) {
            bool isLater = false;
            for (auto l : later) isLater = isLater || it->name == l;
            if (isLater) break;
        }
        pieces.insert(it, XmlPiece{std::move(name), ""});
    };
    if (!has("sheets"))
        insertBefore("sheets", {"functionGroups", "externalReferences", "definedNames", "calcPr", "oleSize",
                                "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes", "webPublishing",
                                "fileRecoveryPr", "webPublishObjects", "extLst"});
    if (!has("bookViews")) insertBefore("bookViews", {"sheets"});
    bool hasDefinedNames = carry && !carry->definedNames.empty();
    if (hasDefinedNames && !has("definedNames"))
        insertBefore("definedNames", {"calcPr", "oleSize", "customWorkbookViews", "pivotCaches", "extLst"});
    const bool prefixR = declaresRelationshipPrefix(root);
    const auto& sheets = book.sheets();

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n" + root;
    for (const auto& p : pieces) {
        if (!p.raw.empty()) {
            out += p.raw;
        } else if (p.name == "bookViews") {
            out += "<bookViews><workbookView";
            bool any = false;
            if (carry) {
                for (const auto& [name, value] : carry->workbookViewAttributes) {
                    out += ' ' + name + "=\"";
                    appendEscapedAttribute(out, value);
                    out += '"';
                    any = true;
                }
            }
            if (!any) out += " xWindow=\"240\" yWindow=\"15\" windowWidth=\"16095\" windowHeight=\"9660\"";
            if (std::size_t first = firstTab(book, carry); first > 0)
                out += " firstSheet=\"" + std::to_string(first) + "\"";
            // The active sheet is a visible one: the workbook's rules keep it so.
            if (book.activeIndex() > 0) out += " activeTab=\"" + std::to_string(book.activeIndex()) + "\"";
            out += "/>";
            if (carry) out += carry->extraWorkbookViews;
            out += "</bookViews>";
        } else if (p.name == "sheets") {
            out += "<sheets>";
            for (const auto& s : sheets) {
                out += "<sheet name=\"";
                appendEscapedAttribute(out, utf16ToUtf8(s->name()));
                out += "\" sheetId=\"" + s->carry->sheetId + "\"";
                if (!s->isVisible()) out += " state=\"" + std::string(stateAttribute(s->visibility())) + "\"";
                out += s->carry->extraSheetAttributes;
                out += prefixR
                           ? " r:id=\""
                           : " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" r:id=\"";
                out += s->carry->relId + "\"/>";
            }
            out += "</sheets>";
        } else if (p.name == "definedNames") {
            if (!hasDefinedNames) continue;
            std::string names;
            for (const auto& n : carry->definedNames) {
                std::string local;
                if (n.isLocal) {
                    auto target = n.localSheet.lock();
                    long index = -1;
                    for (std::size_t i = 0; i < sheets.size(); ++i)
                        if (sheets[i] == target) index = static_cast<long>(i);
                    // A name local to a sheet that is gone goes with it.
                    if (index < 0) continue;
                    local = " localSheetId=\"" + std::to_string(index) + "\"";
                }
                names += "<definedName" + n.attributes + local + ">";
                appendEscaped(names, n.text);
                names += "</definedName>";
            }
            if (!names.empty()) out += "<definedNames>" + names + "</definedNames>";
        }
    }
    auto nameEnd = root.find_first_of(" \t\r\n>", 1);
    out += "</" + root.substr(1, nameEnd - 1) + ">";
    return out;
}

}  // namespace sheet::xlsx
