// The registry-script component: the script reader, applying a read script forwards
// (register) and backwards (unregister), and the class's registration at start.
#include "platform/Registrar.h"

#include "platform/ClassRegistry.h"
#include "platform/ErrorInfo.h"
#include "platform/LastError.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <cstdio>
#include <optional>

namespace platform {
namespace {

constexpr std::size_t kMaxScriptUnits = 1u << 20;
constexpr int kMaxDepth = 64;

// ---------------------------------------------------------------- the script

struct ScriptValue {
    std::string name;  // empty for the default value
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct ScriptKey {
    enum class Mode { plain, noRemove, forceRemove, remove };
    Mode mode = Mode::plain;
    std::string name;
    std::optional<ScriptValue> defaultValue;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
    HKEY root;
    std::vector<ScriptKey> keys;
};

struct ScriptFailure {
    std::size_t line;
    std::string reason;
};

struct Token {
    std::u16string raw;   // as written (quoted text without its quotes, '' undone)
    std::u16string text;  // with %NAME% replaced
    bool isQuoted = false;
    std::size_t line = 0;
};

bool sameWord(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string narrow(std::u16string_view text) { return wideToUtf8(text).value_or("?"); }

class ScriptReader {
public:
    ScriptReader(std::u16string_view script, const RegistryReplacements& replacements)
        : script_(script), replacements_(replacements) {}

    std::vector<ScriptRoot> read() {
        if (script_.size() > kMaxScriptUnits) fail(0, "the script is larger than 1 MiB");
        tokenize();
        std::vector<ScriptRoot> roots;
        while (position_ < tokens_.size()) {
            const Token& name = take("a root key");
            if (name.isQuoted) fail(name.line, "a root key is a bare word, not a quoted text");
            ScriptRoot root{rootOf(name), {}};
            expectBrace(u"{", "'{' after the root key");
            root.keys = readBlock(1, nullptr);
            roots.push_back(std::move(root));
        }
        return roots;
    }

private:
    [[noreturn]] void fail(std::size_t line, std::string reason) { throw ScriptFailure{line, std::move(reason)}; }

    static bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

    // Replaces %NAME% and %% in what was written.
    std::u16string expand(const std::u16string& raw, std::size_t line) {
        std::u16string out;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != u'%') {
                out += raw[i];
                continue;
            }
            std::size_t end = raw.find(u'%', i + 1);
            if (end == std::u16string::npos) fail(line, "a % without its closing % (write %% for a percent sign)");
            std::u16string_view name = std::u16string_view(raw).substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += u'%';
            } else {
                const std::u16string* item = nullptr;
                for (const auto& [key, value] : replacements_)
                    if (sameWord(key, name)) item = &value;
                if (!item) fail(line, "unknown replacement %" + narrow(name) + "%");
                out += *item;
            }
            i = end;
        }
        return out;
    }

    void tokenize() {
        std::size_t line = 1;
        std::size_t i = 0;
        while (i < script_.size()) {
            char16_t c = script_[i];
            if (isBlank(c)) {
                if (c == u'\n') ++line;
                ++i;
                continue;
            }
            if (c < 0x20 || c == 0x7F) fail(line, "a control character");
            Token token;
            token.line = line;
            if (c == u'\'') {
                token.isQuoted = true;
                ++i;
                bool isClosed = false;
                while (i < script_.size()) {
                    char16_t q = script_[i++];
                    if (q == u'\'') {
                        if (i < script_.size() && script_[i] == u'\'') {
                            token.raw += u'\'';
                            ++i;
                            continue;
                        }
                        isClosed = true;
                        break;
                    }
                    if (q == u'\n' || q == u'\r') fail(line, "a line break inside a quoted text");
                    if ((q < 0x20 && q != u'\t') || q == 0x7F) fail(line, "a control character inside a quoted text");
                    token.raw += q;
                }
                if (!isClosed) fail(line, "a quoted text without its closing quote");
                if (i < script_.size() && !isBlank(script_[i])) fail(line, "text right after a closing quote");
            } else {
                while (i < script_.size() && !isBlank(script_[i])) {
                    char16_t b = script_[i];
                    if (b == u'\'') fail(line, "a quote inside a bare word");
                    if (b < 0x20 || b == 0x7F) fail(line, "a control character");
                    token.raw += b;
                    ++i;
                }
                if (token.raw.size() > 1 && token.raw.find(u'=') != std::u16string::npos)
                    fail(line, "'=' must stand apart: '" + narrow(token.raw) + "'");
            }
            token.text = expand(token.raw, line);
            tokens_.push_back(std::move(token));
        }
        lastLine_ = tokens_.empty() ? line : tokens_.back().line;
    }

