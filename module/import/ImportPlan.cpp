#include "module/import/ImportPlan.h"

#include "host/Editor.h"
#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbSymbolTables.h"
#include "module/base/ErrorReports.h"
#include "module/base/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "module/drawing/DrawingText.h"
#include "module/drawing/ReferenceEditor.h"
#include "module/drawing/TagText.h"
#include "module/import/ImportReport.h"
#include "module/layout/ExportRow.h"
#include "module/layout/PropertyText.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

namespace tabro {

namespace {

// Block names compare as the block table compares them: without regard to case.
bool sameBlockName(const std::string& a, const std::string& b) { return sameTagText(a, b); }

bool drawingHasBlock(const std::string& name) {
    AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
    if (!db || name.empty()) return false;
    AcDbBlockTable* raw = nullptr;
    if (db->getSymbolTable(raw, AcDb::kForRead) != Acad::eOk || !raw) return false;
    AcDbObjectPointer<AcDbBlockTable> table;
    table.adopt(raw);
    return table->has(name.c_str());
}

// The drawing's value of a row's parameter cells, read from the reference once.
class ParameterTexts {
public:
    std::optional<std::string> of(const AcDbBlockReference* reference, const ImportRow::ParameterCell& cell,
                                  const NumberTexts& numbers) {
        if (!reference) return std::nullopt;
        if (!columns_) {
            columns_.emplace();
            readParameterTexts(*reference, *columns_, numbers, texts_);
        }
        int k = cell.occurrence;
        for (std::size_t i = 0; i < columns_->labels.size(); ++i)
            if (columns_->labels[i] == cell.label && k-- == 0) return texts_[i];
        return std::nullopt;
    }

private:
    std::optional<ParameterColumns> columns_;
    std::vector<std::string> texts_;
};

// One cell that asks for a change, with what applying it needs.
struct Proposal {
    enum class Kind { Attribute, Coordinate, Scale, Rotation, Layer };
    Kind kind = Kind::Attribute;
    int axis = 0;  // Coordinate, Scale
    std::uint32_t sheet = 0;
    std::int32_t row = 0, column = 0;
    std::string key;  // record key
    int occurrence = 0;
    std::string tag, value;           // Attribute: the tag and cell text; Layer: the layer
    double cellNumber = 0;            // Attribute: the number the cell held (NaN: text); others: the cell's value
    double target = 0;                // Coordinate, Scale, Rotation: the value to set
    std::string before, after, note;  // as the preview shows them
};

bool sameRequest(const Proposal& a, const Proposal& b) {
    switch (a.kind) {
    case Proposal::Kind::Coordinate:
    case Proposal::Kind::Scale:
    case Proposal::Kind::Rotation:
        return a.target == b.target;
    default:
        return a.value == b.value;
    }
}

bool sameCell(const Proposal& a, const Proposal& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == Proposal::Kind::Attribute) return a.occurrence == b.occurrence && sameTagText(a.tag, b.tag);
    return a.axis == b.axis;
}

}  // namespace

struct ImportPlanner::Impl {
    Impl(const PlanSettings& s, ImportReport& r)
        : settings(s), report(r), texts(ExportTexts::load()), record(s.record) {}

    const PlanSettings& settings;
    ImportReport& report;
    const ExportTexts texts;
    std::vector<std::string> sheets;
    std::unordered_map<std::string, std::vector<Proposal>> proposals;  // by handle
    std::unordered_map<std::string, std::string> blockOf;              // of each handle asked to change
    std::vector<std::string> order;                                    // handles, as first asked for
    std::map<std::string, bool> blockNames;
    // The record, its entries read once a row asks for a change; null when there is
    // none or it cannot be read.
    WorkbookRecord* record;

    // Edits a column never applies (the block name, the layout), counted per sheet
    // and column and said once; and header cells already named for holding a tag
    // that another column of the same header holds too.
    struct ColumnNote {
        std::int32_t headerRow = 0;
        long edits = 0;
        UINT reason = 0;
    };
    std::map<std::pair<std::uint32_t, std::int32_t>, ColumnNote> columnNotes;
    std::set<std::tuple<std::uint32_t, std::int32_t, std::int32_t>> namedTitles;

