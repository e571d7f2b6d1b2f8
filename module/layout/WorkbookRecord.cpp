#include "module/layout/WorkbookRecord.h"

#include "host/db/AcDbDatabase.h"
#include "host/db/AcUnits.h"
#include "module/drawing/TagText.h"
#include "module/spreadsheet/Automation.h"
#include "module/spreadsheet/CellBlock.h"
#include "module/spreadsheet/CellValue.h"
#include "platform/ComError.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>

namespace tabro {

namespace {

using platform::Variant;

// Rows 1-8: what the record is and where its workbook came from; row 9 the drawing's
// path in a register of several drawings (empty otherwise); sections from row 10.
constexpr char kRecordTitle[] = "Tablora record";
constexpr char kRecordFormat[] = "1";
constexpr std::int32_t kFirstSectionRow = 10;
constexpr std::int32_t kRowsPerBlock = 1024;
constexpr char kSectionMark[] = "*";

const char* const kPropertyKeys[] = {"x", "y", "z", "rotation", "scalex", "scaley", "scalez", "layer", "layout"};
constexpr char kBlockKey[] = "block";
constexpr char kDrawingKey[] = "drawing";

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameFileName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string textOf(const Variant& value) {
    if (value.vt() == VT_EMPTY || value.vt() == VT_ERROR) return {};
    Variant copy = value;
    if (!toTextInPlace(copy)) return {};
    return toMultibyte(copy.bstrVal());
}

bool readInt(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 3) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    out = v;
    return true;
}

// One block of rows of texts written into the record sheet as one Value call, in
// the text format: a number-like text the export wrote ("007") stays that text.
void writeRows(IDispatch* sheet, std::int32_t top, std::vector<std::vector<std::string>>& rows, std::int32_t width) {
    if (rows.empty() || width < 1) return;
    const auto count = static_cast<std::int32_t>(rows.size());
    DispatchPtr target = xl::area(sheet, top, 1, top + count - 1, width);
    xl::setNumberFormat(target.get(), u"@");
    CellBlock block(count, width);
    for (std::int32_t r = 0; r < count; ++r)
        for (std::size_t c = 0; c < rows[static_cast<std::size_t>(r)].size(); ++c)
            if (!rows[static_cast<std::size_t>(r)][c].empty())
                block.at(r + 1, static_cast<LONG>(c) + 1) = Variant::bstr(toWide(rows[static_cast<std::size_t>(r)][c]));
    xl::setValue(target.get(), block.take());
}

// A record row is one cell: its fields joined by tabs, a tab, line break or
// backslash within a field escaped. One cell a reference keeps the record small:
// a cell per field would double the workbook.
void appendField(std::string& out, std::string_view field) {
    if (!out.empty()) out += '\t';
    if (field.find_first_of("\\\t\n\r") == std::string_view::npos) {
        out += field;
        return;
    }
    for (char c : field) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

std::vector<std::string> splitFields(std::string_view packed) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < packed.size(); ++i) {
        const char c = packed[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < packed.size()) {
            const char e = packed[++i];
            fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

LONG usedColumns(IDispatch* sheet) {
    DispatchPtr used = xl::usedRange(sheet);
    if (!used) return 0;
    const LONG left = xl::column(used.get());
    return left - 1 + xl::count(xl::columns(used.get()).get());
}

// A fingerprint of zeros is what writers that make none put there (every drawing
// of such a writer would be the same drawing): it names nothing.
bool namesADrawing(const std::string& guid) {
    return std::any_of(guid.begin(), guid.end(), [](char c) { return c >= '1' && c <= '9'; }) ||
           std::any_of(guid.begin(), guid.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

}  // namespace

DrawingIdentity DrawingIdentity::ofWorkingDrawing() {
    DrawingIdentity identity;
    if (AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase()) {
        if (std::string guid = db->fingerprintGuid(); namesADrawing(guid)) identity.fingerprint = std::move(guid);
        identity.fileName = baseName(db->fileName());
    }
    return identity;
}

DrawingIdentity DrawingIdentity::ofWorkingDrawing(IDispatch* workbook) {
    DrawingIdentity identity = ofWorkingDrawing();
    if (AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase())
        identity.path = registerPathOf(db->fileName(), workbook ? toMultibyte(xl::fullName(workbook)) : std::string());
    return identity;
}

bool DrawingIdentity::isSameDrawing(const DrawingIdentity& other) const {
    // The drawings of a register are often copies of one template, which share its
    // fingerprint: there the path tells them apart, and a fingerprint that differs
    // still tells a drawing replaced under the same name.
    if (!path.empty() && !other.path.empty()) {
        if (path != other.path) return false;
        return fingerprint.empty() || other.fingerprint.empty() || sameFileName(fingerprint, other.fingerprint);
    }
    if (!fingerprint.empty() && !other.fingerprint.empty()) return sameFileName(fingerprint, other.fingerprint);
    return sameFileName(fileName, other.fileName);
}

namespace {

std::filesystem::path normalPath(const std::string& text) {
    std::string slashed = text;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(slashed), error);
    if (error) absolute = std::filesystem::path(slashed);
    return absolute.lexically_normal();
}

std::string folderOf(const std::string& workbookPath) {
    const std::size_t slash = workbookPath.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : workbookPath.substr(0, slash + 1);
}

}  // namespace

std::string registerPathOf(const std::string& drawingFile, const std::string& workbookPath) {
    if (drawingFile.empty()) return {};
    const std::string folder = folderOf(workbookPath);
    // A workbook never saved has no folder: the drawing's own name is all a row
    // can say of it.
    if (folder.empty()) return baseName(drawingFile);
    const std::filesystem::path relative = normalPath(drawingFile).lexically_relative(normalPath(folder));
    if (relative.empty()) return normalPath(drawingFile).generic_string();
    return relative.generic_string();
}

bool namesDrawing(const std::string& cellText, const std::string& drawingFile, const std::string& workbookPath) {
    std::string text(trimBlanks(cellText));
    if (text.empty() || drawingFile.empty()) return false;
    std::replace(text.begin(), text.end(), '\\', '/');
    const std::string folder = folderOf(workbookPath);
    std::filesystem::path named(text);
    if (named.is_relative()) {
        if (folder.empty()) return sameFileName(baseName(text), baseName(drawingFile)) && text == baseName(text);
        named = std::filesystem::path(folder) / named;
    }
    const std::filesystem::path a = normalPath(named.string()), b = normalPath(drawingFile);
    if (a == b) return true;
    // The same file reached through a link to a folder; resolving links costs a
    // system call a folder, and an import asks of every drawing its register names.
    if (a.filename() != b.filename()) return false;
    std::error_code e1, e2;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(a, e1),
                                cb = std::filesystem::weakly_canonical(b, e2);
    return !e1 && !e2 && ca == cb;
}

std::string resolveRegisterPath(const std::string& cellText, const std::string& workbookPath) {
    std::string text(trimBlanks(cellText));
    std::replace(text.begin(), text.end(), '\\', '/');
    std::filesystem::path named(text);
    if (named.is_relative()) named = std::filesystem::path(folderOf(workbookPath)) / named;
    return normalPath(named.string()).string();
}

std::string DrawingIdentity::shownName() const { return fileName.empty() ? fingerprint : fileName; }

CellWriting CellWriting::ofWorkingDrawing(bool jtsk) {
    CellWriting w;
    w.jtsk = jtsk;
    if (AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase()) {
        w.lunits = db->lunits();
        w.luprec = db->luprec();
        w.aunits = db->aunits();
        w.auprec = db->auprec();
    }
    return w;
}

std::string CellWriting::distanceText(double value) const {
    char text[512];
    if (acdbRToS(value, lunits, luprec, text, sizeof text) != RTNORM) return {};
    return text;
}

std::string CellWriting::angleText(double radians) const {
    char text[512];
    if (acdbAngToS(radians, aunits, auprec, text, sizeof text) != RTNORM) return {};
    return text;
}

bool CellWriting::readDistance(std::string_view text, double& out) const {
    const std::string whole(trimBlanks(text));
    if (whole.empty()) return false;
    double v = 0;
    if (acdbDisToF(whole.c_str(), lunits, &v) != RTNORM && acdbDisToF(whole.c_str(), 2, &v) != RTNORM) return false;
    if (!std::isfinite(v)) return false;
    out = v;
    return true;
}

bool CellWriting::readAngle(std::string_view text, double& out) const {
    const std::string whole(trimBlanks(text));
    if (whole.empty()) return false;
    double v = 0;
    if (acdbAngToF(whole.c_str(), aunits, &v) != RTNORM || !std::isfinite(v)) return false;
    out = v;
    return true;
}

std::string recordKeyOf(ColumnRole role, int scaleSlot, std::string_view tag) {
    switch (role) {
    case ColumnRole::Attribute:
        return "@" + std::string(tag);
    case ColumnRole::BlockName:
        return kBlockKey;
    case ColumnRole::X:
        return kPropertyKeys[0];
    case ColumnRole::Y:
        return kPropertyKeys[1];
    case ColumnRole::Z:
        return kPropertyKeys[2];
    case ColumnRole::Rotation:
        return kPropertyKeys[3];
    case ColumnRole::Scale:
        return kPropertyKeys[4 + std::clamp(scaleSlot, 0, 2)];
    case ColumnRole::Layer:
        return kPropertyKeys[7];
    case ColumnRole::Layout:
        return kPropertyKeys[8];
    case ColumnRole::Parameter:
        return "%" + std::string(tag);
    case ColumnRole::Drawing:
        return kDrawingKey;
    }
    return {};
}

std::string titleOfRecordKey(std::string_view key, const ExportTexts& texts) {
    if (!key.empty() && (key[0] == '@' || key[0] == '%')) return std::string(key.substr(1));
    if (key == kBlockKey) return texts.blockNameTitle;
    if (key == kDrawingKey) return texts.drawingTitle;
    for (int c = 0; c < static_cast<int>(PropertyColumn::Count); ++c)
        if (key == kPropertyKeys[c]) return texts.titles[c];
    return std::string(key);
}

std::vector<std::string> recordKeysOf(std::span<const std::string> titles, std::span<const std::string> markers,
                                      const ExportTexts& texts, bool blockNames) {
    std::vector<std::string> keys;
    keys.reserve(titles.size());
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const std::string marker = i < markers.size() ? markers[i] : std::string();
        if (!marker.empty()) {
            std::string key;
            for (int c = 0; c < static_cast<int>(PropertyColumn::Count); ++c)
                if (texts.markers[c] == marker) key = kPropertyKeys[c];
            if (marker == texts.parameterMarker) key = recordKeyOf(ColumnRole::Parameter, 0, titles[i]);
            if (marker == texts.drawingMarker) key = kDrawingKey;
            keys.push_back(key);
        } else if (i == 0 && blockNames) {
            keys.push_back(kBlockKey);
        } else {
            keys.push_back("@" + titles[i]);
        }
    }
    return keys;
}

std::string handleKey(std::string_view handle) {
    std::string out(trimBlanks(handle));
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::size_t WorkbookRecord::Entry::count() const {
    return static_cast<std::size_t>(std::count(values.begin(), values.end(), '\0'));
}

std::string_view WorkbookRecord::Entry::at(std::size_t i) const {
    std::size_t start = 0;
    for (; i > 0; --i) {
        start = values.find('\0', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    const std::size_t end = values.find('\0', start);
    if (end == std::string::npos) return {};
    return std::string_view(values).substr(start, end - start);
}

namespace {
std::string joined(std::span<const std::string> values) {
    std::size_t size = 0;
    for (const std::string& v : values) size += v.size() + 1;
    std::string out;
    out.reserve(size);
    for (const std::string& v : values) {
        // A NUL cannot come from a drawing; one typed into the record ends the text there.
        const std::size_t nul = v.find('\0');
        out.append(v.data(), nul == std::string::npos ? v.size() : nul);
        out.push_back('\0');
    }
    return out;
}
}  // namespace

void WorkbookRecord::beginSection(std::string block, std::vector<std::string> keys) {
    sections_.push_back(Section{std::move(block), std::move(keys)});
}

void WorkbookRecord::addKey(std::string key) {
    if (!sections_.empty()) sections_.back().keys.push_back(std::move(key));
}

void WorkbookRecord::add(std::string_view handle, std::span<const std::string> values) {
    if (sections_.empty()) return;
    std::string key = handleKey(handle);
    Entry entry;
    entry.section = static_cast<std::uint32_t>(sections_.size() - 1);
    entry.values = joined(values);
    auto [it, added] = byHandle_.try_emplace(std::move(key), entries_.size());
    if (added)
        entries_.push_back(std::move(entry));
    else
        entries_[it->second] = std::move(entry);  // the last row written for it is the drawing's now
}

void WorkbookRecord::keepOthers(const WorkbookRecord& other) {
    std::vector<std::uint32_t> sectionMap(other.sections_.size(), UINT32_MAX);
    for (const auto& [handle, index] : other.byHandle_) {
        if (byHandle_.count(handle)) continue;
        const Entry& theirs = other.entries_[index];
        std::uint32_t& mine = sectionMap[theirs.section];
        if (mine == UINT32_MAX) {
            mine = static_cast<std::uint32_t>(sections_.size());
            sections_.push_back(other.sections_[theirs.section]);
        }
        Entry entry;
        entry.section = mine;
        entry.values = theirs.values;
        entry.superseded = theirs.superseded;
        byHandle_.emplace(handle, entries_.size());
        entries_.push_back(std::move(entry));
    }
}

const WorkbookRecord::Entry* WorkbookRecord::find(std::string_view handle) const {
    auto it = byHandle_.find(handleKey(handle));
    return it == byHandle_.end() ? nullptr : &entries_[it->second];
}

std::optional<std::size_t> WorkbookRecord::keyIndex(const Section& section, std::string_view key,
                                                    int occurrence) const {
    const bool isTag = !key.empty() && key[0] == '@';
    const std::string tag = isTag ? std::string(key.substr(1)) : std::string();
    for (std::size_t i = 0; i < section.keys.size(); ++i) {
        const std::string& k = section.keys[i];
        const bool same = isTag ? (!k.empty() && k[0] == '@' && sameTagText(k.c_str() + 1, tag.c_str())) : k == key;
        if (same && occurrence-- == 0) return i;
    }
    return std::nullopt;
}

std::optional<std::string_view> WorkbookRecord::valueOf(const Entry& entry, std::string_view key,
                                                        int occurrence) const {
    std::optional<std::size_t> i = keyIndex(sections_[entry.section], key, occurrence);
    if (!i) return std::nullopt;
    return entry.at(*i);
}

std::vector<std::string_view> WorkbookRecord::earlierValuesOf(const Entry& entry, std::string_view key,
                                                              int occurrence) const {
    std::vector<std::string_view> out;
    if (entry.superseded.empty()) return out;
    std::optional<std::size_t> i = keyIndex(sections_[entry.section], key, occurrence);
    if (!i) return out;
    for (const auto& [index, text] : entry.superseded)
        if (index == *i) out.emplace_back(text);
    return out;
}

bool isRecordSheetName(std::u16string_view name) {
    const std::u16string_view base(kRecordSheetName);
    if (name.size() < base.size() || name.substr(0, base.size()) != base) return false;
    if (name.size() == base.size()) return true;
    // "Tablora record 2" and on: a register keeps one record a drawing.
    if (name[base.size()] != u' ' || name.size() == base.size() + 1) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(base.size()) + 1, name.end(),
                       [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

DispatchPtr findRecordSheet(IDispatch* workbook) {
    if (!workbook) return {};
    DispatchPtr sheets = xl::worksheets(workbook);
    for (LONG i = 1, n = xl::count(sheets.get()); i <= n; ++i) {
        DispatchPtr sheet = xl::item(sheets.get(), i);
        if (sameText(xl::name(sheet.get()), kRecordSheetName)) return sheet;
    }
    return {};
}

std::vector<DispatchPtr> recordSheets(IDispatch* workbook) {
    std::vector<DispatchPtr> found;
    if (!workbook) return found;
    DispatchPtr sheets = xl::worksheets(workbook);
    for (LONG i = 1, n = xl::count(sheets.get()); i <= n; ++i) {
        DispatchPtr sheet = xl::item(sheets.get(), i);
        if (isRecordSheetName(xl::name(sheet.get()))) found.push_back(std::move(sheet));
    }
    return found;
}

std::optional<WorkbookRecord> WorkbookRecord::read(IDispatch* workbook, std::string* problem, bool withEntries) {
    return readSheet(findRecordSheet(workbook), problem, withEntries);
}

std::optional<WorkbookRecord> WorkbookRecord::readOf(IDispatch* workbook, const DrawingIdentity& drawing,
                                                     std::string* problem, bool withEntries, bool* hasOthers) {
    std::vector<DispatchPtr> sheets = recordSheets(workbook);
    if (hasOthers) *hasOthers = false;
    if (sheets.size() == 1) return readSheet(sheets.front(), problem, withEntries);
    for (const DispatchPtr& sheet : sheets) {
        std::optional<WorkbookRecord> record = readSheet(sheet, nullptr, false);
        if (!record || !record->identity.isSameDrawing(drawing)) continue;
        if (withEntries && !record->loadEntries(problem)) return std::nullopt;
        return record;
    }
    if (hasOthers) *hasOthers = !sheets.empty();
    return std::nullopt;
}

std::optional<WorkbookRecord> WorkbookRecord::readSheet(DispatchPtr sheet, std::string* problem, bool withEntries) {
    if (!sheet) return std::nullopt;
    WorkbookRecord record;
    record.hasEntries_ = false;
    record.sheet_ = sheet;
    record.lastRow_ = std::min<LONG>(xl::lastUsedRow(sheet.get()), xl::kLastRow);
    record.width_ = std::min<LONG>(usedColumns(sheet.get()), xl::kLastColumn);
    if (record.lastRow_ < kFirstSectionRow - 2 || record.width_ < 2) {
        if (problem) *problem = "it is not a record";
        return std::nullopt;
    }
    if (!record.readRows(1, std::min<LONG>(record.lastRow_, kFirstSectionRow - 1), problem)) return std::nullopt;
    if (withEntries && !record.loadEntries(problem)) return std::nullopt;
    return record;
}

bool WorkbookRecord::loadEntries(std::string* problem) {
    if (hasEntries_) return true;
    hasEntries_ = true;
    return !sheet_ || lastRow_ < kFirstSectionRow || readRows(kFirstSectionRow, lastRow_, problem);
}

bool WorkbookRecord::readRows(LONG from, LONG to, std::string* problem) {
    auto fail = [&](const char* why) {
        if (problem) *problem = why;
        return false;
    };
    bool haveSection = !sections_.empty();
    for (LONG top = from; top <= to; top += kRowsPerBlock) {
        const LONG bottom = std::min<LONG>(to, top + kRowsPerBlock - 1);
        DispatchPtr area = xl::area(sheet_.get(), top, 1, bottom, width_);
        std::optional<CellValues> block = CellValues::from(xl::value(area.get()), bottom - top + 1, width_);
        if (!block) return fail("its cells cannot be read");
        for (LONG r = top; r <= bottom; ++r) {
            auto cellText = [&](LONG c) { return textOf(block->at(r - top + 1, c)); };
            const std::string first = cellText(1);
            if (r < kFirstSectionRow) {
                const std::string second = cellText(2);
                bool ok = true;
                switch (r) {
                case 1:
                    ok = first == kRecordTitle && second == kRecordFormat;
                    break;
                case 2:
                    identity.fingerprint = second;
                    break;
                case 3:
                    identity.fileName = second;
                    break;
                case 4:
                    ok = second == "0" || second == "1";
                    writing.jtsk = second == "1";
                    break;
                case 5:
                    ok = readInt(second, 1, 5, writing.lunits);
                    break;
                case 6:
                    ok = readInt(second, 0, 8, writing.luprec);
                    break;
                case 7:
                    ok = readInt(second, 0, 4, writing.aunits);
                    break;
                case 8:
                    ok = readInt(second, 0, 8, writing.auprec);
                    break;
                case 9:
                    // Empty in a record of one drawing's export; a record written
                    // before the row had a meaning has it empty too.
                    if (first == "path") identity.path = second;
                    break;
                default:
                    break;
                }
                if (!ok) return fail("its first rows were changed");
                continue;
            }
            if (first.empty()) continue;
            std::vector<std::string> fields = splitFields(first);
            if (fields[0] == kSectionMark) {
                if (fields.size() < 2) return fail("a block's row has no block");
                std::vector<std::string> keys(std::make_move_iterator(fields.begin() + 2),
                                              std::make_move_iterator(fields.end()));
                beginSection(std::move(fields[1]), std::move(keys));
                haveSection = true;
                continue;
            }
            if (!haveSection) return fail("a row stands before any block");
            const std::size_t keys = sections_.back().keys.size();
            const std::size_t valueCount = std::min(keys, fields.size() - 1);
            add(fields[0], std::span<const std::string>(fields).subspan(1, valueCount));
            Entry& entry = entries_[byHandle_[handleKey(fields[0])]];
            entry.recordRow = static_cast<std::int32_t>(r);
            // After the values: "index=text" for each text an import replaced.
            for (std::size_t f = 1 + valueCount; f < fields.size(); ++f) {
                const std::string& earlier = fields[f];
                const std::size_t equals = earlier.find('=');
                int index = 0;
                if (equals == std::string::npos ||
                    !readInt(earlier.substr(0, equals), 0, static_cast<int>(keys) - 1, index))
                    continue;
                entry.superseded.emplace_back(static_cast<std::uint32_t>(index), earlier.substr(equals + 1));
            }
        }
    }
    return true;
}

bool WorkbookRecord::write(IDispatch* workbook, bool besideOthers) {
    DispatchPtr sheet;
    std::u16string newName = kRecordSheetName;
    if (besideOthers) {
        // This drawing's own record sheet, else a new one after the others'.
        std::vector<DispatchPtr> sheets = recordSheets(workbook);
        for (const DispatchPtr& candidate : sheets) {
            std::optional<WorkbookRecord> other = readSheet(candidate, nullptr, false);
            if (other && other->identity.isSameDrawing(identity)) {
                sheet = candidate;
                break;
            }
        }
        if (!sheet && !sheets.empty()) {
            for (std::size_t n = sheets.size() + 1;; ++n) {
                newName = std::u16string(kRecordSheetName) + u" " + toWide(std::to_string(n));
                if (std::none_of(sheets.begin(), sheets.end(),
                                 [&](const DispatchPtr& s) { return sameText(xl::name(s.get()), newName); }))
                    break;
            }
        }
    } else {
        sheet = findRecordSheet(workbook);
    }
    LONG oldLastRow = 0;
    if (sheet) {
        // A sheet of that name the user made for something else is no record to
        // write over; one that starts as a record is ours, however it was damaged.
        DispatchPtr cells = xl::cells(sheet.get());
        const std::string title = textOf(xl::value(xl::cell(cells.get(), 1, 1).get()));
        oldLastRow = xl::lastUsedRow(sheet.get());
        const bool isEmpty = oldLastRow <= 1 && title.empty() && usedColumns(sheet.get()) <= 1;
        if (title != kRecordTitle && !isEmpty) return false;
    } else {
        DispatchPtr active = xl::activeSheet(workbook);
        sheet = xl::addWorksheet(xl::worksheets(workbook).get());
        xl::setName(sheet.get(), newName);
        xl::setSheetVisibility(sheet.get(), xl::kSheetHidden);
        if (active) xl::activate(active.get());
    }
    constexpr std::int32_t width = 2;
    std::vector<std::vector<std::string>> rows;
    rows.push_back({kRecordTitle, kRecordFormat});
    rows.push_back({"drawing", identity.fingerprint});
    rows.push_back({"file", identity.fileName});
    rows.push_back({"JTSK", writing.jtsk ? "1" : "0"});
    rows.push_back({"LUNITS", std::to_string(writing.lunits)});
    rows.push_back({"LUPREC", std::to_string(writing.luprec)});
    rows.push_back({"AUNITS", std::to_string(writing.aunits)});
    rows.push_back({"AUPREC", std::to_string(writing.auprec)});
    if (identity.path.empty())
        rows.push_back({});
    else
        rows.push_back({"path", identity.path});
    std::int32_t top = 1;
    auto flush = [&] {
        writeRows(sheet.get(), top, rows, width);
        top += static_cast<std::int32_t>(rows.size());
        rows.clear();
    };
    // Entries in the order of their sections, each section's key row first.
    std::vector<std::vector<std::size_t>> bySection(sections_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) bySection[entries_[i].section].push_back(i);
    std::vector<const std::string*> handles(entries_.size());
    for (const auto& [handle, index] : byHandle_) handles[index] = &handle;
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        if (bySection[s].empty()) continue;
        std::string keyRow;
        appendField(keyRow, kSectionMark);
        appendField(keyRow, sections_[s].block);
        for (const std::string& key : sections_[s].keys) appendField(keyRow, key);
        rows.push_back({std::move(keyRow)});
        for (std::size_t index : bySection[s]) {
            Entry& entry = entries_[index];
            std::string packed = packedEntry(*handles[index], entry);
            // A row longer than a cell holds is not recorded: it imports as a row of
            // a workbook without a record.
            if (isTooLongForRecordCell(packed)) {
                entry.recordRow = 0;
                continue;
            }
            entry.recordRow = top + static_cast<std::int32_t>(rows.size());
            rows.push_back({std::move(packed)});
            if (rows.size() >= static_cast<std::size_t>(kRowsPerBlock)) flush();
        }
    }
    flush();
    // What an earlier, longer record left below is cleared.
    for (LONG r = top; r <= oldLastRow; r += kRowsPerBlock) {
        const LONG bottom = std::min<LONG>(oldLastRow, r + kRowsPerBlock - 1);
        DispatchPtr area = xl::area(sheet.get(), r, 1, bottom, static_cast<LONG>(std::max<std::size_t>(width, 2)));
        CellBlock empty(bottom - r + 1, static_cast<LONG>(width));
        xl::setValue(area.get(), empty.take());
    }
    return true;
}

void WorkbookRecord::update(std::string_view handle, std::string_view key, int occurrence, const std::string& value) {
    auto it = byHandle_.find(handleKey(handle));
    if (it == byHandle_.end()) return;
    Entry& entry = entries_[it->second];
    std::optional<std::size_t> i = keyIndex(sections_[entry.section], key, occurrence);
    if (!i) return;
    if (entry.at(*i) == value) return;
    entry.superseded.emplace_back(static_cast<std::uint32_t>(*i), std::string(entry.at(*i)));
    std::vector<std::string> values;
    for (std::size_t k = 0, n = std::max(entry.count(), *i + 1); k < n; ++k) values.emplace_back(entry.at(k));
    values[*i] = value;
    entry.values = joined(values);
    if (entry.recordRow > 0) changed_.push_back(it->second);
}

void WorkbookRecord::writeUpdates(IDispatch* recordSheet) {
    if (changed_.empty()) return;
    std::vector<std::size_t> changed;
    changed.swap(changed_);
    if (!recordSheet) return;
    std::sort(changed.begin(), changed.end(),
              [&](std::size_t a, std::size_t b) { return entries_[a].recordRow < entries_[b].recordRow; });
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    std::vector<const std::string*> handles(entries_.size());
    for (const auto& [handle, index] : byHandle_) handles[index] = &handle;
    // Rows that follow one another go as one block: an import that changed every
    // reference writes the record in a few calls, not one a reference.
    std::vector<std::vector<std::string>> run;
    std::int32_t top = 0;
    auto flush = [&] {
        writeRows(recordSheet, top, run, 1);
        run.clear();
    };
    for (std::size_t index : changed) {
        const Entry& entry = entries_[index];
        std::string packed = packedEntry(*handles[index], entry);
        if (isTooLongForRecordCell(packed)) continue;  // the cell keeps what it had: an edit again, never a loss
        if (!run.empty() && (entry.recordRow != top + static_cast<std::int32_t>(run.size()) ||
                             run.size() >= static_cast<std::size_t>(kRowsPerBlock)))
            flush();
        if (run.empty()) top = entry.recordRow;
        run.push_back({std::move(packed)});
    }
    flush();
}

std::string WorkbookRecord::packedEntry(const std::string& handle, const Entry& entry) const {
    std::string packed;
    packed.reserve(handle.size() + entry.values.size() + 8);
    appendField(packed, handle);
    // The values one after another, each found from the end of the one before.
    const std::size_t keys = sections_[entry.section].keys.size();
    std::string_view rest = entry.values;
    for (std::size_t i = 0; i < keys; ++i) {
        const std::size_t end = rest.find('\0');
        if (end == std::string_view::npos) {
            appendField(packed, {});
            continue;
        }
        appendField(packed, rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    for (const auto& [at, text] : entry.superseded) appendField(packed, std::to_string(at) + "=" + text);
    return packed;
}

bool WorkbookRecord::isTooLongForRecordCell(const std::string& packed) {
    constexpr std::size_t kMostCellCharacters = 32767;
    return packed.size() > kMostCellCharacters && toWide(packed).size() > kMostCellCharacters;
}

}  // namespace tabro
