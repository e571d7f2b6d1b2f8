// The guards every command body runs in: an automation error, an OLE exception or a
// dispatch exception becomes its report; anything else becomes one error box. The
// guard always returns normally; what the body did before failing stays done.
#pragma once

#include <functional>

namespace tabro {

// The last branch shows texts 6 (text) and 5 (caption) of the resource module.
void commandGuard(const std::function<void()>& body);
// The last branch shows the fixed text "ERROR: general exception found." with the
// caption "Error" (the diagnostic command must report even without its texts).
void diagnosticGuard(const std::function<void()>& body);

}  // namespace tabro
