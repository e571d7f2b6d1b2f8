// The front's terms the stand-in keeps its workbooks in: cell references, numbers
// and error values as text, UTF conversions, sheet names and visibility. The
// stand-in's code uses them as its own.
#pragma once

#include "automation/CellRef.h"
#include "automation/Names.h"
#include "automation/NumberText.h"
#include "automation/Utf.h"
#include "automation/Visibility.h"

namespace sheet {

using namespace ::automation;

}  // namespace sheet
