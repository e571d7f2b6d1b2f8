#include "module/ui/OpenLink.h"

#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/ui/Shell.h"

#include <cstdint>

namespace tabro::ui {

namespace {

// The default value of `subKey`, read into a buffer of MAX_PATH characters as the
// registered command always was; a longer value counts as unreadable.
bool readDefaultValue(HKEY root, const std::string& subKey, std::string& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    char buffer[MAX_PATH] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    const LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    value.assign(buffer, size > 0 && buffer[size - 1] == '\0' ? size - 1 : size);
    return true;
}

}  // namespace

int openLink(const std::string& target, int show) {
    const int shellResult = static_cast<int>(
        reinterpret_cast<std::intptr_t>(ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, show)));
    if (shellResult > 32) return shellResult;

    std::string fileType, command;
    if (!readDefaultValue(HKEY_CLASSES_ROOT, ".htm", fileType)) return shellResult;
    if (!readDefaultValue(HKEY_CLASSES_ROOT, fileType + "\\shell\\open\\command", command)) return shellResult;

    if (std::size_t at = command.find("\"%1\""); at != std::string::npos)
        command.erase(at);
    else if (std::size_t bare = command.find("%1"); bare != std::string::npos)
        command.erase(bare);
    // The target goes in as one argument: a path with blanks must not fall apart
    // into several.
    command += ' ';
    command += platform::quoteCommandLineArgument(target);
    if (command.size() + 1 > kLinkCommandLineLimit) return SE_ERR_OOM;
    return static_cast<int>(WinExec(command.c_str(), static_cast<UINT>(show)));
}

}  // namespace tabro::ui