    bool isBare(const Token& t, std::u16string_view word) const { return !t.isQuoted && sameWord(t.raw, word); }
    bool atBare(std::u16string_view word) const {
        return position_ < tokens_.size() && isBare(tokens_[position_], word);
    }

    const Token& take(const char* what) {
        if (position_ >= tokens_.size()) fail(lastLine_, std::string("the script ends where ") + what + " belongs");
        return tokens_[position_++];
    }

    void expectBrace(std::u16string_view brace, const char* what) {
        const Token& t = take(what);
        if (!isBare(t, brace)) fail(t.line, std::string("expected ") + what + ", got '" + narrow(t.raw) + "'");
    }

    HKEY rootOf(const Token& t) {
        if (sameWord(t.raw, u"HKCR") || sameWord(t.raw, u"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
        if (sameWord(t.raw, u"HKCU") || sameWord(t.raw, u"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
        if (sameWord(t.raw, u"HKLM") || sameWord(t.raw, u"HKEY_LOCAL_MACHINE") || sameWord(t.raw, u"HKU") ||
            sameWord(t.raw, u"HKEY_USERS") || sameWord(t.raw, u"HKCC") || sameWord(t.raw, u"HKEY_CURRENT_CONFIG"))
            fail(t.line, narrow(t.raw) + " is not kept by this platform (HKCR and HKCU are)");
        fail(t.line, "'" + narrow(t.raw) + "' is no root key");
    }

    static bool isKeyword(const Token& t) {
        if (t.isQuoted) return false;
        for (std::u16string_view word : {u"val", u"NoRemove", u"ForceRemove", u"Delete", u"{", u"}", u"="})
            if (sameWord(t.raw, word)) return true;
        return false;
    }

    std::string name(const Token& t, const char* what) {
        if (isKeyword(t)) fail(t.line, std::string("expected ") + what + ", got '" + narrow(t.raw) + "'");
        if (t.text.empty()) fail(t.line, std::string("an empty ") + what);
        if (t.text.find(u'\\') != std::u16string::npos)
            fail(t.line, "'" + narrow(t.text) + "': a key name holds no backslash; nest the keys instead");
        auto multiByte = toMultiByte(t.text);
        if (!multiByte) fail(t.line, "'" + narrow(t.text) + "' holds a lone surrogate");
        return *multiByte;
    }

    // "= s 'text'", "= d 12", "= b '00FF'" after a name; the '=' is taken already.
    ScriptValue typedValue() {
        const Token& type = take("a value type (s, d or b)");
        const Token& value = take("a value");
        if (isKeyword(value)) fail(value.line, "expected a value, got '" + narrow(value.raw) + "'");
        ScriptValue out;
        if (isBare(type, u"s")) {
            if (!value.isQuoted) fail(value.line, "a text value (s) is quoted: s '" + narrow(value.text) + "'");
            auto text = toMultiByte(value.text);
            if (!text) fail(value.line, "the text holds a lone surrogate");
            out.type = REG_SZ;
            out.data.assign(text->begin(), text->end());
            out.data.push_back(0);
        } else if (isBare(type, u"d")) {
            out.type = REG_DWORD;
            DWORD n = number(value);
            out.data = {BYTE(n), BYTE(n >> 8), BYTE(n >> 16), BYTE(n >> 24)};
        } else if (isBare(type, u"b")) {
            out.type = REG_BINARY;
            const std::u16string& hex = value.text;
            if (hex.size() % 2 != 0) fail(value.line, "binary data (b) needs two hex digits a byte");
            for (std::size_t i = 0; i < hex.size(); i += 2) {
                int high = hexDigit(hex[i]), low = hexDigit(hex[i + 1]);
                if (high < 0 || low < 0) fail(value.line, "'" + narrow(hex) + "' is not hex digits");
                out.data.push_back(static_cast<BYTE>(high * 16 + low));
            }
        } else {
            fail(type.line, "'" + narrow(type.raw) + "' is no value type (s, d or b)");
        }
        return out;
    }

    static int hexDigit(char16_t c) {
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        return -1;
    }

    DWORD number(const Token& t) {
        std::u16string_view digits = t.text;
        int radix = 10;
        if (digits.size() > 2 && digits[0] == u'0' && (digits[1] == u'x' || digits[1] == u'X')) {
            radix = 16;
            digits.remove_prefix(2);
        }
        if (digits.empty()) fail(t.line, "'" + narrow(t.text) + "' is not a number");
        std::uint64_t value = 0;
        for (char16_t c : digits) {
            int d = hexDigit(c);
            if (d < 0 || d >= radix) fail(t.line, "'" + narrow(t.text) + "' is not a number");
            value = value * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
            if (value > 0xFFFFFFFFu) fail(t.line, "'" + narrow(t.text) + "' does not fit in 32 bits");
        }
        return static_cast<DWORD>(value);
    }

    // The entries of a block up to its '}' (taken). `owner` is null directly under a root.
    std::vector<ScriptKey> readBlock(int depth, ScriptKey* owner) {
        if (depth > kMaxDepth) fail(tokens_[position_ - 1].line, "blocks nest more than 64 deep");
        std::vector<ScriptKey> keys;
        for (;;) {
            if (position_ >= tokens_.size()) fail(lastLine_, "a block without its closing '}'");
            const Token& t = tokens_[position_];
            if (isBare(t, u"}")) {
                ++position_;
                return keys;
            }
            if (isBare(t, u"val")) {
                ++position_;
                if (!owner) fail(t.line, "a value directly under a root key");
                ScriptValue value;
                value.name = name(take("the value's name"), "value name");
                expectBrace(u"=", "'=' after the value's name");
                ScriptValue typed = typedValue();
                typed.name = std::move(value.name);
                owner->values.push_back(std::move(typed));
                continue;
            }
            keys.push_back(readKey(depth));
        }
    }

    ScriptKey readKey(int depth) {
        ScriptKey key;
        const Token* t = &take("a key");
        bool hasModifier = false;
        for (;;) {
            ScriptKey::Mode mode;
            if (isBare(*t, u"NoRemove"))
                mode = ScriptKey::Mode::noRemove;
            else if (isBare(*t, u"ForceRemove"))
                mode = ScriptKey::Mode::forceRemove;
            else if (isBare(*t, u"Delete"))
                mode = ScriptKey::Mode::remove;
            else
                break;
            if (hasModifier) fail(t->line, "a key takes one of NoRemove, ForceRemove and Delete");
            hasModifier = true;
            key.mode = mode;
            t = &take("the key's name");
        }
        const std::size_t line = t->line;
        key.name = name(*t, "key name");
        if (atBare(u"=")) {
            ++position_;
            key.defaultValue = typedValue();
        }
        if (atBare(u"{")) {
            ++position_;
            key.subkeys = readBlock(depth + 1, &key);
        }
        if (key.mode == ScriptKey::Mode::remove && (key.defaultValue || !key.values.empty() || !key.subkeys.empty()))
            fail(line, "a Delete key takes neither a value nor a block");
        return key;
    }

    std::u16string_view script_;
    const RegistryReplacements& replacements_;
    std::vector<Token> tokens_;
    std::size_t position_ = 0;
    std::size_t lastLine_ = 1;  // of the last word, where a script that ends too early is reported
};

// ---------------------------------------------------------------- applying

bool isSuccess(LONG r) { return r == static_cast<LONG>(ERROR_SUCCESS); }
bool isSuccessOrAbsent(LONG r) { return isSuccess(r) || r == static_cast<LONG>(ERROR_FILE_NOT_FOUND); }

LONG setValue(HKEY key, const ScriptValue& value) {
    return RegSetValueExA(key, value.name.empty() ? nullptr : value.name.c_str(), 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size()));
}

LONG registerKeys(HKEY parent, const std::vector<ScriptKey>& keys) {
    for (const ScriptKey& k : keys) {
        if (k.mode == ScriptKey::Mode::remove || k.mode == ScriptKey::Mode::forceRemove) {
            LONG r = RegDeleteTreeA(parent, k.name.c_str());
            if (!isSuccessOrAbsent(r)) return r;
            if (k.mode == ScriptKey::Mode::remove) continue;
        }
        RegistryKey key;
        LONG r = RegCreateKeyExA(parent, k.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                 key.put(), nullptr);
        if (!isSuccess(r)) return r;
        if (k.defaultValue && !isSuccess(r = setValue(key.get(), *k.defaultValue))) return r;
        for (const ScriptValue& v : k.values)
            if (!isSuccess(r = setValue(key.get(), v))) return r;
        if (!isSuccess(r = registerKeys(key.get(), k.subkeys))) return r;
    }
    return ERROR_SUCCESS;
}

LONG unregisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) {
    for (const ScriptKey& k : keys) {
        if (k.mode == ScriptKey::Mode::remove) continue;
        if (k.mode == ScriptKey::Mode::forceRemove) {
            LONG r = RegDeleteTreeA(parent, k.name.c_str());
            if (!isSuccessOrAbsent(r)) return r;
            continue;
        }
        RegistryKey key;
        LONG r = RegOpenKeyExA(parent, k.name.c_str(), 0, KEY_ALL_ACCESS, key.put());
        if (r == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) continue;
        if (!isSuccess(r)) return r;
        if (!isSuccess(r = unregisterKeys(key.get(), k.subkeys))) return r;
        if (k.mode == ScriptKey::Mode::noRemove) continue;
        if (k.defaultValue && !isSuccessOrAbsent(r = RegDeleteValueA(key.get(), nullptr))) return r;
        for (const ScriptValue& v : k.values)
            if (!isSuccessOrAbsent(r = RegDeleteValueA(key.get(), v.name.c_str()))) return r;
        DWORD subKeys = 0, values = 0;
        r = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr);
        if (!isSuccess(r)) return r;
        key.close();
        // What someone else put there keeps the key.
        if (subKeys == 0 && values == 0 && !isSuccessOrAbsent(r = RegDeleteKeyA(parent, k.name.c_str()))) return r;
    }
    return ERROR_SUCCESS;
}

HRESULT scriptFailure(const ScriptFailure& failure) {
    RegistryScriptError error{failure.line, failure.reason};
    SetErrorInfo(0, createErrorInfo(u"Registrar", utf8ToWide(error.message()).value_or(u"")).get());
    return DISP_E_EXCEPTION;
}

// ---------------------------------------------------------------- the object

class Registrar final : public ComObject<IRegistrar> {
public:
    HRESULT AddReplacement(const OLECHAR* key, const OLECHAR* item) override {
        if (!key || !*key || !item || std::u16string_view(key).find(u'%') != std::u16string_view::npos)
            return E_INVALIDARG;
        for (auto& [existing, value] : replacements_) {
            if (sameWord(existing, key)) {
                value = item;
                return S_OK;
            }
        }
        replacements_.emplace_back(key, item);
        return S_OK;
    }

