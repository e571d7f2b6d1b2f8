// Type libraries: the description reader, the library and type objects over what it
// read, and registration under HKEY_CLASSES_ROOT.
#include "platform/TypeLib.h"

#include "platform/ErrorInfo.h"
#include "platform/File.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace platform {
namespace {

constexpr std::size_t kMaxDescriptionBytes = 1u << 20;
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxHelpBytes = 4096;
constexpr std::size_t kMaxTypes = 4096;
constexpr std::size_t kMaxMembers = 4096;
constexpr unsigned kMaxArguments = 255;
constexpr const char* kProxyStubClsid = "{00020424-0000-0000-C000-000000000046}";

// ---------------------------------------------------------------- the model

struct Member {
    std::string name;
    MEMBERID id = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    unsigned args = 0;
    std::string help;
};

struct ImplType {
    std::size_t type;  // index into Library::types
    int flags;         // IMPLTYPEFLAG_*
};

struct TypeDesc {
    std::string name;
    GUID guid{};
    TYPEKIND kind = TKIND_INTERFACE;
    WORD flags = 0;
    std::string help;
    std::size_t line = 0;
    // Interfaces.
    std::optional<std::size_t> base;  // a base the library declares; none for IUnknown and IDispatch
    std::vector<Member> members;
    // Coclasses: names until the whole description is read, then indexes.
    std::vector<std::pair<std::string, int>> implNames;
    std::vector<ImplType> impls;
};

struct Library {
    std::string name;
    GUID guid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
    std::string help;
    std::vector<TypeDesc> types;
};

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Member names are ASCII identifiers, so a wide name matches one only if it is ASCII.
bool sameName(std::string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    std::string narrow;
    for (char16_t c : b) {
        if (c > 0x7F) return false;
        narrow += static_cast<char>(c);
    }
    return sameName(a, narrow);
}

// The members an interface answers: those of its bases in the library first.
std::vector<const Member*> allMembers(const Library& lib, const TypeDesc& type) {
    std::vector<const TypeDesc*> chain;
    for (const TypeDesc* t = &type; t; t = t->base ? &lib.types[*t->base] : nullptr) chain.push_back(t);
    std::vector<const Member*> members;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (const Member& m : (*it)->members) members.push_back(&m);
    return members;
}

// ---------------------------------------------------------------- the reader

struct ParseFailure {
    HRESULT code;
    std::size_t line;
    std::string reason;
};

struct Token {
    std::string text;
    bool isQuoted = false;
};

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    // The library, or throws ParseFailure.
    Library parse() {
        if (text_.size() > kMaxDescriptionBytes) fail(TYPE_E_INVDATAREAD, 0, "the description is larger than 1 MiB");
        if (text_.find('\0') != std::string_view::npos) fail(TYPE_E_UNSUPFORMAT, 0, "the text holds a NUL byte");
        if (!utf8ToWide(text_)) fail(TYPE_E_UNSUPFORMAT, 0, "the text is not UTF-8");
        std::size_t start = 0;
        while (start < text_.size()) {
            std::size_t end = text_.find('\n', start);
            if (end == std::string_view::npos) end = text_.size();
            std::string_view line = text_.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            ++lineNumber_;
            parseLine(line);
            start = end + 1;
        }
        if (!hasLibrary_) fail(TYPE_E_UNSUPFORMAT, 0, "no library line");
        resolveCoclasses();
        return std::move(lib_);
    }

private:
    [[noreturn]] void fail(HRESULT code, std::size_t line, std::string reason) {
        throw ParseFailure{code, line, std::move(reason)};
    }
    [[noreturn]] void fail(std::string reason) { fail(TYPE_E_INVDATAREAD, lineNumber_, std::move(reason)); }

