// Export and Export2 write nothing until the worksheet writer exists.
#include "module/cmd/Operations.h"

namespace tabro {

bool Export(Settings&) { return false; }

bool Export2() { return false; }

}  // namespace tabro
