#include "sheet/xlsx/WorksheetPart.h"

#include "sheet/Automation.h"
#include "sheet/Book.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/PartPieces.h"
#include "sheet/xlsx/SharedStringsPart.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <tuple>
#include <utility>

namespace sheet::xlsx {
namespace {

// The order the format requires for the children of <worksheet>.
constexpr std::array<std::string_view, 38> kChildOrder{"sheetPr",
                                                       "dimension",
                                                       "sheetViews",
                                                       "sheetFormatPr",
                                                       "cols",
                                                       "sheetData",
                                                       "sheetCalcPr",
                                                       "sheetProtection",
                                                       "protectedRanges",
                                                       "scenarios",
                                                       "autoFilter",
                                                       "sortState",
                                                       "dataConsolidate",
                                                       "customSheetViews",
                                                       "mergeCells",
                                                       "phoneticPr",
                                                       "conditionalFormatting",
                                                       "dataValidations",
                                                       "hyperlinks",
                                                       "printOptions",
                                                       "pageMargins",
                                                       "pageSetup",
                                                       "headerFooter",
                                                       "rowBreaks",
                                                       "colBreaks",
                                                       "customProperties",
                                                       "cellWatches",
                                                       "ignoredErrors",
                                                       "smartTags",
                                                       "drawing",
                                                       "legacyDrawing",
                                                       "legacyDrawingHF",
                                                       "drawingHF",
                                                       "picture",
                                                       "oleObjects",
                                                       "controls",
                                                       "webPublishItems",
                                                       "tableParts"};

int childRank(std::string_view name) {
    for (std::size_t i = 0; i < kChildOrder.size(); ++i)
        if (kChildOrder[i] == name) return static_cast<int>(i);
    return static_cast<int>(kChildOrder.size());  // extLst and anything unknown go last
}

std::uint32_t toIndex(std::string_view text, bool& ok) {
    std::uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    ok = ec == std::errc() && end == text.data() + text.size();
    return value;
}

// A name against a literal without a library call: the reader asks this of every
// element, attribute and cell type of a sheet.
template <std::size_t N>
bool is(std::string_view s, const char (&literal)[N]) {
    return s.size() == N - 1 && std::memcmp(s.data(), literal, N - 1) == 0;
}

class WorksheetReader : public PartPiecesReader {
public:
    std::string legacyRelId;

    WorksheetReader(Sheet& sheet, std::string& readOnlyReason)
        : sheet_(sheet), book_(sheet.book()), readOnlyReason_(readOnlyReason) {}

private:
    enum class Text { None, Value, Formula, Inline };

    void onStart(const XmlElement& e) override {
        if (e.depth == 1) {
            if (!is(e.name, "worksheet")) fail("the root element is <" + std::string(e.name) + ">, not <worksheet>");
        }
        if (e.depth == 2) {
            trackStart(e, is(e.name, "sheetData") || is(e.name, "cols") || is(e.name, "dimension") ||
                              is(e.name, "legacyDrawing"));
            if (is(e.name, "legacyDrawing"))
                if (const auto* id = e.attr("id", ns::rel)) legacyRelId.assign(*id);
        } else {
            trackStart(e, false);
        }
        if (e.depth == 3 && is(e.name, "row"))
            startRow(e);
        else if (e.depth == 4 && is(e.name, "c") && inSheetData_)
            startCell(e);
        else if (e.depth == 5 && inCell_)
            startCellChild(e);
        else if (e.depth >= 6 && inInline_) {
            if (is(e.name, "rPh"))
                skipDepth_ = e.depth;
            else if (is(e.name, "r"))
                isRichInline_ = true;
            else if (is(e.name, "t") && skipDepth_ == 0)
                collect(Text::Inline);
        } else if (e.depth == 3 && is(e.name, "col"))
            readColumn(e);
        else if (e.depth == 3 && is(e.name, "mergeCell") && inMergeCells_)
            readMergedArea(e);
        if (e.depth == 2) {
            inSheetData_ = is(e.name, "sheetData");
            inMergeCells_ = is(e.name, "mergeCells");
        }
    }

