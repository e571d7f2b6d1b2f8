// The object map is empty until the event handler class exists: there is nothing to
// register yet, and nothing to release.
#include "module/link/ComServer.h"

namespace tabro {

void initComModule(HINSTANCE) {}

bool registerComServer(HINSTANCE) { return true; }

void terminateComModule() {}

}  // namespace tabro