    void noteColumnEdit(std::uint32_t sheet, const ImportRow& row, std::int32_t column, UINT reason) {
        ColumnNote& note = columnNotes[{sheet, column}];
        if (note.edits++ == 0) {
            note.headerRow = row.headerRow;
            note.reason = reason;
        }
    }

    // The reference of the rows being added: held open for read while rows of the
    // same handle follow one another; what is read of it is read once, when needed.
    std::string handle;
    Acad::ErrorStatus openStatus = Acad::eOk;
    ReferenceEditor editor;
    std::string block;
    bool haveAttributes = false, haveDefinitions = false;
    std::vector<ReferenceAttribute> attributes;
    std::size_t attributeCount = 0;
    std::vector<AttributeRecord> definitions;

    void open(const std::string& key, const std::string& handleText) {
        if (key == handle) return;
        handle = key;
        haveAttributes = haveDefinitions = false;
        block.clear();
        openStatus = editor.open(handleText, AcDb::kForRead);
        if (openStatus == Acad::eOk && editor.reference() && !blockNameOf(placedBlockOf(*editor.reference()), block))
            block.clear();
    }

    const ReferenceAttribute* attribute(const std::string& tag, int k) {
        if (!haveAttributes) {
            haveAttributes = true;
            if (!readReferenceAttributes(*editor.reference(), attributes, attributeCount)) attributeCount = 0;
        }
        for (std::size_t i = 0; i < attributeCount; ++i)
            if (sameTagText(attributes[i].tag, tag) && k-- == 0) return &attributes[i];
        return nullptr;
    }

    std::size_t attributesOf(const std::string& tag) {
        std::size_t n = 0;
        while (attribute(tag, static_cast<int>(n))) ++n;
        return n;
    }

    bool knowsTag(const std::string& tag) {
        if (!haveDefinitions) {
            haveDefinitions = true;
            if (!collectDefinitionRecords(placedBlockOf(*editor.reference()), definitions)) definitions.clear();
        }
        for (const AttributeRecord& d : definitions)
            if (sameTagText(d.tag, tag)) return true;
        return attribute(tag, 0) != nullptr;
    }

    const std::string& activeLayout() {
        if (!activeLayout_) {
            const char* name = acdbHostApplicationServices()->layoutManager()->findActiveLayout(true);
            activeLayout_ = name ? name : "";
        }
        return *activeLayout_;
    }
    std::optional<std::string> activeLayout_;

    // Whether the drawing has a block of that name (a sheet's, a cell's), asked once.
    bool hasBlock(const std::string& name) {
        auto it = blockNames.find(name);
        if (it == blockNames.end()) it = blockNames.emplace(name, drawingHasBlock(name)).first;
        return it->second;
    }

    void refuse(const ImportRow& row, std::int32_t column, const std::string& reason) {
        report.cellNotApplied(row.sheetRow, column, kTextReasonAsGiven, reason);
    }

    // Whether the row belongs to the reference's block: the row's block-name cell,
    // else the block the record has for the handle, else the block its sheet is named
    // after, else its attribute columns, which must be mostly the block's (a column
    // the user added is no reason to refuse a row; a row whose tags the block lacks
    // is another block's).
    bool belongs(const ImportRow& row, const std::string& sheet, std::uint32_t sheetIndex,
                 const WorkbookRecord::Entry* entry) {
        std::optional<std::string> expected;
        std::int32_t column = row.handleColumn;
        if (row.blockName && entry && !sameBlockName(*row.blockName, block) && !hasBlock(*row.blockName) &&
            sameBlockName(record->sectionOf(*entry).block, block)) {
            // The record says the row was exported for the reference's block, and the
            // cell names no block at all: it was edited, which changes nothing in the
            // drawing. A cell naming another block of the drawing says the row is that
            // block's (a handle pasted into another block's row), and refuses it.
            noteColumnEdit(sheetIndex, row, row.blockNameColumn, kTextReasonBlockNameEdits);
            return true;
        }
        if (row.blockName) {
            expected = *row.blockName;
            column = row.blockNameColumn;
        } else if (entry) {
            expected = record->sectionOf(*entry).block;
        } else if (hasBlock(sheet)) {
            expected = sheet;
        }
        if (expected) {
            if (sameBlockName(*expected, block)) return true;
            refuse(row, column,
                   formatText(kTextReasonNotOfBlock, cutForMessage(*expected).c_str(), cutForMessage(block).c_str()));
            return false;
        }
        std::size_t known = 0, unknown = 0;
        const std::string* firstUnknown = nullptr;
        for (std::size_t i = 0; i < row.tags.size(); ++i) {
            if (row.values[i].empty()) continue;
            if (knowsTag(row.tags[i])) {
                ++known;
            } else if (++unknown == 1) {
                firstUnknown = &row.tags[i];
                column = row.valueColumns[i];
            }
        }
        if (unknown == 0 || unknown < known) return true;
        refuse(row, column,
               formatText(kTextReasonNotTheBlocksColumns, cutForMessage(block).c_str(),
                          cutForMessage(*firstUnknown).c_str()));
        return false;
    }

