// Deciding what an import writes before it writes anything: every row is checked
// against the reference its handle names, rows naming one reference are merged, and
// each cell is kept only when it asks for a change the user made. What is left is
// applied in one go (after the user agreed, when asked to preview).
#pragma once

#include "module/import/ImportRow.h"
#include "module/layout/WorkbookRecord.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tabro {

class ImportReport;

struct PlanSettings {
    bool ignoreProps = true;
    // A cell edited in the sheet whose value the drawing changed as well: the sheet's
    // value is taken (else the drawing's is kept and the cell named).
    bool takeSheetOnConflict = false;
    // The record of the workbook's export when it is this drawing's; null: every cell
    // that differs from the drawing is an edit.
    WorkbookRecord* record = nullptr;
    // How the cells were written (the record's, else the settings of now).
    CellWriting writing;
    // The changes are listed for a preview; without one they are only applied.
    bool listChanges = true;
};

// One change a planned row makes, as the preview shows it.
struct PlannedChange {
    std::string handle, block, column, before, after;
    std::string note;  // the drawing changed too and the sheet's value is taken
};

// A row reduced to the cells to write, with the record key of each (for bringing the
// record up to date once it is applied).
struct PlannedRow {
    ImportRow row;
    std::string sheet;
    std::vector<std::pair<std::string, int>> keys;
};

class ImportPlanner {
public:
    ImportPlanner(const PlanSettings& settings, ImportReport& report);
    ~ImportPlanner();
    ImportPlanner(const ImportPlanner&) = delete;
    ImportPlanner& operator=(const ImportPlanner&) = delete;

    // A row as read from `sheet`: checked against its reference and reduced to the
    // cells that ask for a change at once (a row that asks for none costs nothing
    // more); what cannot be applied is reported.
    void add(const ImportRow& row, const std::string& sheet);
    // Every reference asked to change, in the order first met: the cells its rows
    // agree on. `changes` lists them as the preview shows them. The drawing is no
    // longer open for anything once it returns.
    void plan(std::vector<PlannedRow>& rows, std::vector<PlannedChange>& changes);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tabro
