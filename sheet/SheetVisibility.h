// A worksheet's visibility as the workbook file spells it; automation's spelling is
// the front's.
#pragma once

#include "sheet/Automation.h"

#include <optional>
#include <string_view>

namespace sheet {

// The state attribute of a sheet in workbook.xml: "visible" (the default, so never
// written), "hidden", "veryHidden".
std::string_view stateAttribute(Visibility visibility);
std::optional<Visibility> visibilityOfState(std::string_view state);

}  // namespace sheet