    // The three-way rule for one edited cell (the sheet no longer says what the
    // record has): true when it is to be written. Without a record any difference
    // from the drawing is an edit.
    bool decide(const ImportRow& row, Proposal& p, const std::optional<std::string>& was, bool sheetIsDrawing,
                bool drawingIsBase) {
        if (sheetIsDrawing) return false;
        if (!was || drawingIsBase) return true;
        if (settings.takeSheetOnConflict) {
            p.note = formatText(kTextConflictTaken, cutForMessage(*was).c_str(), cutForMessage(p.before).c_str());
            return true;
        }
        refuse(row, p.column,
               formatText(kTextReasonConflict, cutForMessage(*was).c_str(), cutForMessage(p.after).c_str(),
                          cutForMessage(p.before).c_str()));
        return false;
    }

    void reportProblems(const ImportRow& row) {
        for (const CellProblem& p : row.problems)
            if (!(settings.ignoreProps && p.isProperty))
                report.cellNotApplied(row.sheetRow, p.column, p.reason, p.subject);
    }

    // Whether any cell of the row asks for something the drawing does not hold.
    bool differsFromDrawing(const ImportRow& row) {
        for (std::size_t i = 0; i < row.tags.size(); ++i) {
            const int k = i < row.occurrences.size() ? row.occurrences[i] : 0;
            const ReferenceAttribute* now = attribute(row.tags[i], k);
            const double number = i < row.valueNumbers.size() ? row.valueNumbers[i] : std::nan("");
            if (now ? !isAttributeUnedited(row.values[i], number, now->text.c_str()) : !row.values[i].empty())
                return true;
        }
        // A parameter cell is never applied, but its edit is named: a row whose only
        // edit is one differs all the same.
        ParameterTexts current;
        for (const ImportRow::ParameterCell& cell : row.parameters) {
            const std::optional<std::string> now = current.of(editor.reference(), cell, drawingNumberTexts());
            if (!now || !isAttributeUnedited(cell.text, cell.number, now->c_str())) return true;
        }
        return !settings.ignoreProps && propertiesDiffer(row);
    }

    // Whether a position, scale, rotation or layer cell says something else than the
    // reference has.
    bool propertiesDiffer(const ImportRow& row) {
        AcDbBlockReference* reference = editor.reference();
        const AcGePoint3d p = reference->position();
        const AcGeScale3d s = reference->scaleFactors();
        const double positions[3] = {p.x, p.y, p.z}, scales[3] = {s.sx, s.sy, s.sz};
        for (int i = 0; i < 3; ++i) {
            if (row.hasCoordinate[i] && std::isfinite(row.position[i]) &&
                coordinateFromCell(row.position[i], positions[i], settings.writing.jtsk) != positions[i])
                return true;
            if (row.hasScale[i] && std::isfinite(row.scale[i]) &&
                distanceFromCell(row.scale[i], scales[i]) != scales[i])
                return true;
        }
        if (row.hasRotation && std::isfinite(row.rotation) &&
            angleFromCell(row.rotation, reference->rotation()) != reference->rotation())
            return true;
        if (row.layer) {
            AcutString layer(reference->layer());
            if (*row.layer != layer.get()) return true;
        }
        return false;
    }

