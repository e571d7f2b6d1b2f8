// A workbook as an .xlsx package: reading one from bytes and writing one to bytes.
// Parts the stand-in does not model travel through unchanged; sheets that were not
// changed are written back as they were read.
#pragma once

#include "sheet/Book.h"
#include "sheet/xlsx/XlsxError.h"

#include <memory>
#include <string>
#include <string_view>

namespace sheet::xlsx {

// Throws XlsxError with a message naming the part (and line, cell) at fault. When
// the file holds content that could not be written back, the book comes back with
// readOnlyReason set.
std::unique_ptr<Book> readPackage(std::string_view bytes, std::u16string name, const ReadLimits& limits = {});

// Looks, once, whether a sheet's comment drawing holds more than the notes (form
// controls, say), which rewriting the notes would lose; sets commentsLockedReason
// then.
void checkCommentDrawing(const Book& book, SheetCarry& sheetCarry);

// Fills in part names and relationship ids for new sheets and, on success, records
// what was written as the book's carried entries. Throws XlsxError, also for a
// workbook that readPackage with these limits would refuse (too many sheets or
// entries, a part or the whole too large): such a file is never produced.
std::string writePackage(Book& book, const ReadLimits& limits = {});

}  // namespace sheet::xlsx
