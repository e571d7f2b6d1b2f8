// Layer 5, the application context: the applications the host knows (the modules the
// loader mapped), whose entry point is running, and the hooks told when one goes. The
// command stack and the AutoLISP functions subscribe to remove what an application
// left registered; the loader only announces. Calls the editor and nothing above.
// Main thread only.
#pragma once

#include "host/AcRx.h"

#include <functional>
#include <string>

namespace host {

// An application's entry point: its module's acrxEntryPoint.
using AppEntryPoint = AcRx::AppRetCode (*)(AcRx::AppMsgCode msg, void* appId);

// Makes `appId` known with its entry point; `name` (its file name) names it in the
// host's messages. An id already known takes the new entry point and name.
void addApplication(void* appId, std::string name, AppEntryPoint entry);
// Tells every unload hook, in the order added, then forgets the application. Does
// nothing for an id that is not known.
void removeApplication(void* appId);
bool isApplication(void* appId);

// Runs the application's entry point with `msg`, marked as running meanwhile: what
// it registers then is recorded as its. kRetError for an id that is not known, and
// for an exception out of the entry point, which is reported on the command line
// instead of unwinding through the host's frames.
AcRx::AppRetCode sendApplicationMessage(void* appId, AcRx::AppMsgCode msg);
// The application whose entry point is running now (the innermost); null outside of
// one.
void* currentApp();
bool isAppRunning(void* appId);

// `hook` is called with the id of each application removed, while its code is still
// mapped. Returns an id for removeAppUnloadHook.
int addAppUnloadHook(std::function<void(void* appId)> hook);
void removeAppUnloadHook(int id);

}  // namespace host
