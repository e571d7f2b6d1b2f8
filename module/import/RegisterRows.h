// A run over the drawings of a register imports one drawing after another from one
// workbook that does not change meanwhile (an import writes only its record sheet).
// Reading every sheet whole for each drawing would cost time in the square of the
// drawings; the first import reads each sheet once and keeps where each drawing's
// rows stand, with their handles and headers, and the imports after it read only
// their own drawing's rows.
#pragma once

#include "module/import/SheetReader.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tabro {

class RegisterRows {
public:
    // Hands the worksheet's rows to `apply` as readSheetRows does. A sheet read
    // before in this run from the same start cell gives only the rows whose drawing
    // cell `isOurs` says is the drawing's, and the rows of a sheet without a drawing
    // column, each read where it stood then; what a whole read names (rows without a
    // handle or header) was named at the first read. A sheet whose rows no longer hold
    // the handles they held (another program saved the workbook meanwhile), and any
    // other sheet, is read whole and kept.
    void read(IDispatch* worksheet, std::int32_t startRow, std::int32_t startColumn, const ImportMarkers& markers,
              const std::function<bool(const std::string& drawingText)>& isOurs,
              const std::function<void(const ImportRow&)>& apply, ImportReport* report);
    void clear() { sheets_.clear(); }

private:
    struct Row {
        std::int32_t sheetRow = 0;
        std::int32_t handleColumn = 1;
        std::uint32_t header = 0;  // index into Sheet::headers
        std::string handle;
    };
    struct Sheet {
        LONG lastRow = 0;
        std::int32_t startRow = 0, startColumn = 0;
        std::vector<SheetHeader> headers;
        // By the drawing cell's text; rows of a sheet without a drawing column under
        // kEveryDrawing, which no cell can hold.
        std::map<std::string, std::vector<Row>> byDrawing;
    };
    static constexpr char kEveryDrawing[] = "\x01";
    // The kept rows of `isOurs`' drawings; false, handing on nothing, when a row no
    // longer holds its handle.
    static bool readKept(IDispatch* worksheet, const Sheet& sheet,
                         const std::function<bool(const std::string&)>& isOurs,
                         const std::function<void(const ImportRow&)>& apply);
    // By workbook path and sheet name.
    std::map<std::pair<std::u16string, std::u16string>, Sheet> sheets_;
};

// The run's index; cleared when a run begins and when the module goes.
RegisterRows& registerRows();

}  // namespace tabro