    std::vector<Token> tokenize(std::string_view line) {
        std::vector<Token> tokens;
        std::size_t i = 0;
        while (i < line.size()) {
            char c = line[i];
            if (c == ' ' || c == '\t') {
                ++i;
                continue;
            }
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) fail("a control character");
            Token token;
            if (c == '"') {
                token.isQuoted = true;
                ++i;
                bool isClosed = false;
                while (i < line.size()) {
                    char q = line[i++];
                    if (q == '"') {
                        isClosed = true;
                        break;
                    }
                    if (q == '\\') {
                        if (i >= line.size() || (line[i] != '"' && line[i] != '\\'))
                            fail("only \\\" and \\\\ may follow a backslash in a help string");
                        q = line[i++];
                    } else if (static_cast<unsigned char>(q) < 0x20 && q != '\t') {
                        fail("a control character in a help string");
                    }
                    token.text += q;
                }
                if (!isClosed) fail("a help string without its closing quote");
                if (i < line.size() && line[i] != ' ' && line[i] != '\t') fail("text right after a closing quote");
            } else {
                while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
                    if (line[i] == '"') fail("a quote inside a word");
                    if (static_cast<unsigned char>(line[i]) < 0x20) fail("a control character");
                    token.text += line[i++];
                }
            }
            tokens.push_back(std::move(token));
        }
        return tokens;
    }

    // Reads the words after the line's keyword and name one at a time.
    class Words {
    public:
        Words(Parser& parser, std::vector<Token> tokens) : parser_(parser), tokens_(std::move(tokens)) {}
        bool done() const { return next_ >= tokens_.size(); }
        const Token& take(const char* what) {
            if (done()) parser_.fail(std::string("missing ") + what);
            return tokens_[next_++];
        }
        std::string word(const char* what) {
            const Token& t = take(what);
            if (t.isQuoted) parser_.fail(std::string("expected ") + what + ", got a quoted string");
            return t.text;
        }
        std::string quoted(const char* what) {
            const Token& t = take(what);
            if (!t.isQuoted) parser_.fail(std::string(what) + " must be in double quotes");
            return t.text;
        }

    private:
        Parser& parser_;
        std::vector<Token> tokens_;
        std::size_t next_ = 0;
    };

    // Each attribute once per line.
    void once(std::vector<std::string>& seen, const std::string& word) {
        for (const std::string& s : seen)
            if (s == word) fail("'" + word + "' given twice");
        seen.push_back(word);
    }

    std::string identifier(Words& words, const char* what) {
        std::string name = words.word(what);
        bool isValid = !name.empty() && name.size() <= kMaxNameLength && !(name[0] >= '0' && name[0] <= '9');
        for (char c : name)
            isValid =
                isValid && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
        if (!isValid) fail("'" + name + "' is not a name (letters, digits and _, not starting with a digit)");
        return name;
    }

    GUID guid(Words& words) {
        std::string text = words.word("a {GUID}");
        auto g = guidFromString(text);
        if (!g) fail("'" + text + "' is not a {GUID}");
        return *g;
    }

    // Decimal, or hexadecimal after 0x; at most max.
    std::uint64_t number(const std::string& text, std::uint64_t max, const char* what) {
        std::string_view digits = text;
        int radix = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            radix = 16;
            digits.remove_prefix(2);
        }
        if (digits.empty() || digits.size() > 16) fail(std::string("'") + text + "' is not " + what);
        std::uint64_t value = 0;
        for (char c : digits) {
            int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : 99;
            if (d >= radix) fail(std::string("'") + text + "' is not " + what);
            value = value * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
            if (value > max) fail(std::string("'") + text + "' is out of range for " + what);
        }
        return value;
    }

    std::string help(Words& words) {
        std::string text = words.quoted("the help string");
        if (text.size() > kMaxHelpBytes) fail("a help string longer than 4096 bytes");
        return text;
    }

    void parseLine(std::string_view line) {
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') return;
        Words words(*this, tokenize(line));
        std::string keyword = words.word("a keyword");
        if (!hasLibrary_) {
            if (keyword != "library")
                fail(TYPE_E_UNSUPFORMAT, lineNumber_, "the description must start with a library line");
            parseLibrary(words);
            hasLibrary_ = true;
            return;
        }
        if (keyword == "library") fail("a second library line");
        if (keyword == "importlib") {
            words.word("the file imported");
        } else if (keyword == "interface") {
            parseInterface(words);
        } else if (keyword == "coclass") {
            parseCoclass(words);
        } else if (keyword == "method" || keyword == "propget" || keyword == "propput") {
            parseMember(words, keyword);
        } else {
            fail("unknown keyword '" + keyword + "'");
        }
        if (!words.done()) fail("unexpected '" + words.take("").text + "'");
    }

    void parseLibrary(Words& words) {
        lib_.name = identifier(words, "the library's name");
        std::vector<std::string> seen;
        bool hasUuid = false, hasVersion = false;
        while (!words.done()) {
            std::string attribute = words.word("an attribute");
            once(seen, attribute);
            if (attribute == "uuid") {
                lib_.guid = guid(words);
                hasUuid = true;
            } else if (attribute == "version") {
                std::string text = words.word("a version");
                std::size_t dot = text.find('.');
                if (dot == std::string::npos || text.find('.', dot + 1) != std::string::npos ||
                    text.find_first_not_of("0123456789.") != std::string::npos)
                    fail("'" + text + "' is not a version (major.minor)");
                lib_.major = static_cast<WORD>(number(text.substr(0, dot), 0xFFFF, "a version number"));
                lib_.minor = static_cast<WORD>(number(text.substr(dot + 1), 0xFFFF, "a version number"));
                hasVersion = true;
            } else if (attribute == "lcid") {
                lib_.lcid = static_cast<LCID>(number(words.word("a locale id"), 0xFFFFFFFFu, "a locale id"));
            } else if (attribute == "helpstring") {
                lib_.help = help(words);
            } else {
                fail("unknown library attribute '" + attribute + "'");
            }
        }
        if (!hasUuid) fail("the library has no uuid");
        if (!hasVersion) fail("the library has no version");
    }

    void checkNewType(const std::string& name, const GUID& g) {
        if (lib_.types.size() >= kMaxTypes) fail("more than 4096 types");
        if (sameName(name, "IUnknown") || sameName(name, "IDispatch"))
            fail("'" + name + "' is a name taken by the platform");
        if (g == lib_.guid) fail("'" + name + "' has the library's own uuid");
        for (const TypeDesc& t : lib_.types) {
            if (sameName(t.name, name)) fail("a second type named '" + name + "'");
            if (t.guid == g) fail("'" + name + "' has the uuid of '" + t.name + "'");
        }
    }

    std::optional<std::size_t> findType(const std::string& name) const {
        for (std::size_t i = 0; i < lib_.types.size(); ++i)
            if (sameName(lib_.types[i].name, name)) return i;
        return std::nullopt;
    }

    void parseInterface(Words& words) {
        TypeDesc type;
        type.line = lineNumber_;
        type.name = identifier(words, "the interface's name");
        std::vector<std::string> seen;
        bool hasUuid = false, hasBase = false, isDual = false, isOleAutomation = false, isDispatchable = false;
        while (!words.done()) {
            std::string attribute = words.word("an attribute");
            once(seen, attribute);
            if (attribute == "uuid") {
                type.guid = guid(words);
                hasUuid = true;
            } else if (attribute == "dual") {
                isDual = true;
            } else if (attribute == "oleautomation") {
                isOleAutomation = true;
            } else if (attribute == "base") {
                std::string base = identifier(words, "the base interface");
                hasBase = true;
                if (sameName(base, "IUnknown")) {
                    isDispatchable = false;
                } else if (sameName(base, "IDispatch")) {
                    isDispatchable = true;
                } else {
                    auto index = findType(base);
                    if (!index || lib_.types[*index].kind == TKIND_COCLASS)
                        fail("the base '" + base + "' is no interface declared above");
                    type.base = *index;
                    isDispatchable = (lib_.types[*index].flags & TYPEFLAG_FDISPATCHABLE) != 0;
                }
            } else if (attribute == "helpstring") {
                type.help = help(words);
            } else {
                fail("unknown interface attribute '" + attribute + "'");
            }
        }
        if (!hasUuid) fail("the interface has no uuid");
        if (!hasBase) fail("the interface has no base");
        if (isDual && !isDispatchable) fail("a dual interface must derive from IDispatch");
        checkNewType(type.name, type.guid);
        type.kind = isDual ? TKIND_DISPATCH : TKIND_INTERFACE;
        if (isDual) type.flags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
        if (isOleAutomation) type.flags |= TYPEFLAG_FOLEAUTOMATION;
        if (isDispatchable) type.flags |= TYPEFLAG_FDISPATCHABLE;
        lib_.types.push_back(std::move(type));
        currentInterface_ = lib_.types.size() - 1;
    }

    void parseMember(Words& words, const std::string& keyword) {
        if (!currentInterface_) fail("a member outside an interface");
        Member member;
        member.kind = keyword == "method"    ? INVOKE_FUNC
                      : keyword == "propget" ? INVOKE_PROPERTYGET
                                             : INVOKE_PROPERTYPUT;
        member.name = identifier(words, "the member's name");
        std::vector<std::string> seen;
        bool hasId = false;
        while (!words.done()) {
            std::string attribute = words.word("an attribute");
            once(seen, attribute);
            if (attribute == "id") {
                std::string text = words.word("a dispatch id");
                if (!text.empty() && text[0] == '-') {
                    member.id = -static_cast<MEMBERID>(number(text.substr(1), 0x7FFFFFFF, "a dispatch id"));
                } else {
                    member.id = static_cast<MEMBERID>(static_cast<DWORD>(number(text, 0xFFFFFFFFu, "a dispatch id")));
                }
                if (member.id == MEMBERID_NIL) fail("id -1 stands for the type itself (MEMBERID_NIL)");
                hasId = true;
            } else if (attribute == "args") {
                member.args = static_cast<unsigned>(
                    number(words.word("an argument count"), kMaxArguments, "an argument count (at most 255)"));
            } else if (attribute == "helpstring") {
                member.help = help(words);
            } else {
                fail("unknown member attribute '" + attribute + "'");
            }
        }
        if (!hasId) fail("the member has no id");
        if (member.kind == INVOKE_PROPERTYPUT && member.args == 0)
            fail("a propput takes the value assigned: args 1 or more");
        TypeDesc& type = lib_.types[*currentInterface_];
        if (type.members.size() >= kMaxMembers) fail("more than 4096 members in one interface");
        // A propget and a propput may share a name and an id; nothing else may.
        for (const Member* other : allMembers(lib_, type)) {
            bool isSameName = sameName(other->name, member.name), isSameId = other->id == member.id;
            if (!isSameName && !isSameId) continue;
            bool isPropertyPair = isSameName && isSameId && other->kind != member.kind && other->kind != INVOKE_FUNC &&
                                  member.kind != INVOKE_FUNC;
            if (!isPropertyPair)
                fail(isSameName ? "a second member named '" + member.name + "'"
                                : "'" + member.name + "' has the id of '" + other->name + "'");
        }
        type.members.push_back(std::move(member));
    }

    void parseCoclass(Words& words) {
        currentInterface_.reset();
        TypeDesc type;
        type.line = lineNumber_;
        type.kind = TKIND_COCLASS;
        type.flags = TYPEFLAG_FCANCREATE;
        type.name = identifier(words, "the class's name");
        std::vector<std::string> seen;
        bool hasUuid = false, hasDefault = false;
        while (!words.done()) {
            std::string attribute = words.word("an attribute");
            if (attribute != "source") once(seen, attribute);
            if (attribute == "uuid") {
                type.guid = guid(words);
                hasUuid = true;
            } else if (attribute == "helpstring") {
                type.help = help(words);
            } else if (attribute == "default") {
                type.implNames.insert(type.implNames.begin(),
                                      {identifier(words, "the default interface"), IMPLTYPEFLAG_FDEFAULT});
                hasDefault = true;
            } else if (attribute == "source") {
                type.implNames.push_back({identifier(words, "the source interface"), IMPLTYPEFLAG_FSOURCE});
            } else {
                fail("unknown coclass attribute '" + attribute + "'");
            }
        }
        if (!hasUuid) fail("the coclass has no uuid");
        if (!hasDefault) fail("the coclass has no default interface");
        for (std::size_t i = 0; i < type.implNames.size(); ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (sameName(type.implNames[i].first, type.implNames[j].first))
                    fail("'" + type.implNames[i].first + "' named twice");
        checkNewType(type.name, type.guid);
        lib_.types.push_back(std::move(type));
    }

    // A coclass may name interfaces declared after it.
    void resolveCoclasses() {
        for (TypeDesc& type : lib_.types) {
            if (type.kind != TKIND_COCLASS) continue;
            for (auto& [name, flags] : type.implNames) {
                auto index = findType(name);
                if (!index || lib_.types[*index].kind == TKIND_COCLASS)
                    fail(TYPE_E_INVDATAREAD, type.line, "'" + name + "' is no interface of this library");
                type.impls.push_back({*index, flags});
            }
            type.implNames.clear();
        }
    }

    std::string_view text_;
    std::size_t lineNumber_ = 0;
    bool hasLibrary_ = false;
    Library lib_;
    std::optional<std::size_t> currentInterface_;
};

