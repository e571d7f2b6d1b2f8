// Layer 0, shared by every layer: class objects, dictionaries and the system
// registry the services above fill.
#include "host/AcRx.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>

const AcRxClass* AcRxObject::desc() {
    static const AcRxClass cls("AcRxObject", nullptr);
    return &cls;
}

const AcRxClass* AcRxObject::isA() const { return AcRxObject::desc(); }

bool AcRxObject::isKindOf(const AcRxClass* cls) const {
    const AcRxClass* mine = isA();
    return mine && cls && mine->isDerivedFrom(cls);
}

ACRX_DEFINE_RXOBJECT_MEMBERS(AcRxDictionary, AcRxObject)
ACRX_DEFINE_RXOBJECT_MEMBERS(AcRxClassDictionary, AcRxObject)

AcRxObject* AcRxDictionary::at(const char* key) const {
    if (!key) return nullptr;
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : it->second;
}

AcRxObject* AcRxDictionary::atPut(const char* key, AcRxObject* object) {
    AcRxObject*& slot = entries_[key];
    return std::exchange(slot, object);
}

AcRxObject* AcRxDictionary::remove(const char* key) {
    auto it = entries_.find(key);
    if (it == entries_.end()) return nullptr;
    AcRxObject* old = it->second;
    entries_.erase(it);
    return old;
}

std::vector<std::string> AcRxDictionary::keys() const {
    std::vector<std::string> result;
    for (const auto& [key, value] : entries_) result.push_back(key);
    return result;
}

const AcRxClass* AcRxClassDictionary::at(const char* name) const {
    if (!name) return nullptr;
    auto it = classes_.find(name);
    return it == classes_.end() ? nullptr : it->second;
}

void AcRxClassDictionary::atPut(const AcRxClass* cls) {
    if (cls) classes_[cls->name()] = cls;
}

AcRxClassDictionary* acrxClassDictionaryPtr() {
    static AcRxClassDictionary* dictionary = [] {
        auto* d = new AcRxClassDictionary;
        for (const AcRxClass* cls : {AcRxObject::desc(), AcRxDictionary::desc(), AcRxClassDictionary::desc()})
            d->atPut(cls);
        return d;
    }();
    return dictionary;
}

void acrxBuildClassHierarchy() {
    // Class descriptors link to their parents when they are made, and the host's
    // services enter their classes as the host library loads; what is left is to
    // have the dictionary's own classes entered, which it does on first use.
    acrxClassDictionaryPtr();
}

AcRxDictionary* acrxSysRegistry() {
    static AcRxDictionary* registry = [] {
        auto* r = new AcRxDictionary;
        r->atPut(ACRX_CLASS_DICTIONARY, acrxClassDictionaryPtr());
        return r;
    }();
    return registry;
}

void acrx_abort(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fflush(stdout);
    std::fprintf(stderr, "\nFATAL ERROR: %s\n", text);
    std::fflush(stderr);
    std::_Exit(3);
}
