// Layer 8, the menus: what a module asks of the host's menu groups.
#pragma once

// Whether a menu group of that name is loaded (any letter case).
bool acedIsMenuGroupLoaded(const char* groupName);