// ---------------------------------------------------------------- the objects

std::u16string wide(const std::string& utf8) { return utf8ToWide(utf8).value_or(std::u16string()); }

class TypeInfoObject final : public ComObject<ITypeInfo> {
public:
    TypeInfoObject(ComPtr<ITypeLib> owner, std::shared_ptr<const Library> lib, std::size_t index)
        : owner_(std::move(owner)), lib_(std::move(lib)), index_(index) {}

    HRESULT GetTypeAttr(TYPEATTR* attr) override {
        if (!attr) return E_POINTER;
        const TypeDesc& t = type();
        *attr = TYPEATTR{t.guid,
                         lib_->lcid,
                         t.kind,
                         static_cast<WORD>(t.members.size()),
                         static_cast<WORD>(t.kind == TKIND_COCLASS ? t.impls.size() : (t.base ? 1 : 0)),
                         t.flags,
                         lib_->major,
                         lib_->minor};
        return S_OK;
    }

    HRESULT GetFuncDesc(UINT index, FUNCDESC* desc) override {
        if (!desc) return E_POINTER;
        const TypeDesc& t = type();
        if (index >= t.members.size()) return TYPE_E_ELEMENTNOTFOUND;
        const Member& m = t.members[index];
        std::vector<const Member*> all = allMembers(*lib_, t);
        auto position = std::find(all.begin(), all.end(), &m) - all.begin();
        *desc = FUNCDESC{m.id, m.kind, static_cast<SHORT>(m.args), static_cast<SHORT>(position)};
        return S_OK;
    }

