// TABRO Toolbar and TABRO Help (the help itself is the user interface's, which the
// Options dialog shows as well). Main thread, inside the command.
#pragma once

#include "module/ui/Help.h"

namespace tabro {

// The module's toolbar, as its menu group names it.
inline constexpr const char* kToolbarName = "tabro.tb_tabro";

// "Toolbar": runs "_.-toolbar tabro.tb_tabro _show" with CMDECHO 0 when the menu
// group is loaded, and nothing when it is not. Returns true.
bool showToolbar();

}  // namespace tabro
