// The body of the AutoLISP function "init_tabro": loads the module's menu into the
// host when its menu group is missing.
#pragma once

namespace tabro {

// Returns RTNORM and sets no AutoLISP result.
int loadMenuIfMissing();

}  // namespace tabro