    HRESULT GetIDsOfNames(const std::u16string* names, UINT count, DISPID* ids) override {
        if (count == 0) return S_OK;
        if (!names || !ids) return E_POINTER;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        for (const Member* m : allMembers(*lib_, type())) {
            if (sameName(m->name, names[0])) {
                ids[0] = m->id;
                // The arguments are not described, so their names are unknown.
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }

    HRESULT GetDocumentation(MEMBERID memid, std::u16string* name, std::u16string* docString) override {
        const TypeDesc& t = type();
        const std::string* foundName = nullptr;
        const std::string* foundHelp = nullptr;
        if (memid == MEMBERID_NIL) {
            foundName = &t.name;
            foundHelp = &t.help;
        } else {
            for (const Member* m : allMembers(*lib_, t)) {
                if (m->id == memid) {
                    foundName = &m->name;
                    foundHelp = &m->help;
                    break;
                }
            }
        }
        if (!foundName) return TYPE_E_ELEMENTNOTFOUND;
        if (name) *name = wide(*foundName);
        if (docString) *docString = wide(*foundHelp);
        return S_OK;
    }

    HRESULT GetImplTypeFlags(UINT index, int* flags) override {
        if (!flags) return E_POINTER;
        auto impl = implType(index);
        if (!impl) return TYPE_E_ELEMENTNOTFOUND;
        *flags = impl->flags;
        return S_OK;
    }

    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* refType) override {
        if (!refType) return E_POINTER;
        auto impl = implType(index);
        if (!impl) return TYPE_E_ELEMENTNOTFOUND;
        *refType = static_cast<HREFTYPE>(impl->type);
        return S_OK;
    }

    HRESULT GetRefTypeInfo(HREFTYPE refType, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (refType >= lib_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        return owner_->GetTypeInfo(refType, info);
    }

    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override {
        if (!lib) return E_POINTER;
        *lib = ComPtr<ITypeLib>(owner_).detach();
        if (index) *index = static_cast<UINT>(index_);
        return S_OK;
    }

    HRESULT Invoke(void* instance, DISPID dispid, WORD flags, std::span<const Variant> args, Variant* result,
                   EXCEPINFO*) override {
        if (!instance) return E_INVALIDARG;
        const TypeDesc& t = type();
        if (t.kind == TKIND_COCLASS) return DISP_E_MEMBERNOTFOUND;
        std::vector<const Member*> members = allMembers(*lib_, t);
        for (std::size_t i = 0; i < members.size(); ++i) {
            const Member& m = *members[i];
            if (m.id != dispid || !(flags & dispatchFlagOf(m.kind))) continue;
            if (args.size() != m.args) return DISP_E_BADPARAMCOUNT;
            // Implementations may count on a result to write to.
            Variant ignored;
            return static_cast<IDescribedMethods*>(instance)->callDescribedMethod(static_cast<UINT>(i), args,
                                                                                  result ? result : &ignored);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    const TypeDesc& type() const { return lib_->types[index_]; }

    static WORD dispatchFlagOf(INVOKEKIND kind) {
        switch (kind) {
        case INVOKE_FUNC:
            return DISPATCH_METHOD;
        case INVOKE_PROPERTYGET:
            return DISPATCH_PROPERTYGET;
        case INVOKE_PROPERTYPUT:
            return DISPATCH_PROPERTYPUT;
        case INVOKE_PROPERTYPUTREF:
            return DISPATCH_PROPERTYPUTREF;
        }
        return 0;
    }

    std::optional<ImplType> implType(UINT index) const {
        const TypeDesc& t = type();
        if (t.kind == TKIND_COCLASS) {
            if (index >= t.impls.size()) return std::nullopt;
            return t.impls[index];
        }
        if (index != 0 || !t.base) return std::nullopt;
        return ImplType{*t.base, 0};
    }

    ComPtr<ITypeLib> owner_;
    std::shared_ptr<const Library> lib_;
    std::size_t index_;
};

class TypeLibObject final : public ComObject<ITypeLib> {
public:
    explicit TypeLibObject(std::shared_ptr<const Library> lib) : lib_(std::move(lib)) {}

    UINT GetTypeInfoCount() override { return static_cast<UINT>(lib_->types.size()); }

    HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index >= lib_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *info = makeCom<TypeInfoObject>(ComPtr<ITypeLib>(this), lib_, index).detach();
        return S_OK;
    }

    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
        if (!kind) return E_POINTER;
        if (index >= lib_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *kind = lib_->types[index].kind;
        return S_OK;
    }

    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        for (std::size_t i = 0; i < lib_->types.size(); ++i)
            if (lib_->types[i].guid == guid) return GetTypeInfo(static_cast<UINT>(i), info);
        return TYPE_E_ELEMENTNOTFOUND;
    }

    HRESULT GetDocumentation(INT index, std::u16string* name, std::u16string* docString) override {
        if (index < -1 || (index >= 0 && static_cast<std::size_t>(index) >= lib_->types.size()))
            return TYPE_E_ELEMENTNOTFOUND;
        const std::string& foundName = index == -1 ? lib_->name : lib_->types[static_cast<std::size_t>(index)].name;
        const std::string& foundHelp = index == -1 ? lib_->help : lib_->types[static_cast<std::size_t>(index)].help;
        if (name) *name = wide(foundName);
        if (docString) *docString = wide(foundHelp);
        return S_OK;
    }

    HRESULT GetLibAttr(TLIBATTR* attr) override {
        if (!attr) return E_POINTER;
        *attr = TLIBATTR{lib_->guid, lib_->lcid, SYS_WIN32, lib_->major, lib_->minor, 0};
        return S_OK;
    }

private:
    std::shared_ptr<const Library> lib_;
};

// ---------------------------------------------------------------- files

// Where a description is read from: the text itself, or why nothing could be read.
struct Source {
    std::string text;
    std::string failure;  // empty when text was read
};

bool isSharedLibrary(const std::string& path) {
    std::string head;
    bool cut = false;
    if (!readFilePrefix(path, head, 4, cut)) return false;
    return head ==
           "\x7f"
           "ELF";
}

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

Source readModuleResource(const std::string& path, unsigned id) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return {{}, "the library " + path + " does not load"};
    Source source;
    auto data = findResourceData(module, "TYPELIB", id);
    if (!data)
        source.failure = path + " has no TYPELIB resource " + std::to_string(id);
    else if (data->size() > kMaxDescriptionBytes)
        source.failure = "TYPELIB resource " + std::to_string(id) + " of " + path + " is larger than 1 MiB";
    else
        source.text.assign(*data);
    FreeLibrary(module);
    return source;
}

Source readSource(const std::string& path) {
    if (isRegularFile(path)) {
        if (isSharedLibrary(path)) return readModuleResource(path, 1);
        Source source;
        if (FileStatus read = readFile(path, source.text, kMaxDescriptionBytes); !read)
            source.failure = path + ": " + read.error().message();
        return source;
    }
    // "library\N" or "library/N": resource N of the library.
    std::size_t separator = path.find_last_of("\\/");
    if (separator != std::string::npos && separator + 1 < path.size() && path.size() - separator - 1 <= 9 &&
        path.find_first_not_of("0123456789", separator + 1) == std::string::npos) {
        std::string library = path.substr(0, separator);
        if (isRegularFile(library) && isSharedLibrary(library))
            return readModuleResource(library, static_cast<unsigned>(std::stoul(path.substr(separator + 1))));
    }
    return {{}, path + ": no such file"};
}

HRESULT failWith(HRESULT code, const std::string& description) {
    SetErrorInfo(0, createErrorInfo(u"LoadTypeLib", wide(description)).get());
    return code;
}

// ---------------------------------------------------------------- registration

std::string hexNumber(unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", value);
    return buffer;
}

std::string versionKey(WORD major, WORD minor) { return hexNumber(major) + "." + hexNumber(minor); }

// Creates the key (below HKEY_CLASSES_ROOT) and sets its default value, or a named one.
bool writeString(const std::string& path, const char* valueName, const std::string& text) {
    RegistryKey key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        key.put(), nullptr) != static_cast<LONG>(ERROR_SUCCESS))
        return false;
    return setRegistryString(key.get(), valueName, text) == static_cast<LONG>(ERROR_SUCCESS);
}

