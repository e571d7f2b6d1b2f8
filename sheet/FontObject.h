// The Font object of a range: Bold.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"
#include "sheet/RangeObject.h"

#include <memory>

namespace sheet {

// range is the range object asked, answered again as the font's Parent.
platform::ComPtr<IDispatch> makeFontObject(const std::shared_ptr<AppState>& app, platform::ComPtr<IDispatch> range,
                                           const std::shared_ptr<Sheet>& sheet, Area area);

}  // namespace sheet
