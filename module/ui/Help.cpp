// The help file.
#include "module/ui/Help.h"

#include "module/base/ArxAppBase.h"
#include "platform/HtmlHelp.h"
#include "platform/Module.h"

#include <cstdio>

namespace tabro {

void showHelp() {
    ArxAppBase& app = *arxApp();
    if (!app.helpLibrary) {
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
