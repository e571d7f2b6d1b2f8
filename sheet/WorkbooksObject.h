// The Workbooks collection: the open workbooks by index or name, and Add.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"

#include <memory>

namespace sheet {

platform::ComPtr<IDispatch> makeWorkbooksObject(const std::shared_ptr<AppState>& app);

}  // namespace sheet
