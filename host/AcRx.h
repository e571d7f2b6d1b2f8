// Layer 0, shared by every layer: the host's runtime class system and system
// registry: application message codes, class objects with their hierarchy,
// dictionaries, and the services a module calls while it starts (unlocking, building
// the class hierarchy, the fatal abort). The services above enter themselves here.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace AcRx {
enum AppMsgCode {
    kNullMsg = 0,
    kInitAppMsg = 1,
    kUnloadAppMsg = 2,
    kLoadDwgMsg = 3,
    kUnloadDwgMsg = 4,
    kInvkSubrMsg = 5,
    kCfgMsg = 6,
    kEndMsg = 7,
    kQuitMsg = 8,
    kSaveMsg = 9,
    kDependencyMsg = 10,
    kNoDependencyMsg = 11,
    kOleUnloadAppMsg = 12,
    kPreQuitMsg = 13,
    kInitDialogMsg = 14,
    kEndDialogMsg = 15,
};
enum AppRetCode {
    kRetOK = 0,
    kRetError = 3,
};
}  // namespace AcRx

// Runtime class descriptors (AcRxClass) are the drawing database's; the host's
// own service objects share them.
#include "host/db/AcDbObject.h"

// Base of the host's service objects found through the system registry.
class AcRxObject {
public:
    virtual ~AcRxObject() = default;
    static const AcRxClass* desc();
    virtual const AcRxClass* isA() const;
    bool isKindOf(const AcRxClass* cls) const;
};

// desc(), isA() and cast() for a class derived from AcRxObject (the drawing
// database's ACRX_DECLARE_MEMBERS is the same for database objects).
#define ACRX_DECLARE_RXOBJECT_MEMBERS(CLASS)                                                                        \
    static const AcRxClass* desc();                                                                                 \
    const AcRxClass* isA() const override;                                                                          \
    static CLASS* cast(const AcRxObject* object) {                                                                  \
        return object && object->isKindOf(desc()) ? static_cast<CLASS*>(const_cast<AcRxObject*>(object)) : nullptr; \
    }

#define ACRX_DEFINE_RXOBJECT_MEMBERS(CLASS, PARENT)         \
    const AcRxClass* CLASS::desc() {                        \
        static const AcRxClass cls(#CLASS, PARENT::desc()); \
        return &cls;                                        \
    }                                                       \
    const AcRxClass* CLASS::isA() const { return CLASS::desc(); }

// A dictionary of objects by name (names compare exactly). Owns nothing: the
// objects it names live elsewhere (host singletons, class objects).
class AcRxDictionary : public AcRxObject {
public:
    ACRX_DECLARE_RXOBJECT_MEMBERS(AcRxDictionary)
    // Null when there is no such entry.
    AcRxObject* at(const char* key) const;
    // Enters or replaces an entry and returns what it held (null if none).
    AcRxObject* atPut(const char* key, AcRxObject* object);
    // Removes the entry and returns what it held (null if none).
    AcRxObject* remove(const char* key);
    bool has(const char* key) const { return at(key) != nullptr; }
    std::vector<std::string> keys() const;

private:
    std::map<std::string, AcRxObject*> entries_;
};

constexpr const char* ACRX_COMMAND_DOCK = "ACAD_REGISTERED_COMMANDS";
constexpr const char* ACRX_DYNAMIC_LINKER = "DynamicLinker";
constexpr const char* ACRX_CLASS_DICTIONARY = "ClassDictionary";

// The host's system registry: "ACAD_REGISTERED_COMMANDS" (the command stack),
// "DynamicLinker" (the module loader) and "ClassDictionary" (class objects by name).
// The "ClassDictionary": class descriptors by name. Holds the host's service classes
// (AcRxObject, AcRxDictionary, AcEdCommandStack, AcRxDynamicLinker, AcApDocManager,
// AcApDocument) and whatever is entered with atPut. Each service enters itself and
// its class while the host library is loaded, so that a module finds them before it
// has used any of them.
class AcRxClassDictionary : public AcRxObject {
public:
    ACRX_DECLARE_RXOBJECT_MEMBERS(AcRxClassDictionary)
    // Null when no class has that name.
    const AcRxClass* at(const char* name) const;
    void atPut(const AcRxClass* cls);

private:
    std::map<std::string, const AcRxClass*> classes_;
};

AcRxDictionary* acrxSysRegistry();
AcRxClassDictionary* acrxClassDictionaryPtr();
#define acrxClassDictionary acrxClassDictionaryPtr()

// Lets the host unload the application later (a locked application stays loaded).
// Served by the module loader.
bool acrxUnlockApplication(void* appId);
bool acrxApplicationIsLocked(const char* moduleName);
// Enters the host's service classes in the "ClassDictionary".
void acrxBuildClassHierarchy();
// Prints the text (printf format) as a fatal error and ends the host program.
[[noreturn]] void acrx_abort(const char* format, ...) __attribute__((format(printf, 1, 2)));