    void onEnd(std::string_view, std::string_view name, int depth, std::size_t endOffset) override {
        trackEnd(depth, endOffset);
        if (depth == skipDepth_) skipDepth_ = 0;
        if (depth == 2) inSheetData_ = inMergeCells_ = false;
        if (depth == 2 && is(name, "cols")) applyColumnRanges();
        if (collectText && (depth >= 5)) {
            if ((textKind_ == Text::Value && is(name, "v")) || (textKind_ == Text::Formula && is(name, "f")) ||
                (textKind_ == Text::Inline && is(name, "t")))
                collectText = false;
        }
        if (depth == 5 && inCell_ && is(name, "is")) {
            inInline_ = false;
            // Its runs become a shared string item: the content whole, under the
            // namespaces it was written with.
            if (isRichInline_)
                inlineRaw_ =
                    richItem(prefixDeclarationsInScope(), document().substr(inlineStart_, contentEnd() - inlineStart_));
        }
        if (depth == 4 && inCell_) finishCell();
    }

    void onText(std::string_view text) override {
        std::string& target = textKind_ == Text::Formula  ? formulaText_
                              : textKind_ == Text::Inline ? inlineText_
                                                          : valueText_;
        if (target.size() + text.size() > kMaxTextBytes) fail("a cell's text is too long");
        target.append(text);
    }

    void collect(Text kind) {
        textKind_ = kind;
        collectText = true;
    }

    // A merged area, "A1:C2". The list stays in the file as it was read (it is not
    // modelled); an area this reader cannot make out is left to it.
    void readMergedArea(const XmlElement& e) {
        const auto* ref = e.attr("ref");
        if (!ref) return;
        // One cell alone ("F5") is an area of one cell.
        const std::size_t colon = std::min(ref->find(':'), ref->size());
        const auto first = parseCellRef(ref->substr(0, colon));
        const auto last = colon < ref->size() ? parseCellRef(ref->substr(colon + 1)) : first;
        if (!first || !last) return;
        sheet_.mergedAreasForLoad().add(CellRect{std::min(first->row, last->row), std::min(first->column, last->column),
                                                 std::max(first->row, last->row),
                                                 std::max(first->column, last->column)});
    }

    void startRow(const XmlElement& e) {
        std::int32_t row = lastRow_ + 1;
        if (const auto* r = e.attr("r")) {
            bool ok;
            auto v = toIndex(*r, ok);
            if (!ok || v < 1 || v > static_cast<std::uint32_t>(kMaxRows))
                fail("row number " + quotedInput(*r) + " is out of range");
            row = static_cast<std::int32_t>(v);
        }
        if (row > kMaxRows) fail("more rows than a sheet holds");
        // Rows stand in ascending order in every writer's files; one out of place is
        // refused rather than inserted, which would cost a pass over the rows read.
        if (row <= lastRow_)
            fail("row " + std::to_string(row) + " comes after row " + std::to_string(lastRow_) +
                 "; rows must be in ascending order");
        lastRow_ = row;
        lastColumn_ = 0;
        std::string extra;
        bool hasStyle = false, customFormat = false;
        std::uint32_t style = 0;
        for (const auto& a : *e.attributes) {
            if (!a.ns.empty() && a.prefix.empty()) continue;
            if (a.ns.empty() && (is(a.name, "r") || is(a.name, "spans"))) continue;
            if (a.ns.empty() && is(a.name, "s")) {
                bool ok;
                style = toIndex(a.value, ok);
                if (!ok || !book_.styles.isValidFormat(style))
                    fail("row " + std::to_string(row) + " refers to cell format " + quotedInput(a.value) +
                         ", which does not exist");
                hasStyle = true;
                continue;
            }
            if (a.ns.empty() && is(a.name, "customFormat")) {
                customFormat = is(a.value, "1") || is(a.value, "true");
                continue;
            }
            extra += ' ';
            if (!a.prefix.empty()) extra.append(a.prefix).append(":");
            extra.append(a.name).append("=\"");
            appendEscapedAttribute(extra, a.value);
            extra += '"';
        }
        if (!extra.empty() || (hasStyle && customFormat)) {
            LineFormat& f = sheet_.rowFormatForLoad(row);
            f.extraAttributes = std::move(extra);
            f.hasStyle = hasStyle && customFormat;
            f.style = style;
        }
    }

