// The module's automation server: the class object map (the spreadsheet event
// handler class) and its registration, set up when the module is mapped.
#pragma once

#include "platform/WinTypes.h"

namespace tabro {

// Prepares the object map with the module's instance handle.
void initComModule(HINSTANCE module);
// Registers the server's classes; false when that failed (the caller goes on).
bool registerComServer(HINSTANCE module);
// Releases the cached class objects and ends the server.
void terminateComModule();

}  // namespace tabro
