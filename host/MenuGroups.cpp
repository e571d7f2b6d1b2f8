// Layer 8, the menus: the loaded menu groups.
#include "host/MenuGroups.h"

#include "host/AcApDocManager.h"
#include "host/AcedMenu.h"
#include "platform/File.h"

#include <strings.h>

#include <cerrno>

#include <list>

namespace host {
namespace {

constexpr std::uint64_t kMaxMenuFileBytes = 1u << 20;

// A list: pointers handed out stay valid while other groups come and go.
std::list<LoadedMenuGroup>& groups() {
    static std::list<LoadedMenuGroup> loaded;
    return loaded;
}

bool sameName(const std::string& a, const std::string& b) { return ::strcasecmp(a.c_str(), b.c_str()) == 0; }

bool hasExtension(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
}

}  // namespace

MenuLoadResult loadMenuGroup(const std::string& path) {
    MenuLoadResult result;
    std::string file = path;
    std::string text;
    platform::FileStatus read = platform::readFile(file, text, kMaxMenuFileBytes);
    if (!read && read.error().step == platform::FileStep::open && read.error().code == ENOENT && !hasExtension(path)) {
        file = path + ".mnu";
        read = platform::readFile(file, text, kMaxMenuFileBytes);
    }
    if (!read) {
        const platform::FileError& e = read.error();
        result.error = e.step == platform::FileStep::open && e.code == ENOENT
                           ? "Cannot find menu file " + path + "."
                           : "Cannot read menu file " + file + ": " + e.reason() + ".";
        return result;
    }
    MenuFileResult parsed = parseMenuFile(text);
    if (!parsed.menu) {
        result.error = "Error in menu file " + file +
                       (parsed.line > 0 ? ", line " + std::to_string(parsed.line) : std::string()) + ": " +
                       parsed.error + ".";
        return result;
    }
    result.groupName = parsed.menu->groupName;
    if (findMenuGroup(result.groupName)) {
        result.error = "Menu group " + result.groupName + " is already loaded.";
        return result;
    }
    LoadedMenuGroup group;
    group.path = file;
    for (const Toolbar& t : parsed.menu->toolbars) group.toolbarShown.push_back(t.isShownAtLoad);
    group.menu = std::move(*parsed.menu);
    groups().push_back(std::move(group));
    result.isLoaded = true;
    return result;
}

bool unloadMenuGroup(const std::string& name) {
    auto& all = groups();
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (sameName(it->menu.groupName, name)) {
            all.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<LoadedMenuGroup*> loadedMenuGroups() {
    std::vector<LoadedMenuGroup*> out;
    for (LoadedMenuGroup& g : groups()) out.push_back(&g);
    return out;
}

LoadedMenuGroup* findMenuGroup(const std::string& name) {
    for (LoadedMenuGroup& g : groups())
        if (sameName(g.menu.groupName, name)) return &g;
    return nullptr;
}

std::vector<ToolbarRef> findToolbars(const std::string& name) {
    std::vector<ToolbarRef> found;
    bool all = sameName(name, "ALL") || sameName(name, "_ALL");
    std::string group, toolbar = name;
    if (std::size_t dot = name.find('.'); dot != std::string::npos) {
        group = name.substr(0, dot);
        toolbar = name.substr(dot + 1);
    }
    for (LoadedMenuGroup& g : groups()) {
        if (!group.empty() && !sameName(g.menu.groupName, group)) continue;
        for (std::size_t i = 0; i < g.menu.toolbars.size(); ++i) {
            if (all || sameName(g.menu.toolbars[i].name, toolbar)) {
                found.push_back(ToolbarRef{&g, i});
                if (!all) return found;
            }
        }
    }
    return found;
}

bool runMenuItem(const MenuItem& item) {
    if (item.isSeparator || item.isGrayed) return false;
    AcApDocument* document = acDocManager->curDocument();
    if (!document) return false;
    return acDocManager->sendStringToExecute(document, item.input.c_str());
}

void unloadAllMenuGroups() { groups().clear(); }

}  // namespace host

bool acedIsMenuGroupLoaded(const char* groupName) { return groupName && host::findMenuGroup(groupName) != nullptr; }