    void startCell(const XmlElement& e) {
        inCell_ = true;
        kind_ = CellKind::Number;
        typeText_ = "n";
        style_ = 0;
        valueText_.clear();
        formulaText_.clear();
        inlineText_.clear();
        inlineRaw_.clear();
        hasValue_ = hasFormula_ = hasInline_ = isRichInline_ = false;
        formulaAttributes_.clear();
        column_ = lastColumn_ + 1;
        for (const auto& a : *e.attributes) {
            if (!a.ns.empty()) continue;
            if (is(a.name, "r")) {
                auto ref = parseCellRef(a.value);
                if (!ref) fail("cell reference " + quotedInput(a.value) + " is not a cell of the sheet");
                if (ref->row != lastRow_)
                    fail("cell " + std::string(a.value) + " stands in row " + std::to_string(lastRow_));
                column_ = ref->column;
            } else if (is(a.name, "s")) {
                bool ok;
                style_ = toIndex(a.value, ok);
                if (!ok || !book_.styles.isValidFormat(style_))
                    fail("cell " + cellRefText(lastRow_, column_) + " refers to cell format " + quotedInput(a.value) +
                         ", which does not exist");
            } else if (is(a.name, "t")) {
                typeText_.assign(a.value);
            } else if ((is(a.name, "cm") || is(a.name, "vm")) && readOnlyReason_.empty()) {
                readOnlyReason_ = "cell " + cellRefText(lastRow_, column_) + " holds rich value metadata";
            }
        }
        if (column_ > kMaxColumns) fail("more columns than a sheet holds in row " + std::to_string(lastRow_));
        if (column_ <= lastColumn_)
            fail("cell " + cellRefText(lastRow_, column_) + " comes after cell " + cellRefText(lastRow_, lastColumn_) +
                 "; the cells of a row must be in column order");
        lastColumn_ = column_;
        if (is(typeText_, "d") && readOnlyReason_.empty())
            readOnlyReason_ = "cell " + cellRefText(lastRow_, column_) + " holds a date written as text";
    }

    void startCellChild(const XmlElement& e) {
        if (is(e.name, "v")) {
            hasValue_ = true;
            collect(Text::Value);
        } else if (is(e.name, "f")) {
            hasFormula_ = true;
            for (const auto& a : *e.attributes)
                if (a.ns.empty()) formulaAttributes_.emplace_back(std::string(a.name), std::string(a.value));
            collect(Text::Formula);
        } else if (is(e.name, "is")) {
            hasInline_ = inInline_ = true;
            inlineStart_ = e.startTagEnd;
        }
    }

    void finishCell() {
        inCell_ = false;
        collectText = false;
        auto where = [&] { return "cell " + cellRefText(lastRow_, column_); };
        Cell& cell = sheet_.cellForLoad(lastRow_, column_);
        cell.style = style_;
        if (is(typeText_, "inlineStr") || (hasInline_ && !hasValue_)) {
            decodeEscapes(inlineText_);
            auto text = utf8ToUtf16(inlineText_);
            cell.kind = CellKind::Text;
            cell.text = book_.strings.addFromFile(text, isRichInline_ ? std::move(inlineRaw_) : std::string());
        } else if (!hasValue_ || (valueText_.empty() && !is(typeText_, "str"))) {
            // Some writers leave a formula's cached value as an empty <v/>.
            cell.kind = CellKind::Empty;
        } else if (is(typeText_, "s")) {
            bool ok;
            auto index = toIndex(valueText_, ok);
            if (!ok || index >= book_.strings.fileCount())
                fail(where() + " refers to shared string " + quotedInput(valueText_) + " of " +
                     std::to_string(book_.strings.fileCount()));
            cell.kind = CellKind::Text;
            cell.text = index;
        } else if (is(typeText_, "str") || is(typeText_, "d")) {
            decodeEscapes(valueText_);
            cell.kind = CellKind::Text;
            cell.text = book_.strings.add(utf8ToUtf16(valueText_));
        } else if (is(typeText_, "b")) {
            if (!is(valueText_, "0") && !is(valueText_, "1"))
                fail(where() + ": " + quotedInput(valueText_) + " is not a Boolean value");
            cell.kind = CellKind::Boolean;
            cell.number = is(valueText_, "1");
        } else if (is(typeText_, "e")) {
            auto e = errorByText(valueText_);
            if (!e) fail(where() + ": " + quotedInput(valueText_) + " is not an error value");
            cell.kind = CellKind::Error;
            cell.error = e->number;
        } else if (is(typeText_, "n")) {
            auto v = parseStoredNumber(valueText_);
            if (!v) fail(where() + ": " + quotedInput(valueText_) + " is not a number");
            cell.kind = CellKind::Number;
            cell.number = *v;
        } else {
            fail(where() + ": unknown cell type " + quotedInput(typeText_));
        }
        if (hasFormula_) {
            Formula f;
            f.text = std::move(formulaText_);
            f.attributes = std::move(formulaAttributes_);
            sheet_.setFormulaForLoad(lastRow_, column_, std::move(f));
            formulaText_.clear();
            formulaAttributes_.clear();
        }
    }

