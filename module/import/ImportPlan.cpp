#include "module/import/ImportPlan.h"

#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbSymbolTables.h"
#include "module/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "module/drawing/ReferenceEditor.h"
#include "module/drawing/TagText.h"
#include "module/errors/ErrorReports.h"
#include "module/import/ImportReport.h"
#include "module/layout/PropertyText.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <optional>

namespace tabro {

namespace {

std::string upperHandle(std::string_view handle) {
    std::string out(trimBlanks(handle));
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

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

// What the drawing holds now for one reference, read once for all its rows.
struct ReferenceNow {
    std::string block;
    std::vector<AttributeRecord> definitions;
    std::vector<ReferenceAttribute> attributes;
    std::size_t attributeCount = 0;
    double position[3] = {0, 0, 0};
    double scale[3] = {1, 1, 1};
    double rotation = 0;
    std::string layer;

    // The k-th attribute with the tag; null when there are fewer.
    const ReferenceAttribute* attribute(const std::string& tag, int k) const {
        for (std::size_t i = 0; i < attributeCount; ++i)
            if (sameTagText(attributes[i].tag, tag) && k-- == 0) return &attributes[i];
        return nullptr;
    }
    bool knowsTag(const std::string& tag) const {
        for (const AttributeRecord& d : definitions)
            if (sameTagText(d.tag, tag)) return true;
        return attribute(tag, 0) != nullptr;
    }
};

// One cell that asks for a change, from one row.
struct Proposal {
    enum class Kind { Attribute, Coordinate, Scale, Rotation, Layer };
    Kind kind = Kind::Attribute;
    int slot = 0;              // Attribute: the pair; Coordinate, Scale: the axis
    std::size_t stored = 0;    // the row it came from
    std::int32_t column = 0;   // its cell's column
    std::string key;           // record key
    int occurrence = 0;
    std::string before, after;  // as shown
    double number = 0;          // Coordinate, Scale, Rotation: the value to set
    std::string note;
};

bool sameProposal(const Proposal& a, const Proposal& b) {
    switch (a.kind) {
    case Proposal::Kind::Coordinate:
    case Proposal::Kind::Scale:
    case Proposal::Kind::Rotation:
        return a.number == b.number;
    default:
        return a.after == b.after;
    }
}

}  // namespace

ImportPlanner::ImportPlanner(const PlanSettings& settings, ImportReport& report)
    : settings_(settings), report_(report) {}

void ImportPlanner::add(const ImportRow& row, const std::string& sheet) {
    if (sheets_.empty() || sheets_.back() != sheet) sheets_.push_back(sheet);
    std::string key = upperHandle(row.handle);
    auto [it, added] = byHandle_.try_emplace(key);
    if (added) order_.push_back(std::move(key));
    it->second.push_back(rows_.size());
    rows_.push_back(Stored{row, static_cast<std::uint32_t>(sheets_.size() - 1)});
}

namespace {

class ReferencePlan {
public:
    ReferencePlan(const PlanSettings& settings, ImportReport& report, const std::vector<std::string>& sheets)
        : settings_(settings), report_(report), sheets_(sheets) {}

    // Reads the reference; false (every row reported) when the handle names none.
    bool open(const std::string& handle, const std::vector<const ImportRow*>& rows,
              const std::vector<std::uint32_t>& sheetOf) {
        ReferenceEditor editor;
        if (editor.open(handle, AcDb::kForRead) != Acad::eOk) {
            for (std::size_t i = 0; i < rows.size(); ++i) {
                report_.setSheet(sheets_[sheetOf[i]]);
                report_.handleNotFound(rows[i]->sheetRow);
            }
            return false;
        }
        AcDbBlockReference* reference = editor.reference();
        if (!reference) {
            for (std::size_t i = 0; i < rows.size(); ++i) {
                report_.setSheet(sheets_[sheetOf[i]]);
                report_.cellNotApplied(rows[i]->sheetRow, 1, kTextReasonNotAReference);
            }
            return false;
        }
        const AcDbObjectId block = reference->blockTableRecord();
        if (!blockNameOf(block, now_.block)) now_.block.clear();
        if (!collectDefinitionRecords(block, now_.definitions)) now_.definitions.clear();
        if (!readReferenceAttributes(*reference, now_.attributes, now_.attributeCount)) now_.attributeCount = 0;
        const AcGePoint3d p = reference->position();
        now_.position[0] = p.x;
        now_.position[1] = p.y;
        now_.position[2] = p.z;
        const AcGeScale3d s = reference->scaleFactors();
        now_.scale[0] = s.sx;
        now_.scale[1] = s.sy;
        now_.scale[2] = s.sz;
        now_.rotation = reference->rotation();
        AcutString layer(reference->layer());
        now_.layer = layer.get();
        return true;
    }

