// The module's help file, shown by TABRO Help and by the Options dialog's help.
// Main thread.
#pragma once

namespace tabro {

inline constexpr const char* kHelpFile = "tabro.chm";

// Opens the module's help file at its default topic through the HTML help library,
// loaded on first use and then kept in the application object. Shows nothing of the
// module's own when the library or its entry point is missing.
void showHelp();

}  // namespace tabro
