// The menu check run in every drawing as it opens.
#include "module/cmd/cmdinit.h"

#include "host/AcedCommand.h"
#include "host/AcedMenu.h"
#include "host/Editor.h"
#include "module/base/ArxAppBase.h"
#include "platform/Module.h"

#include <cstdio>

namespace tabro {

SystemVariableScope::SystemVariableScope(const char* name, short value) : name_(name) {
    resbuf saved{};
    // Only a value that was read can be restored; setting one without would
    // leave the user with a value they never had.
    if (acedGetVar(name_, &saved) != RTNORM || saved.restype != RTSHORT) return;
    saved_ = saved.resval.rint;
    isSaved_ = true;
    resbuf changed{};
    changed.restype = RTSHORT;
    changed.resval.rint = value;
    acedSetVar(name_, &changed);
}

SystemVariableScope::~SystemVariableScope() {
    if (!isSaved_) return;
    resbuf saved{};
    saved.restype = RTSHORT;
    saved.resval.rint = saved_;
    acedSetVar(name_, &saved);
}

int loadMenuIfMissing() {
    if (acedIsMenuGroupLoaded(kMenuGroup)) return RTNORM;
    const char* folder = arxApp()->moduleFolder();
    char path[MAX_PATH];
    // Without its folder, or with a path cut short, the menu file cannot be named:
    // loading whatever a cut path names would be worse than loading nothing.
    if (!folder) return RTNORM;
    int length = std::snprintf(path, sizeof path, "%s/%s", folder, kMenuFile);
    if (length < 0 || length >= static_cast<int>(sizeof path)) return RTNORM;
    SystemVariableScope quiet("CMDECHO", 0);
    acedCommand(RTSTR, "_.menuload", RTSTR, path, 0);
    return RTNORM;
}

}  // namespace tabro
