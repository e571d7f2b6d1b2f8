// The Worksheet object: one sheet's name and place, and the ranges of its cells.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"

#include <memory>

namespace sheet {

platform::ComPtr<IDispatch> makeWorksheetObject(const std::shared_ptr<AppState>& app,
                                                const std::shared_ptr<Sheet>& sheet);

// The sheet of a worksheet object made here, or null.
std::shared_ptr<Sheet> sheetOf(IDispatch* object);

}  // namespace sheet
