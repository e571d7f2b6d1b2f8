// Layer 3, the editor: system variables by name, as acedGetVar and acedSetVar reach
// them. Calls nothing of the host.
#pragma once

#include "host/Ads.h"

#include <functional>
#include <string>

// acedGetVar fills `result` (a string value is allocated with new[] and owned by the
// caller, as acutNewString gives); RTERROR for an unknown name or a value of the
// wrong type.
int acedGetVar(const char* name, resbuf* result);
int acedSetVar(const char* name, const resbuf* value);

namespace host {

// A system variable served by a getter and setter. The host registers CMDECHO
// (a 16-bit integer, 1 at start); other parts of the host register their own.
struct SystemVariable {
    std::function<bool(resbuf&)> get;        // fills type and value
    std::function<bool(const resbuf&)> set;  // false: refused (wrong type or range)
};
void registerSystemVariable(const std::string& name, SystemVariable variable);
// A 16-bit integer variable with its own storage.
void registerShortVariable(const std::string& name, short initial, short minimum = -32768, short maximum = 32767);

}  // namespace host
