// Connecting and disconnecting the live link do nothing until the link thread exists.
#include "module/link/LinkControl.h"

namespace tabro {

bool connectLink() { return false; }

void disconnectLink() {}

}  // namespace tabro
