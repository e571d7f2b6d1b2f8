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
    // Problems are listed cell by cell up to this many; the rest are only counted.
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

    // The summary on the command line: counts, then the listed cells.
    void print(bool withListed = true) const;

    long rows = 0;
    long sheets = 0;
    long changed = 0;
    long notApplied = 0;
    long notFound = 0;
    long withoutHeader = 0;

    struct Listed {
        std::string sheet;
        std::int32_t row;
        std::int32_t column;
        UINT reason;
        std::string subject;
    };
    const std::vector<Listed>& listed() const { return listed_; }

private:
    void list(std::int32_t row, std::int32_t column, UINT reason, const std::string& subject);

    std::string sheet_;
    std::vector<Listed> listed_;
    long unlisted_ = 0;
};

// "C5": the cell's address as the spreadsheet shows it.
std::string cellAddress(std::int32_t row, std::int32_t column);

}  // namespace tabro