    void readColumn(const XmlElement& e) {
        std::uint32_t min = 0, max = 0;
        bool okMin = false, okMax = false;
        if (const auto* v = e.attr("min")) min = toIndex(*v, okMin);
        if (const auto* v = e.attr("max")) max = toIndex(*v, okMax);
        if (!okMin || !okMax || min < 1 || max < min || max > static_cast<std::uint32_t>(kMaxColumns))
            fail("a column range is out of the sheet's columns");
        LineFormat f;
        for (const auto& a : *e.attributes) {
            if (!a.ns.empty() && a.prefix.empty()) continue;
            if (a.ns.empty() && (is(a.name, "min") || is(a.name, "max"))) continue;
            if (a.ns.empty() && is(a.name, "width")) {
                auto w = parseStoredNumber(a.value);
                if (!w || *w < 0 || *w > 255) fail("column width " + quotedInput(a.value) + " is out of range");
                f.width = *w;
            } else if (a.ns.empty() && is(a.name, "customWidth")) {
                f.isCustomWidth = is(a.value, "1") || is(a.value, "true");
            } else if (a.ns.empty() && is(a.name, "style")) {
                bool ok;
                f.style = toIndex(a.value, ok);
                if (!ok || !book_.styles.isValidFormat(f.style))
                    fail("a column refers to a cell format that does not exist");
                f.hasStyle = true;
            } else {
                f.extraAttributes += ' ';
                if (!a.prefix.empty()) f.extraAttributes.append(a.prefix).append(":");
                f.extraAttributes.append(a.name).append("=\"");
                appendEscapedAttribute(f.extraAttributes, a.value);
                f.extraAttributes += '"';
            }
        }
        columnRanges_.push_back({static_cast<std::int32_t>(min), static_cast<std::int32_t>(max), std::move(f)});
    }

    // Ranges may overlap (a later one wins where they do), and a part may hold far
    // more of them than a sheet has columns: applied from the last one back, each
    // column is given its format once, the columns already given skipped through a
    // next-free-column forest, so the work is linear in ranges plus columns.
    void applyColumnRanges() {
        if (columnRanges_.empty()) return;
        std::vector<std::int32_t> nextFree(static_cast<std::size_t>(kMaxColumns) + 2);
        for (std::size_t i = 0; i < nextFree.size(); ++i) nextFree[i] = static_cast<std::int32_t>(i);
        auto find = [&](std::int32_t c) {
            std::int32_t root = c;
            while (nextFree[root] != root) root = nextFree[root];
            while (nextFree[c] != root) c = std::exchange(nextFree[c], root);
            return root;
        };
        for (auto range = columnRanges_.rbegin(); range != columnRanges_.rend(); ++range) {
            for (std::int32_t c = find(range->min); c <= range->max; c = find(c)) {
                sheet_.columnFormatForLoad(c) = range->format;
                nextFree[c] = c + 1;
            }
        }
        columnRanges_.clear();
    }

