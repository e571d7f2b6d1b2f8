// The toolbar and the help file.
#include "module/cmd/cmdhelp.h"

#include "host/AcedCommand.h"
#include "host/AcedMenu.h"
#include "module/LinkApp.h"
#include "module/cmd/cmdinit.h"
#include "platform/HtmlHelp.h"
#include "platform/Module.h"

#include <cstdio>

namespace tabro {

bool showToolbar() {
    if (!acedIsMenuGroupLoaded(kMenuGroup)) return true;
    SystemVariableScope quiet("cmdecho", 0);
    acedCommand(RTSTR, "_.-toolbar", RTSTR, kToolbarName, RTSTR, "_show", 0);
    return true;
}

void showHelp() {
    LinkApp& app = *linkApp();
    if (!app.helpLibrary) {
        // Kept until the process ends: the help window may outlive the command.
        app.helpLibrary = LoadLibraryA(HTMLHELP_LIBRARY);
        if (!app.helpLibrary) return;
    }
    auto htmlHelp =
        reinterpret_cast<HtmlHelpAFunction>(GetProcAddress(app.helpLibrary, MAKEINTRESOURCEA(HTMLHELP_ORDINAL_ANSI)));
    if (!htmlHelp) return;
    const char* folder = app.moduleFolder();
    char path[MAX_PATH];
    if (!folder) return;
    int length = std::snprintf(path, sizeof path, "%s/%s", folder, kHelpFile);
    if (length < 0 || length >= static_cast<int>(sizeof path)) return;
    htmlHelp(nullptr, path, HH_DISPLAY_TOPIC, 0);
}

}  // namespace tabro
