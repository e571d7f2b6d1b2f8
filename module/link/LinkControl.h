// Switching the live link on and off: TABRO Connect and Disconnect, and the exports,
// which switch it off before they write. Main thread.
#pragma once

namespace tabro {

// "Connect" (after disconnectLink) and the export's automatic reconnect. What the
// link said once before (LinkNotices) it says again.
bool connectLink();
// "Disconnect", and both exports before they write.
void disconnectLink();

}  // namespace tabro