    const std::string& block() const { return now_.block; }

    // Whether the row belongs to this reference's block: the row's block-name cell,
    // else the block the record has for the handle, else the block its sheet is named
    // after, else its attribute columns, which must all be the block's. A row that
    // does not is named and gives nothing.
    bool belongs(const ImportRow& row, const std::string& sheet, const WorkbookRecord::Entry* entry) {
        std::optional<std::string> expected;
        std::int32_t column = 1;
        if (row.blockName) {
            expected = *row.blockName;
            column = row.blockNameColumn;
        } else if (entry) {
            expected = settings_.record->sectionOf(*entry).block;
        } else if (isBlockSheet(sheet)) {
            expected = sheet;
        }
        if (expected) {
            if (sameBlockName(*expected, now_.block)) return true;
            report_.cellNotApplied(row.sheetRow, column, kTextReasonAsGiven,
                                   formatText(kTextReasonNotOfBlock, cutForMessage(*expected).c_str(),
                                              cutForMessage(now_.block).c_str()));
            return false;
        }
        // Nothing names the row's block: its filled attribute columns must be mostly
        // the block's (a column the user added is no reason to refuse a row, a row
        // whose tags the block lacks is another block's).
        std::size_t known = 0, unknown = 0;
        const std::string* firstUnknown = nullptr;
        for (std::size_t i = 0; i < row.tags.size(); ++i) {
            if (row.values[i].empty()) continue;
            if (now_.knowsTag(row.tags[i])) {
                ++known;
            } else {
                ++unknown;
                if (!firstUnknown) {
                    firstUnknown = &row.tags[i];
                    column = row.valueColumns[i];
                }
            }
        }
        if (unknown > 0 && unknown >= known) {
            report_.cellNotApplied(row.sheetRow, column, kTextReasonAsGiven,
                                   formatText(kTextReasonNotTheBlocksColumns, cutForMessage(now_.block).c_str(),
                                              cutForMessage(*firstUnknown).c_str()));
            return false;
        }
        return true;
    }

