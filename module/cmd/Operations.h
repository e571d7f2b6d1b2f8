// The operations the TABRO keywords call that live outside the import: export, the
// options dialog, the live link, toolbar and help. (Import and Import2 are in
// cmdimport.h.) Main thread; automation failures throw to the command guard.
#pragma once

namespace tabro {

struct Settings;

// "Export": the blocks chosen in the block selection dialog, with these settings.
bool Export(Settings& settings);
// "Export2": the blocks named on the command line; loads its own settings.
bool Export2();
// "Options": the modal options dialog; true when it ends with OK.
bool showOptionsDialog();
// "Connect" (after disconnectLink) and the export's automatic reconnect.
bool connectLink();
// "Disconnect", and both exports before they write.
void disconnectLink();
// "Toolbar": shows the module's toolbar when its menu group is loaded.
bool showToolbar();
// "Help": opens the help file.
void showHelp();

}  // namespace tabro
