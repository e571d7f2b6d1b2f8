// The toolbar.
#include "module/cmd/cmdhelp.h"

#include "host/AcedCommand.h"
#include "host/AcedMenu.h"
#include "module/cmd/cmdinit.h"

namespace tabro {

bool showToolbar() {
    if (!acedIsMenuGroupLoaded(kMenuGroup)) return true;
    SystemVariableScope quiet("cmdecho", 0);
    acedCommand(RTSTR, "_.-toolbar", RTSTR, kToolbarName, RTSTR, "_show", 0);
    return true;
}

}  // namespace tabro
