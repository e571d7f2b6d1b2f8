// The layout of exported rows: which columns a reference yields, in which order,
// with which header titles and property markers, and the text of every value. The
// same layout is what import reads back, so the column order, the handle's place
// and the markers are a file format.
#pragma once

#include "module/drawing/AttributeRecord.h"
#include "module/layout/PropertyText.h"
#include "module/layout/SheetLayout.h"
#include "module/layout/TextList.h"

#include <string>
#include <vector>

class AcDbBlockReference;

namespace tabro {

struct ExportOptions;

// One reference's row. values[0] is the handle; titles[j] heads values[j + 1];
// markers parallel titles (empty for the block-name and attribute columns).
// Without `withTitles` only the values are composed: the header is written from a
// block's first row, and composing it again for each of the others is wasted work.
struct ExportRow {
    TextList values;
    TextList titles;
    TextList markers;
    bool withTitles = true;
    void clear() noexcept {
        values.clear();
        titles.clear();
        markers.clear();
    }
};

// What a row takes from a reference besides its attributes, as texts ready for cells.
struct ReferenceProperties {
    std::string handle;
    double x = 0, y = 0, z = 0;
    double rotation = 0;  // radians
    double scaleX = 1, scaleY = 1, scaleZ = 1;
    std::string layer;
    // A dynamic block's parameters, in the block's parameter columns.
    std::vector<std::string> parameters;
};

// The parameter columns of a dynamic block's rows, after the property columns: one
// per parameter a user sees (a visibility state, a flip, a lookup, a distance, an
// angle), titled with its label. Fixed by the block's first row, so that every row
// puts a parameter in the same column whichever parameters it gives.
struct ParameterColumns {
    bool isDynamic = false;
    bool known = false;
    std::vector<std::string> labels;
};

// The reference's parameter values as cell texts, in the order of `columns` (set
// from this reference when not known yet); a parameter the reference does not give
// leaves its cell empty.
void readParameterTexts(const AcDbBlockReference& reference, ParameterColumns& columns, const NumberTexts& numbers,
                        std::vector<std::string>& out);

// Composes `row` (cleared first) from the parts of one reference. `layoutName` null
// leaves the Layout column out of the row. With `Sort`, `records` are sorted in place.
// Parameter columns, titled from `parameterLabels`, follow the property columns.
// `drawingName` (a register's rows) adds the drawing column right after the block
// name, or first without one.
void composeExportRow(ExportRow& row, const ReferenceProperties& reference, const std::string& blockName,
                      std::vector<AttributeRecord>& records, const ExportOptions& options, const ExportTexts& texts,
                      const NumberTexts& numbers, const std::string* layoutName,
                      const std::vector<std::string>* parameterLabels = nullptr,
                      const std::string* drawingName = nullptr);

// The same, reading the reference from the drawing (handle, position, rotation,
// scale factors, layer) and the active layout from the layout manager.
// With `parameters` of a dynamic block, its parameter columns too.
void buildExportRow(ExportRow& row, const AcDbBlockReference& reference, const std::string& blockName,
                    std::vector<AttributeRecord>& records, const ExportOptions& options, const ExportTexts& texts,
                    ParameterColumns* parameters = nullptr, const std::string* drawingName = nullptr);

// The reference's handle as the row's first cell's comment carries it (hexadecimal).
std::string handleTextOf(const AcDbBlockReference& reference);

// Reads what a row needs of a reference.
void readReferenceProperties(const AcDbBlockReference& reference, ReferenceProperties& out);

// The prompt row: an empty cell under the block-name column (with BlockNames), then
// each exported attribute's prompt; markers all empty. Property columns get none.
void buildPromptRow(TextList& titles, TextList& markers, std::vector<AttributeRecord>& records,
                    const ExportOptions& options);

// Orders records by tag, without regard to case, by the locale's collation. Records
// with tags equal in that order keep their definition order.
void sortAttributeRecords(std::vector<AttributeRecord>& records);

}  // namespace tabro
