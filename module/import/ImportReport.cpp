#include "module/import/ImportReport.h"

#include "host/Editor.h"
#include "module/ResourceStrings.h"
#include "module/errors/ErrorReports.h"

#include <algorithm>

namespace tabro {

namespace {

// Rows between two progress lines; an import this long takes long enough for the
// user to wonder whether it still runs.
constexpr long kProgressRows = 10000;

std::string counted(long count, UINT one, UINT many) { return formatText(pluralText(count, one, many), count); }

}  // namespace

std::string cellAddress(std::int32_t row, std::int32_t column) {
    std::string letters;
    for (std::int32_t c = column; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

void ImportReport::beginSheet(std::string sheetName) {
    ++sheets;
    sheet_ = std::move(sheetName);
}

void ImportReport::rowRead() {
    if (++rows % kProgressRows == 0) acutPrintf("%s", formatText(kTextImportProgress, rows).c_str());
}

void ImportReport::list(std::int32_t row, std::int32_t column, UINT reason, const std::string& subject) {
    if (listed_.size() < kListedProblems)
        listed_.push_back(Listed{sheet_, row, column, reason, subject});
    else
        ++unlisted_;
}

void ImportReport::cellNotApplied(std::int32_t row, std::int32_t column, UINT reason, const std::string& subject) {
    ++notApplied;
    list(row, column, reason, subject);
}

void ImportReport::rowProblems(const ImportRow& row) {
    for (const CellProblem& p : row.problems) cellNotApplied(row.sheetRow, p.column, p.reason, p.subject);
}

void ImportReport::handleNotFound(std::int32_t row) {
    ++notFound;
    list(row, 1, kTextReasonNoReference, {});
}

void ImportReport::rowWithoutHeader(std::int32_t row) {
    ++withoutHeader;
    list(row, 1, kTextReasonNoHeader, {});
}

void ImportReport::print(bool withListed) const {
    const std::string rowsText = counted(rows, kTextRowsOne, kTextRowsMany);
    const std::string sheetsText = counted(sheets, kTextSheetsOne, kTextSheetsMany);
    const std::string changedText = counted(changed, kTextReferencesOne, kTextReferencesMany);
    acutPrintf("%s", formatText(kTextImportSummary, rowsText.c_str(), sheetsText.c_str(), changedText.c_str()).c_str());
    if (notApplied) acutPrintf("%s", counted(notApplied, kTextNotAppliedOne, kTextNotAppliedMany).c_str());
    if (notFound) acutPrintf("%s", counted(notFound, kTextNotFoundOne, kTextNotFoundMany).c_str());
    if (withoutHeader) acutPrintf("%s", counted(withoutHeader, kTextNoHeaderOne, kTextNoHeaderMany).c_str());
    if (withListed) printListed();
    acutPrintf("\n");
}

void ImportReport::printListed() const {
    for (const Listed& l : listed_) {
        // The subject is what a cell or a header holds (a layer, a tag): cut, so that
        // a cell of a hundred thousand digits does not fill the command line.
        // A reason composed already cut what it quotes, each part on its own.
        const std::string reason = formatText(
            l.reason, l.reason == kTextReasonAsGiven ? l.subject.c_str() : cutForMessage(l.subject).c_str());
        const std::string address = cellAddress(l.row, l.column);
        acutPrintf("%s", formatText(kTextProblemLine, l.sheet.c_str(), address.c_str(), reason.c_str()).c_str());
    }
    if (unlisted_) acutPrintf("%s", formatText(kTextMoreProblems, unlisted_).c_str());
}

}  // namespace tabro