    // A tag titling more columns of the header than the reference has attributes of
    // it: a user's column took the title (a copy kept as old values, a column of
    // their own). Which column is the real one cannot be told, so none is applied;
    // the header cells are named once.
    bool isTakenTitle(const ImportRow& row, std::uint32_t sheet, std::size_t i) {
        const int columns = i < row.tagColumns.size() ? row.tagColumns[i] : 1;
        if (columns <= 1) return false;
        const std::size_t attributes = attributesOf(row.tags[i]);
        if (static_cast<std::size_t>(columns) <= attributes) return false;
        if (namedTitles.emplace(sheet, row.headerRow, row.valueColumns[i]).second) {
            std::string list;
            for (std::size_t j = 0; j < row.tags.size(); ++j) {
                if (!sameTagText(row.tags[j], row.tags[i])) continue;
                if (!list.empty()) list += ", ";
                list += cellAddress(row.headerRow, row.valueColumns[j]);
            }
            report.cellNotApplied(row.headerRow, row.valueColumns[i], kTextReasonAsGiven,
                                  formatText(kTextReasonSameTitle, cutForMessage(row.tags[i]).c_str(), list.c_str(),
                                             static_cast<long>(attributes)));
        }
        return true;
    }

    // Whether the row has a column of `key` (the occurrence-th of it).
    static bool hasColumnOf(const ImportRow& row, const std::string& key, int occurrence) {
        if (!key.empty() && key[0] == '@') {
            const std::string tag = key.substr(1);
            for (std::size_t i = 0; i < row.tags.size(); ++i)
                if (row.occurrences[i] == occurrence && sameTagText(row.tags[i], tag)) return true;
            return false;
        }
        for (int axis = 0; axis < 3; ++axis) {
            if (key == recordKeyOf(static_cast<ColumnRole>(static_cast<int>(ColumnRole::X) + axis), 0, {}))
                return row.coordinateColumn[axis] != 0;
            if (key == recordKeyOf(ColumnRole::Scale, axis, {})) return row.scaleColumn[axis] != 0;
        }
        if (key == recordKeyOf(ColumnRole::Rotation, 0, {})) return row.rotationColumn != 0;
        if (key == recordKeyOf(ColumnRole::Layer, 0, {})) return row.layerColumn != 0;
        if (key == recordKeyOf(ColumnRole::Layout, 0, {})) return row.layoutColumn != 0;
        if (key == recordKeyOf(ColumnRole::BlockName, 0, {})) return row.blockNameColumn != 0;
        if (key == recordKeyOf(ColumnRole::Drawing, 0, {})) return row.drawingColumn != 0;
        return true;
    }

    // Cells under an empty header cell are not applied. One is named when it stands
    // where export wrote a column the header no longer titles (the title was cleared,
    // or a merged title covers it) and says something else than export wrote; a
    // spacer or notes column the user inserted shifts the columns after it, which
    // keep their titles, and is left alone.
    void nameUntitledEdits(const ImportRow& row, const WorkbookRecord::Entry* entry) {
        if (!entry || row.untitledCells.empty()) return;
        const std::vector<std::string>& keys = record->sectionOf(*entry).keys;
        for (const auto& [column, text] : row.untitledCells) {
            const std::int32_t i = column - row.handleColumn;
            if (i < 0 || static_cast<std::size_t>(i) >= keys.size()) continue;
            const std::string& key = keys[static_cast<std::size_t>(i)];
            const int occurrence = static_cast<int>(std::count(keys.begin(), keys.begin() + i, key));
            if (hasColumnOf(row, key, occurrence)) continue;
            if (std::string_view(entry->at(static_cast<std::size_t>(i))) == text) continue;
            report.cellNotApplied(row.sheetRow, column, kTextReasonUntitledColumn, titleOfRecordKey(key, texts));
        }
    }