    // The cells of one row that ask for a change, each reported where it cannot.
    void propose(const ImportRow& row, std::size_t stored, const WorkbookRecord::Entry* entry,
                 std::vector<Proposal>& out) {
        for (const CellProblem& p : row.problems)
            if (!(settings_.ignoreProps && p.isProperty))
                report_.cellNotApplied(row.sheetRow, p.column, p.reason, p.subject);
        auto base = [&](const std::string& key, int k) -> std::optional<std::string> {
            if (!entry) return std::nullopt;
            std::optional<std::string_view> v = settings_.record->valueOf(*entry, key, k);
            return v ? std::optional<std::string>(std::string(*v)) : std::nullopt;
        };
        // Whether the cell says what the record has now or had before an import.
        auto saidBefore = [&](const std::string& key, int k, auto&& same) {
            if (!entry) return false;
            for (std::string_view earlier : settings_.record->earlierValuesOf(*entry, key, k))
                if (same(std::string(earlier))) return true;
            return false;
        };
        for (std::size_t i = 0; i < row.tags.size(); ++i) {
            const int k = i < row.occurrences.size() ? row.occurrences[i] : 0;
            Proposal p;
            p.kind = Proposal::Kind::Attribute;
            p.slot = static_cast<int>(i);
            p.stored = stored;
            p.column = row.valueColumns[i];
            p.key = recordKeyOf(ColumnRole::Attribute, 0, row.tags[i]);
            p.occurrence = k;
            p.after = row.values[i];
            const double number = i < row.valueNumbers.size() ? row.valueNumbers[i] : std::nan("");
            const ReferenceAttribute* now = now_.attribute(row.tags[i], k);
            const std::optional<std::string> was = base(p.key, k);
            if (!now) {
                // No attribute to write to: the cell is named when applied, unless it
                // still says what export wrote (nothing, for a tag the reference lacks).
                if (was && isAttributeUnedited(row.values[i], number, was->c_str())) continue;
                out.push_back(std::move(p));
                continue;
            }
            p.before = now->text;
            const bool sheetIsBase =
                was && (isAttributeUnedited(row.values[i], number, was->c_str()) ||
                        saidBefore(p.key, k, [&](const std::string& t) {
                            return isAttributeUnedited(row.values[i], number, t.c_str());
                        }));
            if (!decide(row, p, was, isAttributeUnedited(row.values[i], number, now->text.c_str()), sheetIsBase,
                        was && isAttributeUnedited(*was, std::nan(""), now->text.c_str()), was ? *was : ""))
                continue;
            out.push_back(std::move(p));
        }
        if (settings_.ignoreProps) return;
        const CellWriting& w = settings_.writing;
        const ColumnRole axes[3] = {ColumnRole::X, ColumnRole::Y, ColumnRole::Z};
        for (int i = 0; i < 3; ++i) {
            if (!row.hasCoordinate[i] || !std::isfinite(row.position[i])) continue;
            const double current = now_.position[i];
            Proposal p;
            p.kind = Proposal::Kind::Coordinate;
            p.slot = i;
            p.key = recordKeyOf(axes[i], 0, {});
            p.number = coordinateFromCell(row.position[i], current, w.jtsk);
            p.before = w.distanceText(surveyCoordinate(current, w.jtsk));
            p.after = w.distanceText(row.position[i]);
            if (!decideNumber(row, p, stored, row.coordinateColumn[i], base(p.key, 0), row.position[i],
                              p.number == current, entry,
                              [&](std::string_view t, double& v) { return w.readDistance(t, v); }))
                continue;
            out.push_back(std::move(p));
        }
        for (int i = 0; i < 3; ++i) {
            if (!row.hasScale[i] || !std::isfinite(row.scale[i])) continue;
            const double current = now_.scale[i];
            Proposal p;
            p.kind = Proposal::Kind::Scale;
            p.slot = i;
            p.key = recordKeyOf(ColumnRole::Scale, i, {});
            p.number = distanceFromCell(row.scale[i], current);
            p.before = w.distanceText(current);
            p.after = w.distanceText(row.scale[i]);
            if (!decideNumber(row, p, stored, row.scaleColumn[i], base(p.key, 0), row.scale[i], p.number == current,
                              entry, [&](std::string_view t, double& v) { return w.readDistance(t, v); }))
                continue;
            out.push_back(std::move(p));
        }
        if (row.hasRotation && std::isfinite(row.rotation)) {
            Proposal p;
            p.kind = Proposal::Kind::Rotation;
            p.key = recordKeyOf(ColumnRole::Rotation, 0, {});
            p.number = angleFromCell(row.rotation, now_.rotation);
            p.before = w.angleText(now_.rotation);
            p.after = w.angleText(row.rotation);
            if (decideNumber(row, p, stored, row.rotationColumn, base(p.key, 0), row.rotation,
                             p.number == now_.rotation, entry,
                             [&](std::string_view t, double& v) { return w.readAngle(t, v); }))
                out.push_back(std::move(p));
        }
        if (row.layer) {
            Proposal p;
            p.kind = Proposal::Kind::Layer;
            p.stored = stored;
            p.column = row.layerColumn;
            p.key = recordKeyOf(ColumnRole::Layer, 0, {});
            p.before = now_.layer;
            p.after = *row.layer;
            const std::optional<std::string> was = base(p.key, 0);
            const bool sheetIsBase =
                was && (*was == *row.layer ||
                        saidBefore(p.key, 0, [&](const std::string& t) { return t == *row.layer; }));
            if (decide(row, p, was, *row.layer == now_.layer, sheetIsBase, was && *was == now_.layer,
                       was ? *was : ""))
                out.push_back(std::move(p));
        }
    }

private:
    // The three-way rule for one cell. `sheetIsDrawing`: the cell says what the
    // drawing holds; `sheetIsBase`: what export wrote; `drawingIsBase`: the drawing
    // still holds what export wrote. True when the cell is to be written.
    bool decide(const ImportRow& row, Proposal& p, const std::optional<std::string>& was, bool sheetIsDrawing,
                bool sheetIsBase, bool drawingIsBase, const std::string& baseText) {
        if (!was) return !sheetIsDrawing;  // no record: any difference is an edit
        if (sheetIsBase || sheetIsDrawing) return false;
        if (drawingIsBase) return true;
        if (settings_.takeSheetOnConflict) {
            p.note = formatText(kTextConflictTaken, cutForMessage(baseText).c_str(), cutForMessage(p.before).c_str());
            return true;
        }
        report_.cellNotApplied(row.sheetRow, p.column, kTextReasonAsGiven,
                               formatText(kTextReasonConflict, cutForMessage(baseText).c_str(),
                                          cutForMessage(p.after).c_str(), cutForMessage(p.before).c_str()));
        return false;
    }

