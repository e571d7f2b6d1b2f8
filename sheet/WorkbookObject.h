// The Workbook object: one workbook's sheets, name, file and activation.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"

#include <memory>

namespace sheet {

platform::ComPtr<IDispatch> makeWorkbookObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Book>& book);

}  // namespace sheet
