// What one import met, for the user: rows read, references changed, and every cell,
// row or handle that could not be applied, named by sheet and cell. A value that is
// not applied is never dropped without a word.
#pragma once

#include "module/import/ImportRow.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tabro {

class ImportReport {
public:
    // Problems are shown cell by cell up to this many; past it, the whole list goes
    // into a file (see writeList).
    static constexpr std::size_t kListedProblems = 20;

    void beginSheet(std::string sheetName);
    // The sheet the cells reported next stand in (no new sheet is counted).
    void setSheet(const std::string& sheetName) { sheet_ = sheetName; }
    // The listed cells alone, without the counts (what the preview shows).
    void printListed() const;
    // A row with a handle was read (progress is shown on long imports).
    void rowRead();
    void referenceChanged() { ++changed; }
    // One cell of row `row` was not applied; `reason` is a resource text number.
    void cellNotApplied(std::int32_t row, std::int32_t column, UINT reason, const std::string& subject = {});
    void rowProblems(const ImportRow& row);
    void handleNotFound(std::int32_t row);
    void rowWithoutHeader(std::int32_t row);
    // A row holding values that is not imported; `reason` is a resource text number,
    // formatted with `number` where it takes one.
    void rowNotImported(std::int32_t row, std::int32_t column, UINT reason, long number = 0);
    // A note listed with the cells, not counted as one not applied: edits a column
    // never applies (said once for a sheet), a text the drawing keeps only in part.
    // `text` is composed already.
    void note(std::int32_t row, std::int32_t column, const std::string& text);

    // The summary on the command line: counts, then the listed cells.
    void print(bool withListed = true) const;

    long rows = 0;
    long sheets = 0;
    long changed = 0;
    long notApplied = 0;
    long notFound = 0;
    long withoutHeader = 0;
    long rowsNotImported = 0;
    // Attributes whose field an imported text replaced.
    long fieldsReplaced = 0;
    // Rows of a register that name another drawing: left for it, named by count only
    // (an import of each drawing of a register reads every drawing's rows).
    long otherDrawingRows = 0;
    bool showOtherDrawingRows = true;
    // A property cell differed from the drawing while the import applies attributes
    // only: said once, in the summary.
    bool propertyEditsIgnored = false;

    struct Listed {
        std::string sheet;
        std::int32_t row;
        std::int32_t column;
        UINT reason;
        std::string subject;
    };
    const std::vector<Listed>& listed() const { return listed_; }
    // One line of the list as the command line shows it, without its line break.
    static std::string lineOf(const Listed& l);

    // When more cells are named than the command line shows, the whole list goes to
    // `path` (replaced whole, never left half written) and the summary says where;
    // call before print(). A failure to write is said instead.
    void writeList(const std::string& path, const std::string& heading);

private:
    void list(std::int32_t row, std::int32_t column, UINT reason, const std::string& subject);

    std::string sheet_;
    std::vector<Listed> listed_;
    std::string listPath_;  // where the whole list was written, once it was
};

// "C5": the cell's address as the spreadsheet shows it.
std::string cellAddress(std::int32_t row, std::int32_t column);

}  // namespace tabro