std::optional<std::string> readString(const std::string& path, const char* valueName = nullptr) {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != static_cast<LONG>(ERROR_SUCCESS))
        return std::nullopt;
    return queryRegistryString(key.get(), valueName);
}

std::vector<std::string> subkeys(const std::string& path) {
    std::vector<std::string> names;
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != static_cast<LONG>(ERROR_SUCCESS))
        return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        LONG r = RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (r == static_cast<LONG>(ERROR_MORE_DATA)) continue;  // no name of ours is that long
        if (r != static_cast<LONG>(ERROR_SUCCESS)) break;
        names.emplace_back(name, size);
    }
    return names;
}

bool isEmptyKey(const std::string& path) {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != static_cast<LONG>(ERROR_SUCCESS))
        return false;
    DWORD subKeys = 0, values = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != static_cast<LONG>(ERROR_SUCCESS))
        return false;
    return subKeys == 0 && values == 0;
}

// A "a.b" key name in hexadecimal.
std::optional<std::pair<WORD, WORD>> parseVersionKey(const std::string& name) {
    std::size_t dot = name.find('.');
    if (dot == 0 || dot == std::string::npos || dot + 1 >= name.size() || dot > 4 || name.size() - dot - 1 > 4)
        return std::nullopt;
    auto hex = [](std::string_view digits) -> std::optional<WORD> {
        unsigned value = 0;
        for (char c : digits) {
            int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
            if (d < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(d);
        }
        return static_cast<WORD>(value);
    };
    auto major = hex(std::string_view(name).substr(0, dot));
    auto minor = hex(std::string_view(name).substr(dot + 1));
    if (!major || !minor) return std::nullopt;
    return std::pair(*major, *minor);
}

// The registered version key for major: minor itself, else the highest minor above it.
std::optional<std::string> registeredVersion(const std::string& libKey, WORD major, WORD minor) {
    std::optional<std::string> best;
    WORD bestMinor = 0;
    for (const std::string& name : subkeys(libKey)) {
        auto version = parseVersionKey(name);
        if (!version || version->first != major || version->second < minor) continue;
        if (version->second == minor) return name;
        if (!best || version->second > bestMinor) {
            best = name;
            bestMinor = version->second;
        }
    }
    return best;
}

}  // namespace

