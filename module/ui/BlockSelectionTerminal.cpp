// The block selection dialog presented on the host's command line.
#include "module/ui/BlockSelectionDialog.h"

namespace tabro::ui {

// Waits for the host's editor input functions; until then the dialog cancels.
int terminalBlockSelection(BlockSelectionDialog&) { return IDCANCEL; }

}  // namespace tabro::ui