    // A dynamic block's parameters are shown, not written back: a cell that says
    // something else than export wrote (or, without a record, than the drawing
    // has) is named, whatever the IgnoreProps setting says.
    template <class Base>
    void nameParameterEdits(const ImportRow& row, Base&& base) {
        if (row.parameters.empty()) return;
        ParameterTexts current;
        for (const ImportRow::ParameterCell& cell : row.parameters) {
            std::optional<std::string> was = base(recordKeyOf(ColumnRole::Parameter, 0, cell.label), cell.occurrence);
            if (!was) was = current.of(editor.reference(), cell, drawingNumberTexts());
            if (was && isAttributeUnedited(cell.text, cell.number, was->c_str())) continue;
            refuse(row, cell.column, resourceStrings().load(kTextReasonParameterReadOnly));
        }
    }

    // A text the drawing keeps only in part is still written (the user asked for it),
    // and named, so that what the drawing holds is no surprise.
    void nameWhatTheDrawingCannotHold(std::int32_t sheetRow, std::int32_t column, const std::string& text) {
        const TextFit fit = fitAttributeText(text);
        if (fit.isCut)
            report.note(sheetRow, column, formatText(kTextReasonTextCut, std::to_string(fit.keptCharacters).c_str()));
        if (fit.isReplaced) report.note(sheetRow, column, formatText(kTextReasonTextReplaced, fit.replaced.c_str()));
    }

