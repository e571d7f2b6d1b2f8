// Files that are not .xlsx packages, told by their content whatever their name: a
// workbook of another format, or a text file saved from a spreadsheet, is named as
// what it is, rather than refused for a zip entry it lacks, so that the user learns
// which program opens it or how to save it.
#pragma once

#include "sheet/xlsx/XlsxError.h"

#include <string>
#include <string_view>

namespace sheet::xlsx {

// The reader's refusal of such a file. kind() says what the file is: "an
// OpenDocument spreadsheet", "a workbook in the older binary format (.xls)", or, for
// what is no workbook at all, "a text (CSV) file, not a workbook".
class ForeignFileError : public XlsxError {
public:
    // isWorkbook: the file is a workbook, only not an .xlsx one.
    ForeignFileError(std::string kind, bool isWorkbook, bool isDrawing = false);
    const std::string& kind() const noexcept { return kind_; }
    // A drawing (DXF) given where a workbook was asked for: arguments swapped,
    // most likely, which the host can say rather than how to convert it.
    bool isDrawing() const noexcept { return isDrawing_; }

private:
    std::string kind_;
    bool isDrawing_ = false;
};

// What a file that is no zip archive holds, when it is a known kind: a compound
// file of the older binary formats, an OpenDocument spreadsheet as flat XML, another
// XML or HTML document, or text (UTF-8, UTF-16 with its byte order mark, or a
// single-byte code page: no control characters but tabs, line ends and form feeds),
// or a drawing (DXF, ASCII or binary).
// Throws ForeignFileError then; returns for anything else.
void refuseForeignFile(std::string_view bytes);

// The same for a zip archive whose first entry is "mimetype", as an OpenDocument
// package's is, given that entry's content.
[[noreturn]] void refuseOpenDocument(std::string_view mimetype);

}  // namespace sheet::xlsx
