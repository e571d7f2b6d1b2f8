// The spreadsheet reads import makes, by dispatch id: cells, their values, texts and
// comments, and the workbook and sheet collections. Each call throws _com_error when
// the application refuses it; a null object where one is required throws E_POINTER.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Unknown.h"
#include "platform/Variant.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tabro::importcells {

using platform::ComPtr;
using platform::Variant;

// The running application only; a failure code when there is none.
HRESULT attachApp(ComPtr<IDispatch>& app);

ComPtr<IDispatch> activeWorkbook(IDispatch* app);      // null when none
ComPtr<IDispatch> activeSheet(IDispatch* appOrBook);   // null when none
ComPtr<IDispatch> workbooks(IDispatch* app);
ComPtr<IDispatch> worksheets(IDispatch* book);
std::int32_t count(IDispatch* collection);
ComPtr<IDispatch> item(IDispatch* collection, std::int32_t index);
std::u16string name(IDispatch* bookOrSheet);

ComPtr<IDispatch> cells(IDispatch* worksheet);
ComPtr<IDispatch> cell(IDispatch* cells, std::int32_t row, std::int32_t column);
Variant value(IDispatch* cell);
// The displayed text, as the application gives it (normally text already).
Variant displayed(IDispatch* cell);
// The comment's text; no value when the cell has no comment.
std::optional<std::u16string> commentText(IDispatch* cell);

// Cell value to text. The lenient form converts in place and answers false for a
// value that has no text (an error value); the strict form throws that failure.
bool toTextLenient(Variant& value, std::u16string& text);
std::u16string toTextStrict(const Variant& value);
// Numbers as they are; text by its leading number ("." as decimal point, 0 when
// there is none); anything else leaves `target` as it was.
void toNumber(const Variant& value, double& target);

// Multibyte text of the system code page and back; a text that cannot convert
// throws.
std::string toMultibyte(const std::u16string& text);
std::u16string toWide(const std::string& text);

}  // namespace tabro::importcells