    void propose(const ImportRow& row, std::uint32_t sheet, const WorkbookRecord::Entry* entry,
                 std::vector<Proposal>& out) {
        reportProblems(row);
        const WorkbookRecord* recorded = entry ? record : nullptr;
        auto base = [&](const std::string& key, int k) -> std::optional<std::string> {
            if (!recorded) return std::nullopt;
            std::optional<std::string_view> v = recorded->valueOf(*entry, key, k);
            return v ? std::optional<std::string>(std::string(*v)) : std::nullopt;
        };
        // Whether the cell says what the record has, or had before an import.
        auto saysRecorded = [&](const std::optional<std::string>& was, const std::string& key, int k, auto&& same) {
            if (!was) return false;
            if (same(*was)) return true;
            for (std::string_view earlier : recorded->earlierValuesOf(*entry, key, k))
                if (same(std::string(earlier))) return true;
            return false;
        };
        // An import wrote the cell's text and the drawing holds an earlier one again
        // (an UNDO, another program putting it back): the cell is no edit, yet
        // nothing says the drawing should keep what it holds; it is named.
        auto wentBack = [&](const std::optional<std::string>& was, const std::string& key, int k) {
            return was && !recorded->earlierValuesOf(*entry, key, k).empty();
        };
        auto nameWentBack = [&](const ImportRow& r, std::int32_t column, const std::string& wrote,
                                const std::string& cell, const std::string& now, const std::string& key, int k,
                                const WorkbookRecord::Entry* e) {
            if (now == wrote || cell != wrote) return;
            for (std::string_view earlier : recorded->earlierValuesOf(*e, key, k))
                if (earlier == now) {
                    refuse(r, column,
                           formatText(kTextReasonWentBack, cutForMessage(now).c_str(), cutForMessage(wrote).c_str()));
                    return;
                }
        };
        auto proposal = [&](Proposal::Kind kind, std::int32_t column) {
            Proposal p;
            p.kind = kind;
            p.sheet = sheet;
            p.row = row.sheetRow;
            p.column = column;
            return p;
        };

        nameUntitledEdits(row, entry);
        if (row.layout && recorded) {
            const std::optional<std::string> was = base(recordKeyOf(ColumnRole::Layout, 0, {}), 0);
            if (was && *was != *row.layout) noteColumnEdit(sheet, row, row.layoutColumn, kTextReasonLayoutEdits);
        }
        for (std::size_t i = 0; i < row.tags.size(); ++i) {
            const int k = i < row.occurrences.size() ? row.occurrences[i] : 0;
            if (isTakenTitle(row, sheet, i)) continue;
            const std::string key = recordKeyOf(ColumnRole::Attribute, 0, row.tags[i]);
            const std::string& cell = row.values[i];
            const double number = i < row.valueNumbers.size() ? row.valueNumbers[i] : std::nan("");
            const std::optional<std::string> was = base(key, k);
            if (saysRecorded(was, key, k,
                             [&](const std::string& t) { return isAttributeUnedited(cell, number, t.c_str()); })) {
                if (const ReferenceAttribute* now = wentBack(was, key, k) ? attribute(row.tags[i], k) : nullptr)
                    nameWentBack(row, row.valueColumns[i], *was, cell, now->text, key, k, entry);
                continue;
            }
            Proposal p = proposal(Proposal::Kind::Attribute, row.valueColumns[i]);
            p.key = key;
            p.occurrence = k;
            p.tag = row.tags[i];
            p.value = cell;
            p.cellNumber = number;
            p.after = cell;
            const ReferenceAttribute* now = attribute(row.tags[i], k);
            // No attribute to write to: applying names the cell.
            if (now) {
                p.before = now->text;
                if (!decide(row, p, was, isAttributeUnedited(cell, number, now->text.c_str()),
                            was && isAttributeUnedited(*was, std::nan(""), now->text.c_str())))
                    continue;
                nameWhatTheDrawingCannotHold(row.sheetRow, p.column, cell);
            }
            out.push_back(std::move(p));
        }
        nameParameterEdits(row, base);
        if (settings.ignoreProps) return;

        const CellWriting& w = settings.writing;
        AcDbBlockReference* reference = editor.reference();
        // A number cell: unedited when its text is what export wrote, or it reads as
        // the same number; the drawing unchanged when it still writes as that text.
        auto number = [&](Proposal::Kind kind, int axis, ColumnRole role, int scaleSlot, std::int32_t column,
                          double cell, const std::string& cellText, double current, double target, bool isAngle,
                          bool survey) {
            const std::string key = recordKeyOf(role, scaleSlot, {});
            const std::optional<std::string> was = base(key, 0);
            auto reads = [&](const std::string& t) {
                if (!cellText.empty() && trimBlanks(cellText) == trimBlanks(t)) return true;
                double recorded = 0;
                return (isAngle ? w.readAngle(t, recorded) : w.readDistance(t, recorded)) && recorded == cell;
            };
            if (saysRecorded(was, key, 0, reads)) return;
            if (target == current) return;  // the cell says what the drawing holds
            Proposal p = proposal(kind, column);
            p.axis = axis;
            p.key = key;
            p.cellNumber = cell;
            p.target = target;
            const double shown = survey ? surveyCoordinate(current, w.jtsk) : current;
            p.before = isAngle ? w.angleText(shown) : w.distanceText(shown);
            p.after = isAngle ? w.angleText(cell) : w.distanceText(cell);
            if (decide(row, p, was, false, was && p.before == *was)) out.push_back(std::move(p));
        };
        const AcGePoint3d position = reference->position();
        const AcGeScale3d scale = reference->scaleFactors();
        const double positions[3] = {position.x, position.y, position.z};
        const double scales[3] = {scale.sx, scale.sy, scale.sz};
        const ColumnRole axes[3] = {ColumnRole::X, ColumnRole::Y, ColumnRole::Z};
        for (int i = 0; i < 3; ++i)
            if (row.hasCoordinate[i] && std::isfinite(row.position[i]))
                number(Proposal::Kind::Coordinate, i, axes[i], 0, row.coordinateColumn[i], row.position[i],
                       row.positionText[i], positions[i], coordinateFromCell(row.position[i], positions[i], w.jtsk),
                       false, true);
        for (int i = 0; i < 3; ++i)
            if (row.hasScale[i] && std::isfinite(row.scale[i]))
                number(Proposal::Kind::Scale, i, ColumnRole::Scale, i, row.scaleColumn[i], row.scale[i],
                       row.scaleText[i], scales[i], distanceFromCell(row.scale[i], scales[i]), false, false);
        if (row.hasRotation && std::isfinite(row.rotation)) {
            const double current = reference->rotation();
            number(Proposal::Kind::Rotation, 0, ColumnRole::Rotation, 0, row.rotationColumn, row.rotation,
                   row.rotationText, current, angleFromCell(row.rotation, current), true, false);
        }
        if (row.layer) {
            const std::string key = recordKeyOf(ColumnRole::Layer, 0, {});
            const std::optional<std::string> was = base(key, 0);
            if (saysRecorded(was, key, 0, [&](const std::string& t) { return t == *row.layer; })) {
                if (wentBack(was, key, 0)) {
                    AcutString layer(reference->layer());
                    nameWentBack(row, row.layerColumn, *was, *row.layer, layer.get(), key, 0, entry);
                }
            } else {
                AcutString layer(reference->layer());
                Proposal p = proposal(Proposal::Kind::Layer, row.layerColumn);
                p.key = key;
                p.value = *row.layer;
                p.before = layer.get();
                p.after = *row.layer;
                if (decide(row, p, was, p.before == p.after, was && *was == p.before)) out.push_back(std::move(p));
            }
        }
    }

