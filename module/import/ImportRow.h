// One worksheet row as import hands it to the drawing: the handle of its block
// reference, its attribute texts by tag, and the properties its columns gave, each
// with the column it came from so that a value that cannot be applied can be named.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tabro {

// A cell that was read but cannot be applied: its column and the number of the
// resource text that says why, with the text's argument where it takes one.
struct CellProblem {
    std::int32_t column = 0;
    UINT reason = 0;
    std::string subject;
    bool isProperty = false;  // a property column's cell (not read when properties are ignored)
};

struct ImportRow {
    std::string handle;             // hexadecimal handle text, from the first cell's comment
    std::int32_t sheetRow = 0;      // the row it was read from
    std::int32_t headerRow = 0;     // the header row it was read under
    std::int32_t handleColumn = 1;  // the column whose comment holds the handle
    // Every cell under the header's columns is empty: the user cleared the row (the
    // handle comment stays), which is no request to empty the reference.
    bool isEmptied = false;
    std::vector<std::string> tags;           // attribute tags in column order
    std::vector<std::string> values;         // cell texts, parallel to tags
    std::vector<std::int32_t> valueColumns;  // parallel to tags
    // Parallel to tags: how many columns before it the row's header gives the same
    // tag (the k-th column of a tag holds the reference's k-th attribute of it). Kept
    // with the pair, as pairs that need no writing are left out before the rest are.
    std::vector<int> occurrences;
    // Parallel to tags: the number a cell held, NaN for a cell that held text. A
    // sheet exported without the text format keeps number-like texts as numbers.
    std::vector<double> valueNumbers;
    // Parallel to tags: how many columns of the header carry the tag. More columns
    // than the reference has attributes of it means a user's column took the title.
    std::vector<int> tagColumns;
    // Cells holding something under a header cell that is empty, by column.
    std::vector<std::pair<std::int32_t, std::string>> untitledCells;
    // Insertion point: every X, Y and Z column met counts; a coordinate is applied
    // only when its own cell was read as a number (an empty, error or word cell
    // leaves it as it is, never at 0).
    double position[3] = {0, 0, 0};
    // The texts of the coordinate, scale and rotation cells that held text, as they
    // stand (compared with what export wrote before anything is parsed).
    std::string positionText[3], scaleText[3], rotationText;
    bool hasCoordinate[3] = {false, false, false};
    std::int32_t coordinateColumn[3] = {0, 0, 0};
    int positionCount = 0;
    // Scale factors, filled in the order the scale columns stand.
    double scale[3] = {1, 1, 1};
    bool hasScale[3] = {false, false, false};
    std::int32_t scaleColumn[3] = {0, 0, 0};
    int scaleCount = 0;   // scale columns met; also the next slot
    double rotation = 0;  // radians
    // The sheet has a rotation column and this row's cell read as an angle. Without
    // it the rotation is left alone: a missing or unreadable angle is not zero.
    bool hasRotation = false;
    std::int32_t rotationColumn = 0;
    std::optional<std::string> layer;  // absent without a layer column, or unreadable
    std::int32_t layerColumn = 0;
    // The block-name column's text: a reference's block cannot be changed from here,
    // so an edit there is reported rather than taken for an attribute.
    std::optional<std::string> blockName;
    std::int32_t blockNameColumn = 0;
    // The layout column's text: read only to tell an edit there, which is not applied.
    std::optional<std::string> layout;
    // The drawing column's text (a register of several drawings): the file the row
    // belongs to, relative to the workbook. Import applies the row only to that one.
    std::optional<std::string> drawing;
    std::int32_t drawingColumn = 0;
    std::int32_t layoutColumn = 0;
    std::vector<CellProblem> problems;  // cells read but not readable as their column needs
    // A dynamic block's parameter cells: read only to name an edit, which is not
    // applied. `occurrence` counts the columns of the same label before it.
    struct ParameterCell {
        std::string label, text;
        double number = 0;  // NaN for a cell that held text
        std::int32_t column = 0;
        int occurrence = 0;
    };
    std::vector<ParameterCell> parameters;

    void clear() {
        handle.clear();
        sheetRow = 0;
        headerRow = 0;
        handleColumn = 1;
        isEmptied = false;
        tags.clear();
        values.clear();
        valueColumns.clear();
        occurrences.clear();
        valueNumbers.clear();
        tagColumns.clear();
        untitledCells.clear();
        rotationText.clear();
        for (int i = 0; i < 3; ++i) {
            positionText[i].clear();
            scaleText[i].clear();
            position[i] = 0;
            hasCoordinate[i] = false;
            coordinateColumn[i] = 0;
            scale[i] = 1;
            hasScale[i] = false;
            scaleColumn[i] = 0;
        }
        positionCount = 0;
        scaleCount = 0;
        rotation = 0;
        hasRotation = false;
        rotationColumn = 0;
        layer.reset();
        layerColumn = 0;
        blockName.reset();
        blockNameColumn = 0;
        layout.reset();
        layoutColumn = 0;
        drawing.reset();
        drawingColumn = 0;
        problems.clear();
        parameters.clear();
    }
};

}  // namespace tabro