    template <class Read>
    bool decideNumber(const ImportRow& row, Proposal& p, std::size_t stored, std::int32_t column,
                      const std::optional<std::string>& was, double cell, bool sheetIsDrawing,
                      const WorkbookRecord::Entry* entry, Read read) {
        p.stored = stored;
        p.column = column;
        bool sheetIsBase = false, drawingIsBase = false;
        auto says = [&](std::string_view text) {
            double recorded = 0;
            return read(text, recorded) && recorded == cell;
        };
        if (was) {
            sheetIsBase = says(*was);
            if (!sheetIsBase && entry)
                for (std::string_view earlier : settings_.record->earlierValuesOf(*entry, p.key, 0))
                    if (says(earlier)) sheetIsBase = true;
            drawingIsBase = p.before == *was;
        }
        return decide(row, p, was, sheetIsDrawing, sheetIsBase, drawingIsBase, was ? *was : "");
    }

    bool isBlockSheet(const std::string& sheet) {
        auto it = blockSheets_.find(sheet);
        if (it == blockSheets_.end()) it = blockSheets_.emplace(sheet, drawingHasBlock(sheet)).first;
        return it->second;
    }

    const PlanSettings& settings_;
    ImportReport& report_;
    const std::vector<std::string>& sheets_;
    ReferenceNow now_;
    std::map<std::string, bool> blockSheets_;
};

std::string columnTitle(const Proposal& p, const ImportRow& row, const ExportTexts& texts) {
    switch (p.kind) {
    case Proposal::Kind::Attribute:
        return row.tags[static_cast<std::size_t>(p.slot)];
    case Proposal::Kind::Coordinate:
        return texts.title(static_cast<PropertyColumn>(static_cast<int>(PropertyColumn::X) + p.slot));
    case Proposal::Kind::Scale:
        return texts.title(static_cast<PropertyColumn>(static_cast<int>(PropertyColumn::ScaleX) + p.slot));
    case Proposal::Kind::Rotation:
        return texts.title(PropertyColumn::Rotation);
    case Proposal::Kind::Layer:
        return texts.title(PropertyColumn::Layer);
    }
    return {};
}

// Puts one agreed cell into the row that is applied.
void place(const Proposal& p, const ImportRow& from, PlannedRow& planned) {
    ImportRow& row = planned.row;
    switch (p.kind) {
    case Proposal::Kind::Attribute: {
        const auto i = static_cast<std::size_t>(p.slot);
        row.tags.push_back(from.tags[i]);
        row.values.push_back(from.values[i]);
        row.valueColumns.push_back(from.valueColumns[i]);
        row.occurrences.push_back(p.occurrence);
        row.valueNumbers.push_back(i < from.valueNumbers.size() ? from.valueNumbers[i] : std::nan(""));
        break;
    }
    case Proposal::Kind::Coordinate:
        row.position[p.slot] = from.position[p.slot];
        row.hasCoordinate[p.slot] = true;
        row.coordinateColumn[p.slot] = from.coordinateColumn[p.slot];
        ++row.positionCount;
        break;
    case Proposal::Kind::Scale:
        row.scale[p.slot] = from.scale[p.slot];
        row.hasScale[p.slot] = true;
        row.scaleColumn[p.slot] = from.scaleColumn[p.slot];
        break;
    case Proposal::Kind::Rotation:
        row.rotation = from.rotation;
        row.hasRotation = true;
        row.rotationColumn = from.rotationColumn;
        break;
    case Proposal::Kind::Layer:
        row.layer = from.layer;
        row.layerColumn = from.layerColumn;
        break;
    }
    planned.keys.emplace_back(p.key, p.occurrence);
}

}  // namespace

void ImportPlanner::plan(std::vector<PlannedRow>& planned, std::vector<PlannedChange>& changes) {
    const ExportTexts texts = ExportTexts::load();
    ReferencePlan reference(settings_, report_, sheets_);
    std::vector<const ImportRow*> rows;
    std::vector<std::uint32_t> sheetOf;
    std::vector<Proposal> proposals;
    for (const std::string& handle : order_) {
        const std::vector<std::size_t>& indices = byHandle_[handle];
        rows.clear();
        sheetOf.clear();
        for (std::size_t i : indices) {
            rows.push_back(&rows_[i].row);
            sheetOf.push_back(rows_[i].sheet);
        }
        if (!reference.open(rows_[indices.front()].row.handle, rows, sheetOf)) continue;
        const WorkbookRecord::Entry* entry = settings_.record ? settings_.record->find(handle) : nullptr;
        proposals.clear();
        for (std::size_t i : indices) {
            const Stored& s = rows_[i];
            report_.setSheet(sheets_[s.sheet]);
            if (!reference.belongs(s.row, sheets_[s.sheet], entry)) continue;
            // A handle the record has for another block than the row's is no entry of it.
            const WorkbookRecord::Entry* own =
                entry && sameBlockName(settings_.record->sectionOf(*entry).block, reference.block()) ? entry
                                                                                                      : nullptr;
            reference.propose(s.row, i, own, proposals);
        }
        if (proposals.empty()) continue;

        // Cells several rows ask for: one change when they agree, none when not.
        std::vector<bool> taken(proposals.size(), false);
        PlannedRow out;
        for (std::size_t a = 0; a < proposals.size(); ++a) {
            if (taken[a]) continue;
            std::vector<std::size_t> same{a};
            for (std::size_t b = a + 1; b < proposals.size(); ++b)
                if (!taken[b] && proposals[b].kind == proposals[a].kind &&
                    (proposals[a].kind == Proposal::Kind::Attribute
                         ? (sameTagText(proposals[b].key, proposals[a].key) &&
                            proposals[b].occurrence == proposals[a].occurrence)
                         : proposals[b].slot == proposals[a].slot))
                    same.push_back(b);
            for (std::size_t b : same) taken[b] = true;
            const bool agree = std::all_of(same.begin(), same.end(),
                                           [&](std::size_t b) { return sameProposal(proposals[b], proposals[a]); });
            if (!agree) {
                for (std::size_t b : same) {
                    std::string others;
                    for (std::size_t c : same) {
                        if (c == b) continue;
                        const Stored& o = rows_[proposals[c].stored];
                        if (!others.empty()) others += ", ";
                        others += formatText(kTextRowAsDisagreeing, sheets_[o.sheet].c_str(),
                                             cellAddress(o.row.sheetRow, proposals[c].column).c_str(),
                                             cutForMessage(proposals[c].after).c_str());
                    }
                    const Stored& s = rows_[proposals[b].stored];
                    report_.setSheet(sheets_[s.sheet]);
                    report_.cellNotApplied(s.row.sheetRow, proposals[b].column, kTextReasonAsGiven,
                                           formatText(kTextReasonDisagree, others.c_str()));
                }
                continue;
            }
            const Proposal& p = proposals[a];
            const Stored& from = rows_[p.stored];
            if (out.row.handle.empty()) {
                out.row.handle = from.row.handle;
                out.row.sheetRow = from.row.sheetRow;
                out.sheet = sheets_[from.sheet];
            }
            place(p, from.row, out);
            changes.push_back(PlannedChange{handle, reference.block(), columnTitle(p, from.row, texts), p.before,
                                            p.after, p.note});
        }
        if (!out.row.handle.empty()) planned.push_back(std::move(out));
    }
}

}  // namespace tabro
