// TABRO Toolbar and TABRO Help. Main thread, inside the command.
#pragma once

namespace tabro {

// "Toolbar": shows the module's toolbar when its menu group is loaded.
bool showToolbar();
// "Help": opens the help file.
void showHelp();

}  // namespace tabro
