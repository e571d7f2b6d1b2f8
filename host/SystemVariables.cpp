// Layer 3, the editor: the system variable table and CMDECHO.
#include "host/SystemVariables.h"

#include <strings.h>
#include <map>
#include <memory>
#include <mutex>

namespace host {
namespace {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const { return ::strcasecmp(a.c_str(), b.c_str()) < 0; }
};

SystemVariable shortVariable(short initial, short minimum, short maximum) {
    auto value = std::make_shared<short>(initial);
    return SystemVariable{[value](resbuf& rb) {
                              rb.restype = RTSHORT;
                              rb.resval.rint = *value;
                              return true;
                          },
                          [value, minimum, maximum](const resbuf& rb) {
                              if (rb.restype != RTSHORT || rb.resval.rint < minimum || rb.resval.rint > maximum)
                                  return false;
                              *value = rb.resval.rint;
                              return true;
                          }};
}

std::map<std::string, SystemVariable, CaseInsensitiveLess>& variables() {
    static std::map<std::string, SystemVariable, CaseInsensitiveLess> vars;
    static std::once_flag builtins;
    // CMDECHO: whether commands run by modules echo their prompts; 0 or 1.
    std::call_once(builtins, [] { vars["CMDECHO"] = shortVariable(1, 0, 1); });
    return vars;
}

}  // namespace

void registerSystemVariable(const std::string& name, SystemVariable variable) {
    variables()[name] = std::move(variable);
}

void registerShortVariable(const std::string& name, short initial, short minimum, short maximum) {
    registerSystemVariable(name, shortVariable(initial, minimum, maximum));
}

}  // namespace host

int acedGetVar(const char* name, resbuf* result) {
    if (!name || !result) return RTERROR;
    auto& vars = host::variables();
    auto it = vars.find(name);
    if (it == vars.end() || !it->second.get) return RTERROR;
    result->rbnext = nullptr;
    return it->second.get(*result) ? RTNORM : RTERROR;
}

int acedSetVar(const char* name, const resbuf* value) {
    if (!name || !value) return RTERROR;
    auto& vars = host::variables();
    auto it = vars.find(name);
    if (it == vars.end() || !it->second.set) return RTERROR;
    return it->second.set(*value) ? RTNORM : RTERROR;
}