    void add(const ImportRow& row, const std::string& sheet) {
        if (sheets.empty() || sheets.back() != sheet) sheets.push_back(sheet);
        const auto sheetIndex = static_cast<std::uint32_t>(sheets.size() - 1);
        std::string key = handleKey(row.handle);
        open(key, row.handle);
        if (openStatus != Acad::eOk) {
            report.handleNotFound(row.sheetRow);
            return;
        }
        if (!editor.reference()) {
            report.cellNotApplied(row.sheetRow, row.handleColumn, kTextReasonNotAReference);
            return;
        }
        if (row.isEmptied) {
            // Emptying every cell of a row is how a user takes it out of the sheet;
            // it is not read as a request to empty the reference.
            if (differsFromDrawing(row)) report.rowNotImported(row.sheetRow, row.handleColumn, kTextReasonEmptiedRow);
            return;
        }
        // The setting leaves property cells alone; that they said something else is
        // told once, so that an edited X is not taken for an applied one.
        if (settings.ignoreProps && !report.propertyEditsIgnored && propertiesDiffer(row))
            report.propertyEditsIgnored = true;
        if (record && !record->hasEntries()) {
            // Until a cell differs from the drawing the record's entries are not
            // needed: an import of an unedited sheet never reads them.
            const bool namesOtherBlock = row.blockName && !sameBlockName(*row.blockName, block);
            // Export writes the active layout's name: a cell that still says it needs
            // no record to tell that it was not edited.
            const bool mayHoldEdits = !row.untitledCells.empty() || (row.layout && *row.layout != activeLayout());
            if (!differsFromDrawing(row) && !namesOtherBlock && !mayHoldEdits) {
                if (belongs(row, sheet, sheetIndex, nullptr)) reportProblems(row);
                return;
            }
            std::string problem;
            if (!record->loadEntries(&problem)) {
                acutPrintf("%s", formatText(kTextRecordUnreadable, problem.c_str()).c_str());
                record = nullptr;
            }
        }
        const WorkbookRecord::Entry* entry = record ? record->find(key) : nullptr;
        if (!belongs(row, sheet, sheetIndex, entry)) return;
        // A handle the record has under another block than the reference's is no
        // entry of it (the handle was given again after an erase).
        if (entry && !sameBlockName(record->sectionOf(*entry).block, block)) entry = nullptr;
        std::vector<Proposal>& list = proposals[key];
        const std::size_t before = list.size();
        propose(row, sheetIndex, entry, list);
        if (before == 0 && !list.empty()) {
            blockOf.emplace(key, block);
            order.push_back(std::move(key));
        }
    }

    std::string titleOf(const Proposal& p) const {
        switch (p.kind) {
        case Proposal::Kind::Attribute:
            return p.tag;
        case Proposal::Kind::Coordinate:
            return texts.title(static_cast<PropertyColumn>(static_cast<int>(PropertyColumn::X) + p.axis));
        case Proposal::Kind::Scale:
            return texts.title(static_cast<PropertyColumn>(static_cast<int>(PropertyColumn::ScaleX) + p.axis));
        case Proposal::Kind::Rotation:
            return texts.title(PropertyColumn::Rotation);
        case Proposal::Kind::Layer:
            return texts.title(PropertyColumn::Layer);
        }
        return {};
    }

