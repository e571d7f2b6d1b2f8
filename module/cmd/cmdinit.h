// The body of the AutoLISP function "init_tabro": loads the module's menu into the
// host when its menu group is missing. Main thread, in the drawing's context.
#pragma once

namespace tabro {

// The module's menu group and its menu file, looked for in the module's folder.
inline constexpr const char* kMenuGroup = "TABRO";
inline constexpr const char* kMenuFile = "tbmenu";

// When the host has no menu group "TABRO", runs "_.menuload" on the module's
// "tbmenu" with CMDECHO 0, and gives CMDECHO back the user's value on every way
// out. A file the host cannot load leaves the group missing, to be tried again
// at the next drawing; nothing is reported by the module. Returns RTNORM and sets
// no AutoLISP result.
int loadMenuIfMissing();

// Holds a 16-bit system variable at a value for the scope's lifetime and gives it
// back the value it had. A variable that cannot be read is left alone.
class SystemVariableScope {
public:
    SystemVariableScope(const char* name, short value);
    ~SystemVariableScope();
    SystemVariableScope(const SystemVariableScope&) = delete;
    SystemVariableScope& operator=(const SystemVariableScope&) = delete;

private:
    const char* name_;
    short saved_ = 0;
    bool isSaved_ = false;
};

}  // namespace tabro