    HRESULT ClearReplacements() override {
        replacements_.clear();
        return S_OK;
    }

    HRESULT ResourceRegister(const OLECHAR* moduleFileName, UINT resourceId, const OLECHAR* resourceType) override {
        return fromResource(moduleFileName, resourceId, resourceType, true);
    }
    HRESULT ResourceUnregister(const OLECHAR* moduleFileName, UINT resourceId, const OLECHAR* resourceType) override {
        return fromResource(moduleFileName, resourceId, resourceType, false);
    }
    HRESULT StringRegister(const OLECHAR* script) override { return run(script, true); }
    HRESULT StringUnregister(const OLECHAR* script) override { return run(script, false); }

private:
    HRESULT run(std::u16string_view script, bool isRegistering) {
        std::vector<ScriptRoot> roots;
        try {
            roots = ScriptReader(script, replacements_).read();
        } catch (const ScriptFailure& failure) {
            return scriptFailure(failure);
        }
        // A script sets dozens of values; each hive it touches is written once.
        RegistryBatch batch;
        for (const ScriptRoot& root : roots) {
            LONG r = isRegistering ? registerKeys(root.root, root.keys) : unregisterKeys(root.root, root.keys);
            if (!isSuccess(r)) {
                (void)batch.commit();
                return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
            }
        }
        if (LONG r = batch.commit(); !isSuccess(r)) return HRESULT_FROM_WIN32(static_cast<DWORD>(r));
        return S_OK;
    }