    // Puts one agreed cell into the row that is applied.
    static void place(const Proposal& p, PlannedRow& planned) {
        ImportRow& row = planned.row;
        switch (p.kind) {
        case Proposal::Kind::Attribute:
            row.tags.push_back(p.tag);
            row.values.push_back(p.value);
            row.valueColumns.push_back(p.column);
            row.occurrences.push_back(p.occurrence);
            row.valueNumbers.push_back(p.cellNumber);
            break;
        case Proposal::Kind::Coordinate:
            row.position[p.axis] = p.cellNumber;
            row.hasCoordinate[p.axis] = true;
            row.coordinateColumn[p.axis] = p.column;
            ++row.positionCount;
            break;
        case Proposal::Kind::Scale:
            row.scale[p.axis] = p.cellNumber;
            row.hasScale[p.axis] = true;
            row.scaleColumn[p.axis] = p.column;
            break;
        case Proposal::Kind::Rotation:
            row.rotation = p.cellNumber;
            row.hasRotation = true;
            row.rotationColumn = p.column;
            break;
        case Proposal::Kind::Layer:
            row.layer = p.value;
            row.layerColumn = p.column;
            break;
        }
        planned.keys.emplace_back(p.key, p.occurrence);
    }

    // Cells several rows ask for: one change when they agree, none when not, each
    // disagreeing row named with the others.
    void plan(std::vector<PlannedRow>& planned, std::vector<PlannedChange>& changes) {
        editor.close();
        handle.clear();
        for (const auto& [where, note] : columnNotes) {
            report.setSheet(sheets[where.first]);
            const UINT one = note.reason == kTextReasonLayoutEdits ? kTextReasonLayoutEdit : kTextReasonBlockNameEdit;
            report.note(note.headerRow, where.second, formatText(pluralText(note.edits, one, note.reason), note.edits));
        }
        for (const std::string& key : order) {
            std::vector<Proposal>& list = proposals[key];
            std::vector<bool> taken(list.size(), false);
            PlannedRow out;
            for (std::size_t a = 0; a < list.size(); ++a) {
                if (taken[a]) continue;
                std::vector<std::size_t> same{a};
                for (std::size_t b = a + 1; b < list.size(); ++b)
                    if (!taken[b] && sameCell(list[a], list[b])) same.push_back(b);
                for (std::size_t b : same) taken[b] = true;
                const bool agree =
                    std::all_of(same.begin(), same.end(), [&](std::size_t b) { return sameRequest(list[b], list[a]); });
                if (!agree) {
                    for (std::size_t b : same) {
                        std::string others;
                        for (std::size_t c : same) {
                            if (c == b) continue;
                            if (!others.empty()) others += ", ";
                            others += formatText(kTextRowAsDisagreeing, sheets[list[c].sheet].c_str(),
                                                 cellAddress(list[c].row, list[c].column).c_str(),
                                                 cutForMessage(list[c].after).c_str());
                        }
                        report.setSheet(sheets[list[b].sheet]);
                        report.cellNotApplied(list[b].row, list[b].column, kTextReasonAsGiven,
                                              formatText(kTextReasonDisagree, others.c_str()));
                    }
                    continue;
                }
                const Proposal& p = list[a];
                if (out.row.handle.empty()) {
                    out.row.handle = key;
                    out.row.sheetRow = p.row;
                    out.sheet = sheets[p.sheet];
                }
                place(p, out);
                if (settings.listChanges)
                    changes.push_back(PlannedChange{key, {}, titleOf(p), p.before, p.after, p.note});
            }
            if (out.row.handle.empty()) continue;
            if (settings.listChanges) {
                const std::string& blockName = blockOf[key];
                for (auto it = changes.end() - static_cast<std::ptrdiff_t>(out.keys.size()); it != changes.end(); ++it)
                    it->block = blockName;
            }
            planned.push_back(std::move(out));
        }
    }
};

ImportPlanner::ImportPlanner(const PlanSettings& settings, ImportReport& report)
    : impl_(std::make_unique<Impl>(settings, report)) {}

ImportPlanner::~ImportPlanner() = default;

void ImportPlanner::add(const ImportRow& row, const std::string& sheet) { impl_->add(row, sheet); }

void ImportPlanner::plan(std::vector<PlannedRow>& rows, std::vector<PlannedChange>& changes) {
    impl_->plan(rows, changes);
}

}  // namespace tabro
