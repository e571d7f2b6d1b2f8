// The options dialog behind TABRO Options. Main thread, inside the command.
#pragma once

namespace tabro {

// The modal options dialog; true when it ends with OK.
bool showOptionsDialog();

}  // namespace tabro
