// Telling the user of a registry file the module cannot use as it is.
#pragma once

#include "platform/Registry.h"

namespace tabro {

// Shows one warning box for each registry file (user.reg, which holds the options;
// classes.reg, where the module registers its live link's handler) that cannot be
// read, or not in full, naming the file and why: a folder, pipe or device in its
// place, a file that cannot be opened, a key nested too deep. Each file is told of
// once while the module is loaded, however often this is called; a sound file says
// nothing. At each TABRO command, for both files, so that a file that goes bad
// during a session is told of too.
void reportRegistryFileProblems();
// The same for the one file of `predefinedKey` (HKEY_CLASSES_ROOT when the module
// starts: its registration has just read that file, while the options are read only
// by a command).
void reportRegistryFileProblem(HKEY predefinedKey);
// From now on each file is told of again (the module's unload).
void forgetRegistryFileReports();

}  // namespace tabro
