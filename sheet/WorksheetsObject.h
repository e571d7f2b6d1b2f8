// The Worksheets collection of one workbook: sheets by index or name, and Add.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"

#include <memory>

namespace sheet {

platform::ComPtr<IDispatch> makeWorksheetsObject(const std::shared_ptr<AppState>& app,
                                                 const std::shared_ptr<Book>& book);

}  // namespace sheet