    Sheet& sheet_;
    Book& book_;
    std::string& readOnlyReason_;
    bool inSheetData_ = false, inMergeCells_ = false, inCell_ = false, inInline_ = false;
    int skipDepth_ = 0;
    std::int32_t lastRow_ = 0, lastColumn_ = 0, column_ = 0;
    CellKind kind_ = CellKind::Empty;
    std::string typeText_;
    std::uint32_t style_ = 0;
    Text textKind_ = Text::None;
    std::string valueText_, formulaText_, inlineText_, inlineRaw_;
    struct ColumnRange {
        std::int32_t min, max;
        LineFormat format;
    };
    std::vector<ColumnRange> columnRanges_;
    std::size_t inlineStart_ = 0;
    bool hasValue_ = false, hasFormula_ = false, hasInline_ = false, isRichInline_ = false;
    std::vector<std::pair<std::string, std::string>> formulaAttributes_;
};

void appendInt(std::string& out, std::int64_t value) {
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, end);
}

void writeColumns(std::string& out, const Sheet& sheet) {
    const auto& cols = sheet.columnFormats();
    auto isPlain = [](const LineFormat& f) { return f.width < 0 && !f.hasStyle && f.extraAttributes.empty(); };
    auto same = [](const LineFormat& a, const LineFormat& b) {
        return a.width == b.width && a.isCustomWidth == b.isCustomWidth && a.hasStyle == b.hasStyle &&
               a.style == b.style && a.extraAttributes == b.extraAttributes;
    };
    bool any = std::any_of(cols.begin(), cols.end(), [&](const LineFormat& f) { return !isPlain(f); });
    if (!any) return;
    out += "<cols>";
    for (std::size_t i = 0; i < cols.size();) {
        std::size_t j = i + 1;
        while (j < cols.size() && same(cols[j], cols[i])) ++j;
        const LineFormat& f = cols[i];
        if (!isPlain(f)) {
            out += "<col min=\"";
            appendInt(out, static_cast<std::int64_t>(i + 1));
            out += "\" max=\"";
            appendInt(out, static_cast<std::int64_t>(j));
            out += '"';
            // A column needs a width; the default one stands in when only a format is set.
            out += " width=\"";
            appendStoredNumber(out, f.width >= 0 ? f.width : 9.140625);
            out += '"';
            if (f.hasStyle) {
                out += " style=\"";
                appendInt(out, f.style);
                out += '"';
            }
            if (f.isCustomWidth) out += " customWidth=\"1\"";
            out += f.extraAttributes;
            out += "/>";
        }
        i = j;
    }
    out += "</cols>";
}

void writeCells(std::string& out, const Sheet& sheet, const StringPool::Layout& strings, const PartSink& sink) {
    const std::uint32_t fileCount = sheet.book().strings.fileCount();
    const auto& rows = sheet.rows();
    const auto& rowFormats = sheet.rowFormats();
    std::vector<std::int32_t> formatOnlyRows;
    for (const auto& [row, f] : rowFormats)
        if (const Sheet::Row* cells = sheet.findRow(row); !cells || cells->empty()) formatOnlyRows.push_back(row);
    std::sort(formatOnlyRows.begin(), formatOnlyRows.end());
    auto nextFormatOnly = formatOnlyRows.begin();

    auto writeRowStart = [&](std::int32_t r, bool isEmpty) {
        out += "<row r=\"";
        appendInt(out, r);
        out += '"';
        if (auto it = rowFormats.find(r); it != rowFormats.end()) {
            if (it->second.hasStyle) {
                out += " s=\"";
                appendInt(out, it->second.style);
                out += "\" customFormat=\"1\"";
            }
            out += it->second.extraAttributes;
        }
        out += isEmpty ? "/>" : ">";
    };

    // The plain cells of a row are put together in a buffer of their own and
    // appended at once, the fixed markup copied without a capacity check for each
    // piece: they are the cells of nearly every sheet.
    constexpr std::size_t kLongestPlainCell = 96;
    std::vector<char> rowText;
    out += "<sheetData>";
    for (const Sheet::RowCells& entry : rows) {
        const std::int32_t r = entry.row;
        while (nextFormatOnly != formatOnlyRows.end() && *nextFormatOnly < r) writeRowStart(*nextFormatOnly++, true);
        const Sheet::Row& row = entry.cells;
        if (row.empty()) continue;
        if (sink && out.size() >= kPartPieceBytes) sink(out);
        if (out.capacity() - out.size() < 64 * row.size() + 256) out.reserve(out.capacity() * 2 + 64 * row.size());
        writeRowStart(r, false);
        if (rowText.size() < kLongestPlainCell * row.size()) rowText.resize(kLongestPlainCell * row.size());
        char* p = rowText.data();
        auto flush = [&] {
            out.append(rowText.data(), p);
            p = rowText.data();
        };
        for (const Cell& c : row) {
            const Formula* f = (c.flags & Cell::kHasFormula) ? sheet.formula(r, c.column) : nullptr;
            if (c.kind == CellKind::Empty && !f && c.style == 0) continue;
            if (!f && c.kind != CellKind::Error) {
                auto put = [&p](std::string_view s) {
                    std::memcpy(p, s.data(), s.size());
                    p += s.size();
                };
                put("<c r=\"");
                p = putCellRef(p, r, c.column);
                *p++ = '"';
                if (c.style != 0) {
                    put(" s=\"");
                    p = std::to_chars(p, p + 10, c.style).ptr;
                    *p++ = '"';
                }
                if (c.kind == CellKind::Text) put(" t=\"s\"");
                if (c.kind == CellKind::Boolean) put(" t=\"b\"");
                switch (c.kind) {
                case CellKind::Empty:
                    put("/>");
                    break;
                case CellKind::Number:
                    put("><v>");
                    p = std::to_chars(p, p + 32, c.number).ptr;
                    put("</v></c>");
                    break;
                case CellKind::Text:
                    put("><v>");
                    p = std::to_chars(p, p + 10, c.text < fileCount ? c.text : strings.indexOf[c.text - fileCount]).ptr;
                    put("</v></c>");
                    break;
                default:
                    put(c.number != 0 ? "><v>1</v></c>" : "><v>0</v></c>");
                    break;
                }
                continue;
            }
            flush();
            out += "<c r=\"";
            appendCellRef(out, r, c.column);
            out += '"';
            if (c.style != 0) {
                out += " s=\"";
                appendInt(out, c.style);
                out += '"';
            }
            switch (c.kind) {
            case CellKind::Text:
                out += f ? " t=\"str\"" : " t=\"s\"";
                break;
            case CellKind::Boolean:
                out += " t=\"b\"";
                break;
            case CellKind::Error:
                out += " t=\"e\"";
                break;
            default:
                break;
            }
            if (c.kind == CellKind::Empty && !f) {
                out += "/>";
                continue;
            }
            out += '>';
            if (f) {
                out += "<f";
                for (const auto& [name, value] : f->attributes) {
                    out += ' ';
                    out += name;
                    out += "=\"";
                    appendEscapedAttribute(out, value);
                    out += '"';
                }
                out += '>';
                appendEscaped(out, f->text);
                out += "</f>";
            }
            switch (c.kind) {
            case CellKind::Empty:
                break;
            case CellKind::Number:
                out += "<v>";
                appendStoredNumber(out, c.number);
                out += "</v>";
                break;
            case CellKind::Text:
                out += "<v>";
                if (f)
                    appendEscaped(out, utf16ToUtf8(sheet.book().strings.text(c.text)));
                else
                    appendInt(out, c.text < fileCount ? c.text : strings.indexOf[c.text - fileCount]);
                out += "</v>";
                break;
            case CellKind::Boolean:
                out += c.number != 0 ? "<v>1</v>" : "<v>0</v>";
                break;
            case CellKind::Error:
                out += "<v>";
                if (auto e = errorByNumber(c.error))
                    out += e->text;
                else
                    out += "#VALUE!";
                out += "</v>";
                break;
            }
            out += "</c>";
        }
        flush();
        out += "</row>";
    }
    while (nextFormatOnly != formatOnlyRows.end()) writeRowStart(*nextFormatOnly++, true);
    out += "</sheetData>";
}

constexpr std::string_view kDefaultRoot =
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";

const XmlPiece* carriedViews(const Sheet& sheet) {
    if (!sheet.carry) return nullptr;
    for (const auto& p : sheet.carry->pieces)
        if (p.name == "sheetViews" && !p.raw.empty()) return &p;
    return nullptr;
}

// Where a tabSelected="1" (or "true") attribute of a <sheetView> starts in raw, at
// the blank before it, and its length; npos when there is none from `from` on.
std::pair<std::size_t, std::size_t> tabSelectedAttribute(std::string_view raw, std::size_t from = 0) {
    constexpr std::string_view name = "tabSelected";
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (std::size_t at = raw.find(name, from); at != std::string_view::npos; at = raw.find(name, at + 1)) {
        std::size_t start = at;
        while (start > 0 && isBlank(raw[start - 1])) --start;
        if (start == at) continue;  // the end of a longer name
        std::size_t i = at + name.size();
        while (i < raw.size() && isBlank(raw[i])) ++i;
        if (i >= raw.size() || raw[i] != '=') continue;
        ++i;
        while (i < raw.size() && isBlank(raw[i])) ++i;
        if (i >= raw.size() || (raw[i] != '"' && raw[i] != '\'')) continue;
        const std::size_t end = raw.find(raw[i], i + 1);
        if (end == std::string_view::npos) break;
        const std::string_view value = raw.substr(i + 1, end - i - 1);
        if (value == "1" || value == "true") return {start, end + 1 - start};
    }
    return {std::string_view::npos, 0};
}

}  // namespace

