// Shared by the database's own source files: the class-descriptor members every
// database class defines the same way, and the copy of a text handed to callers
// that free it with acutDelString.
#pragma once

#include "host/db/AcDbObject.h"

#include <string>
#include <string_view>

namespace hostdb {
char* copyText(const std::string& s);
char* copyText(std::string_view s);
}  // namespace hostdb

#define ACRX_DEFINE_MEMBERS(CLASS, PARENT)                           \
    static const AcRxClass k##CLASS##Class{#CLASS, PARENT::desc()};  \
    const AcRxClass* CLASS::desc() { return &k##CLASS##Class; }      \
    const AcRxClass* CLASS::isA() const { return &k##CLASS##Class; } \
    CLASS* CLASS::cast(AcDbObject* p) { return p && p->isKindOf(desc()) ? static_cast<CLASS*>(p) : nullptr; }
