// The running application as the stand-in's workbook files and tests reach it: its
// front (the object model and its events) and the backend keeping its workbooks.
#pragma once

#include "automation/Front.h"
#include "sheet/MemoryBackend.h"

#include <memory>

namespace sheet {

// The running application's front and backend, or null when none runs.
std::shared_ptr<automation::Front> runningFront();
std::shared_ptr<MemoryBackend> runningBackend();

}  // namespace sheet
