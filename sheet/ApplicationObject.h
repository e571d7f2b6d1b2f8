// The Application object: the root of the object model and the source of the
// application events.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"

#include <memory>

namespace sheet {

// The application object of state; it enters itself as state's application while
// it lives. The process's running instance is made in RunningApplication.cpp.
platform::ComPtr<IDispatch> makeApplicationObject(const std::shared_ptr<AppState>& state);

}  // namespace sheet