std::string TypeLibError::message() const { return line ? "line " + std::to_string(line) + ": " + reason : reason; }

HRESULT loadTypeLibFromText(std::string_view text, ComPtr<ITypeLib>& lib, TypeLibError* error) {
    lib.reset();
    try {
        auto library = std::make_shared<const Library>(Parser(text).parse());
        lib = makeCom<TypeLibObject>(std::move(library));
        return S_OK;
    } catch (const ParseFailure& failure) {
        if (error) *error = TypeLibError{failure.code, failure.line, failure.reason};
        return failure.code;
    } catch (const std::bad_alloc&) {
        if (error) *error = TypeLibError{E_OUTOFMEMORY, 0, "out of memory"};
        return E_OUTOFMEMORY;
    }
}

}  // namespace platform

HRESULT LoadTypeLib(const OLECHAR* file, ITypeLib** lib) {
    if (!lib) return E_POINTER;
    *lib = nullptr;
    if (!file || !*file) return E_INVALIDARG;
    auto path = platform::toMultiByte(file);
    if (!path) return platform::failWith(TYPE_E_CANTLOADLIBRARY, "the file name holds a lone surrogate");
    platform::Source source = platform::readSource(*path);
    if (!source.failure.empty()) return platform::failWith(TYPE_E_CANTLOADLIBRARY, source.failure);
    platform::ComPtr<ITypeLib> loaded;
    platform::TypeLibError error{};
    if (HRESULT hr = platform::loadTypeLibFromText(source.text, loaded, &error); FAILED(hr))
        return platform::failWith(hr, *path + ": " + error.message());
    *lib = loaded.detach();
    return S_OK;
}

