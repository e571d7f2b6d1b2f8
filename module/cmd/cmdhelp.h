// TABRO Toolbar and TABRO Help. Main thread, inside the command (the Options
// dialog's help calls showHelp too).
#pragma once

namespace tabro {

// The module's toolbar, as its menu group names it, and the help file.
inline constexpr const char* kToolbarName = "tabro.tb_tabro";
inline constexpr const char* kHelpFile = "tabro.chm";

// "Toolbar": runs "_.-toolbar tabro.tb_tabro _show" with CMDECHO 0 when the menu
// group is loaded, and nothing when it is not. Returns true.
bool showToolbar();
// "Help": opens the module's help file at its default topic through the HTML help
// library, loaded on first use and then kept in the application object. Shows
// nothing of the module's own when the library or its entry point is missing.
void showHelp();

}  // namespace tabro
