// Layer 5b, on the application context: the command stack, commands registered by
// modules in named groups, found by global or local name in any letter case. What an
// application added goes when the context removes the application.
#pragma once

#include "host/AcRx.h"
#include "host/db/AcadErrorStatus.h"
#include "platform/WinTypes.h"

#include <string>
#include <vector>

using AcRxFunctionPtr = void (*)();

// Command flags (the low bits of the host's values).
constexpr int ACRX_CMD_MODAL = 0x00000000;
constexpr int ACRX_CMD_TRANSPARENT = 0x00000001;
constexpr int ACRX_CMD_USEPICKSET = 0x00000002;
constexpr int ACRX_CMD_REDRAW = 0x00000004;
constexpr int ACRX_CMD_NOPERSPECTIVE = 0x00000008;
constexpr int ACRX_CMD_NOMULTIPLE = 0x00000010;
constexpr int ACRX_CMD_NOTILEMODE = 0x00000020;
constexpr int ACRX_CMD_NOPAPERSPACE = 0x00000040;
constexpr int ACRX_CMD_UNDEFINED = 0x00000200;
constexpr int ACRX_CMD_SESSION = 0x00200000;

struct AcEdCommand {
    std::string group;
    std::string globalName;
    std::string localName;
    int flags;
    AcRxFunctionPtr function;
    void* appId;  // the application that added it (null for the host's own callers)
};

class AcEdCommandStack : public AcRxObject {
public:
    ACRX_DECLARE_RXOBJECT_MEMBERS(AcEdCommandStack)

    // Adds a command to `group` (created on first use). A global or local name that
    // the group already holds is refused with eDuplicateKey; other groups may use it
    // too, the latest added wins in lookups. The extra arguments of the host's
    // signature (user interface context, resource handle, identifier) are accepted.
    Acad::ErrorStatus addCommand(const char* group, const char* globalName, const char* localName, int flags,
                                 AcRxFunctionPtr function, void* uiContext = nullptr, int functionCode = -1,
                                 HINSTANCE resourceHandle = nullptr, void* commandId = nullptr);
    // Removes every command of the group; eKeyNotFound when there is no such group.
    Acad::ErrorStatus removeGroup(const char* group);
    Acad::ErrorStatus removeCmd(const char* group, const char* globalName);

    // Finds a command by global name (leading "_" selects global names only) or by
    // local name, ignoring letter case; null when none matches.
    const AcEdCommand* lookup(const char* name) const;
    const AcEdCommand* lookupGlobalCmd(const char* globalName) const;
    const AcEdCommand* lookupLocalCmd(const char* localName) const;
    std::vector<AcEdCommand> commandsOfGroup(const char* group) const;
    bool hasGroup(const char* group) const;
    // Removes whatever an application added and did not remove before it was unloaded,
    // so that no command points into unmapped code. Returns how many were removed.
    // The host's stack is called so by the application context's unload hook.
    int removeCommandsOf(void* appId);

private:
    std::vector<AcEdCommand> commands_;  // in the order added
};

AcEdCommandStack* acedRegCmdsPtr();
#define acedRegCmds acedRegCmdsPtr()