    HRESULT run(const OLECHAR* script, bool isRegistering) {
        if (!script) return E_INVALIDARG;
        return run(std::u16string_view(script), isRegistering);
    }

    HRESULT fromResource(const OLECHAR* moduleFileName, UINT resourceId, const OLECHAR* resourceType,
                         bool isRegistering) {
        if (!moduleFileName || !resourceType) return E_INVALIDARG;
        auto path = toMultiByte(moduleFileName);
        auto type = toMultiByte(resourceType);
        if (!path || !type) return E_INVALIDARG;
        HMODULE module = LoadLibraryExA(path->c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!module) return HRESULT_FROM_WIN32(GetLastError());
        HRESULT hr = S_OK;
        char name[16];
        std::snprintf(name, sizeof name, "#%u", resourceId);
        HRSRC resource = FindResourceA(module, name, type->c_str());
        if (!resource) {
            hr = HRESULT_FROM_WIN32(GetLastError());
        } else {
            auto bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
            auto script = utf8ToWide(std::string_view(bytes ? bytes : "", SizeofResource(module, resource)));
            if (!script)
                hr = scriptFailure(ScriptFailure{0, "the script resource is not UTF-8"});
            else
                hr = run(std::u16string_view(*script), isRegistering);
        }
        FreeLibrary(module);
        return hr;
    }

    RegistryReplacements replacements_;
};

// Known to the class registry from the moment the platform is loaded.
[[maybe_unused]] const bool isRegistrarRegistered = [] {
    return SUCCEEDED(registerServerClass(CLSID_Registrar, u"Platform.Registrar", [](REFIID riid, void** object) {
        return makeCom<Registrar>()->QueryInterface(riid, object);
    }));
}();

}  // namespace

std::string RegistryScriptError::message() const {
    return line ? "line " + std::to_string(line) + ": " + reason : reason;
}

HRESULT checkRegistryScript(std::u16string_view script, const RegistryReplacements& replacements,
                            RegistryScriptError* error) {
    try {
        ScriptReader(script, replacements).read();
        return S_OK;
    } catch (const ScriptFailure& failure) {
        if (error) *error = RegistryScriptError{failure.line, failure.reason};
        return DISP_E_EXCEPTION;
    }
}

}  // namespace platform