HRESULT RegisterTypeLib(ITypeLib* lib, const OLECHAR* fullPath, const OLECHAR* helpDir) {
    if (!lib || !fullPath) return E_INVALIDARG;
    auto path = platform::toMultiByte(fullPath);
    auto help = platform::toMultiByte(helpDir ? helpDir : u"");
    if (!path || !help) return E_INVALIDARG;
    TLIBATTR attr{};
    std::u16string name, doc;
    if (HRESULT hr = lib->GetLibAttr(&attr); FAILED(hr)) return hr;
    if (HRESULT hr = lib->GetDocumentation(-1, &name, &doc); FAILED(hr)) return hr;
    const std::string libid = platform::guidToString(attr.guid);
    const std::string version = platform::versionKey(attr.wMajorVerNum, attr.wMinorVerNum);
    const std::string base = "TypeLib\\" + libid + "\\" + version;
    auto title = platform::toMultiByte(doc.empty() ? name : doc);
    if (!title) return E_INVALIDARG;
    // Some twenty values, written to the hive once.
    platform::RegistryBatch batch;
    bool isWritten = platform::writeString(base, nullptr, *title) &&
                     platform::writeString(base + "\\FLAGS", nullptr, "0") &&
                     platform::writeString(base + "\\HELPDIR", nullptr, *help) &&
                     platform::writeString(base + "\\" + platform::hexNumber(attr.lcid) + "\\win32", nullptr, *path);
    for (UINT i = 0; isWritten && i < lib->GetTypeInfoCount(); ++i) {
        platform::ComPtr<ITypeInfo> info;
        TYPEATTR type{};
        if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&type))) return E_UNEXPECTED;
        if (type.typekind == TKIND_COCLASS || !(type.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION))) continue;
        std::u16string typeName;
        info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr);
        const std::string key = "Interface\\" + platform::guidToString(type.guid);
        isWritten = platform::writeString(key, nullptr, platform::toMultiByte(typeName).value_or("")) &&
                    platform::writeString(key + "\\ProxyStubClsid", nullptr, platform::kProxyStubClsid) &&
                    platform::writeString(key + "\\ProxyStubClsid32", nullptr, platform::kProxyStubClsid) &&
                    platform::writeString(key + "\\TypeLib", nullptr, libid) &&
                    platform::writeString(key + "\\TypeLib", "Version", version);
    }
    isWritten = batch.commit() == static_cast<LONG>(ERROR_SUCCESS) && isWritten;
    return isWritten ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
    if (!lib) return E_POINTER;
    *lib = nullptr;
    const std::string libKey = "TypeLib\\" + platform::guidToString(libid);
    auto version = platform::registeredVersion(libKey, major, minor);
    if (!version) return TYPE_E_LIBNOTREGISTERED;
    // The locale asked for, its primary language, then the neutral locale.
    for (LCID candidate : {lcid, lcid & 0x3FFu, 0u}) {
        auto path = platform::readString(libKey + "\\" + *version + "\\" + platform::hexNumber(candidate) + "\\win32");
        if (!path) continue;
        auto file = platform::toWide(*path);
        if (!file || file->empty()) return TYPE_E_CANTLOADLIBRARY;
        return LoadTypeLib(file->c_str(), lib);
    }
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
    if (syskind != SYS_WIN32) return TYPE_E_LIBNOTREGISTERED;  // only win32 paths are registered here
    const std::string libidText = platform::guidToString(libid);
    const std::string libKey = "TypeLib\\" + libidText;
    const std::string version = platform::versionKey(major, minor);
    const std::string versionPath = libKey + "\\" + version;
    const std::string lcidPath = versionPath + "\\" + platform::hexNumber(lcid);
    auto path = platform::readString(lcidPath + "\\win32");
    if (!path) return TYPE_E_LIBNOTREGISTERED;

    // The interfaces are known only from the library itself.
    platform::ComPtr<ITypeLib> lib;
    if (auto file = platform::toWide(*path); file && !file->empty()) LoadTypeLib(file->c_str(), lib.put());
    SetErrorInfo(0, nullptr);  // a library that no longer loads is no failure of ours
    auto ok = [](LONG r) {
        return r == static_cast<LONG>(ERROR_SUCCESS) || r == static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    };
    platform::RegistryBatch batch;
    bool isRemoved = ok(RegDeleteTreeA(HKEY_CLASSES_ROOT, lcidPath.c_str()));
    bool hasOtherLcid = false;
    for (const std::string& name : platform::subkeys(versionPath))
        if (!platform::sameName(name, "FLAGS") && !platform::sameName(name, "HELPDIR")) hasOtherLcid = true;
    if (!hasOtherLcid) {
        isRemoved = isRemoved && ok(RegDeleteTreeA(HKEY_CLASSES_ROOT, versionPath.c_str()));
        if (platform::isEmptyKey(libKey)) isRemoved = isRemoved && ok(RegDeleteKeyA(HKEY_CLASSES_ROOT, libKey.c_str()));
    }
    for (UINT i = 0; lib && i < lib->GetTypeInfoCount(); ++i) {
        platform::ComPtr<ITypeInfo> info;
        TYPEATTR type{};
        if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&type))) continue;
        if (type.typekind == TKIND_COCLASS) continue;
        const std::string key = "Interface\\" + platform::guidToString(type.guid);
        auto owner = platform::readString(key + "\\TypeLib");
        // An interface registered since by another library is that library's.
        if (!owner || !platform::sameName(*owner, libidText)) continue;
        isRemoved = isRemoved && ok(RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str()));
    }
    isRemoved = batch.commit() == static_cast<LONG>(ERROR_SUCCESS) && isRemoved;
    return isRemoved ? S_OK : TYPE_E_REGISTRYACCESS;
}
