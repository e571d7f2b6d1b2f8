// The menu check arrives with the menu file; until then there is nothing to load.
#include "module/cmd/cmdinit.h"

#include "host/Ads.h"

namespace tabro {

int loadMenuIfMissing() { return RTNORM; }

}  // namespace tabro
