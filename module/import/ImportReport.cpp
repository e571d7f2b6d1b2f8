#include "module/import/ImportReport.h"

#include "host/Editor.h"
#include "module/base/ErrorReports.h"
#include "module/base/ResourceStrings.h"
#include "platform/File.h"

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
    listed_.push_back(Listed{sheet_, row, column, reason, subject});
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

void ImportReport::rowNotImported(std::int32_t row, std::int32_t column, UINT reason, long number) {
    ++rowsNotImported;
    list(row, column, kTextReasonAsGiven, formatText(reason, number));
}

void ImportReport::note(std::int32_t row, std::int32_t column, const std::string& text) {
    list(row, column, kTextReasonAsGiven, text);
}

void ImportReport::print(bool withListed) const {
    const std::string rowsText = counted(rows, kTextRowsOne, kTextRowsMany);
    const std::string sheetsText = counted(sheets, kTextSheetsOne, kTextSheetsMany);
    const std::string changedText = counted(changed, kTextReferencesOne, kTextReferencesMany);
    acutPrintf("%s", formatText(kTextImportSummary, rowsText.c_str(), sheetsText.c_str(), changedText.c_str()).c_str());
    if (notApplied) acutPrintf("%s", counted(notApplied, kTextNotAppliedOne, kTextNotAppliedMany).c_str());
    if (notFound) acutPrintf("%s", counted(notFound, kTextNotFoundOne, kTextNotFoundMany).c_str());
    if (withoutHeader) acutPrintf("%s", counted(withoutHeader, kTextNoHeaderOne, kTextNoHeaderMany).c_str());
    if (rowsNotImported)
        acutPrintf("%s", counted(rowsNotImported, kTextRowsNotImportedOne, kTextRowsNotImportedMany).c_str());
    if (fieldsReplaced)
        acutPrintf("%s", counted(fieldsReplaced, kTextFieldsReplacedOne, kTextFieldsReplacedMany).c_str());
    if (propertyEditsIgnored) acutPrintf("%s", resourceStrings().load(kTextPropertiesIgnored).c_str());
    if (otherDrawingRows && showOtherDrawingRows)
        acutPrintf("%s", counted(otherDrawingRows, kTextRowsOfOtherDrawingsOne, kTextRowsOfOtherDrawingsMany).c_str());
    if (withListed) printListed();
    acutPrintf("\n");
}

std::string ImportReport::lineOf(const Listed& l) {
    // The subject is what a cell or a header holds (a layer, a tag): cut, so that a
    // cell of a hundred thousand digits does not fill the command line. A reason
    // composed already cut what it quotes, each part on its own.
    const std::string reason =
        formatText(l.reason, l.reason == kTextReasonAsGiven ? l.subject.c_str() : cutForMessage(l.subject).c_str());
    const std::string address = cellAddress(l.row, l.column);
    std::string line = formatText(kTextProblemLine, l.sheet.c_str(), address.c_str(), reason.c_str());
    if (!line.empty() && line.front() == '\n') line.erase(0, 1);
    return line;
}

void ImportReport::printListed() const {
    const std::size_t shown = std::min(listed_.size(), kListedProblems);
    for (std::size_t i = 0; i < shown; ++i) acutPrintf("\n%s", lineOf(listed_[i]).c_str());
    if (listed_.size() > shown) {
        acutPrintf("%s", formatText(kTextMoreProblems, static_cast<long>(listed_.size() - shown)).c_str());
        if (!listPath_.empty())
            acutPrintf("%s",
                       formatText(kTextListWritten, static_cast<long>(listed_.size()), listPath_.c_str()).c_str());
    }
}

void ImportReport::writeList(const std::string& path, const std::string& heading) {
    if (listed_.size() <= kListedProblems) return;
    std::string content = heading;
    content += '\n';
    for (const Listed& l : listed_) {
        content += lineOf(l);
        content += '\n';
    }
    if (platform::FileStatus status = platform::writeFileAtomically(path, content); !status.ok()) {
        acutPrintf("%s", formatText(kTextListNotWritten, path.c_str(), status.error().reason().c_str()).c_str());
        return;
    }
    listPath_ = path;
}

}  // namespace tabro