bool isHiddenButSelected(const Sheet& sheet) {
    if (sheet.isVisible()) return false;
    const XmlPiece* views = carriedViews(sheet);
    return views && tabSelectedAttribute(views->raw).first != std::string_view::npos;
}

void readWorksheet(std::string_view xml, const std::string& partName, Sheet& sheet, const ReadLimits& limits,
                   std::string& readOnlyReason) {
    WorksheetReader reader(sheet, readOnlyReason);
    reader.parse(xml, partName, limits.maxXmlDepth);
    if (!sheet.carry) sheet.carry = std::make_shared<SheetCarry>();
    sheet.carry->rootStartTag = std::move(reader.rootStartTag);
    sheet.carry->pieces = std::move(reader.pieces);
    sheet.carry->legacyRelId = std::move(reader.legacyRelId);
    if (!reader.unpatchableReason.empty() && readOnlyReason.empty())
        readOnlyReason = partName + ": " + reader.unpatchableReason;
    sheet.finishLoad();
}

std::string writeWorksheet(const Sheet& sheet, bool isActive, const std::string& legacyDrawingRelId,
                           const StringPool::Layout& strings, const PartSink& sink) {
    std::vector<XmlPiece> pieces;
    std::string root;
    if (sheet.carry && !sheet.carry->rootStartTag.empty()) {
        root = sheet.carry->rootStartTag;
        pieces = sheet.carry->pieces;
    } else {
        root = kDefaultRoot;
        pieces = {
            {"dimension", ""},
            {"sheetViews", std::string("<sheetViews><sheetView ") + (isActive ? "tabSelected=\"1\" " : "") +
                               "workbookViewId=\"0\"/></sheetViews>"},
            {"sheetFormatPr", "<sheetFormatPr defaultRowHeight=\"15\"/>"},
            {"sheetData", ""},
            {"pageMargins",
             "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>"}};
    }
    auto insertByRank = [&](std::string name) {
        int rank = childRank(name);
        auto it =
            std::find_if(pieces.begin(), pieces.end(), [&](const XmlPiece& p) { return childRank(p.name) > rank; });
        pieces.insert(it, XmlPiece{std::move(name), ""});
    };
    auto has = [&](std::string_view name) {
        return std::any_of(pieces.begin(), pieces.end(), [&](const XmlPiece& p) { return p.name == name; });
    };
    if (!has("cols")) insertByRank("cols");
    if (!has("sheetData")) insertByRank("sheetData");
    pieces.erase(
        std::remove_if(pieces.begin(), pieces.end(), [](const XmlPiece& p) { return p.name == "legacyDrawing"; }),
        pieces.end());
    if (!legacyDrawingRelId.empty()) insertByRank("legacyDrawing");
    if (!isActive && !sheet.isVisible())
        for (auto& p : pieces)
            if (p.name == "sheetViews")
                for (auto [at, length] = tabSelectedAttribute(p.raw); at != std::string::npos;
                     std::tie(at, length) = tabSelectedAttribute(p.raw, at))
                    p.raw.erase(at, length);

    std::string out;
    out.reserve(1 << 16);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    out += root;
    for (const XmlPiece& p : pieces) {
        if (!p.raw.empty()) {
            out += p.raw;
        } else if (p.name == "dimension") {
            std::int32_t maxRow = sheet.maxRow(), maxCol = sheet.maxColumn();
            out += "<dimension ref=\"";
            if (maxRow == 0) {
                out += "A1";
            } else {
                out += "A1:";
                appendCellRef(out, maxRow, std::max(maxCol, 1));
            }
            out += "\"/>";
        } else if (p.name == "cols") {
            writeColumns(out, sheet);
        } else if (p.name == "sheetData") {
            writeCells(out, sheet, strings, sink);
        } else if (p.name == "legacyDrawing" && !legacyDrawingRelId.empty()) {
            out += "<legacyDrawing ";
            if (!declaresRelationshipPrefix(root))
                out += "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" ";
            out += "r:id=\"" + legacyDrawingRelId + "\"/>";
        }
    }
    auto nameEnd = root.find_first_of(" \t\r\n>", 1);
    out += "</" + root.substr(1, nameEnd - 1) + ">";
    return out;
}

}  // namespace sheet::xlsx
