// libFuzzer target for keyword lists and keyword input: the input is a keyword list
// and a typed answer. Any list parses or is refused (acedInitGet agrees), and a
// parsed list printed back in its own syntax parses to the same keywords. Every
// keyword is selected by its global name after "_", by its local name and by its
// abbreviation; whatever a typed answer selects accepts that answer, and an answer
// no keyword accepts selects none. The prompt (acedGetKword) answers with the
// global name of the keyword the matching picks.
#include "host/CommandInput.h"
#include "host/CommandOutput.h"
#include "host/Editor.h"
#include "host/InputSource.h"
#include "host/KeywordList.h"
#include "platform/Text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using host::Keyword;

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

// The abbreviation runs up to the last capital; without capitals the whole word.
std::size_t abbreviationOf(std::string_view word) {
    std::size_t last = word.find_last_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    return last == std::string_view::npos ? word.size() : last + 1;
}

// Whether `k` takes the typed text: its name in full, or a prefix at least as long
// as the local abbreviation, case ignored; "_" first compares the global name.
bool accepts(const Keyword& k, std::string_view typed) {
    typed = platform::trim(typed, " \t\r\n");
    bool global = !typed.empty() && typed[0] == '_';
    if (global) typed.remove_prefix(1);
    if (typed.empty()) return false;
    std::string_view name = global ? k.global : k.local;
    if (equalNoCase(typed, name)) return true;
    return typed.size() >= abbreviationOf(k.local) && typed.size() <= name.size() &&
           equalNoCase(typed, name.substr(0, typed.size()));
}

void checkMatch(const std::vector<Keyword>& keywords, const std::string& typed) {
    const Keyword* chosen = host::matchKeyword(keywords, typed);
    bool anyAccepts = false;
    for (const Keyword& k : keywords) anyAccepts = anyAccepts || accepts(k, typed);
    if (!chosen) {
        // A NUL ends the text the matching compares, and so cuts what is compared.
        if (anyAccepts && typed.find('\0') == std::string::npos) __builtin_trap();
        return;
    }
    if (typed.find('\0') != std::string::npos) return;
    if (!accepts(*chosen, typed)) __builtin_trap();
}

// The prompt, fed `typed` as the only line of input.
void checkPrompt(const std::string& list, const std::vector<Keyword>& keywords, const std::string& typed) {
    if (typed.find_first_of(std::string_view("\n\0", 2)) != std::string::npos) return;
    host::ScriptInput script({typed});
    host::InputSource* previous = host::setInputSource(&script);
    host::OutputMute mute;
    if (acedInitGet(0, list.c_str()) != RTNORM) __builtin_trap();
    char result[ADS_INPUT_BUFFER];
    int status = acedGetKword("", result);
    host::setInputSource(previous);
    const Keyword* chosen = host::matchKeyword(keywords, typed);
    // Blank input is Enter, and a script line holding only ^C cancels whatever it answers.
    if (platform::trim(typed, " \t\r\n").empty() || platform::trim(typed, " \t\r\n") == "^C") return;
    if (chosen) {
        if (status != RTNORM) __builtin_trap();
        if (chosen->global.size() < ADS_INPUT_BUFFER && chosen->global != result) __builtin_trap();
    } else if (status != RTCAN) {
        __builtin_trap();  // no keyword: asked again, and the input has ended
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    FuzzedDataProvider input(data, size);
    const std::string typed = input.ConsumeRandomLengthString(64);
    const std::string list = input.ConsumeRemainingBytesAsString().c_str();

    auto keywords = host::parseKeywordList(list);
    if (!keywords) {
        if (acedInitGet(0, list.c_str()) != RTERROR) __builtin_trap();
        return 0;
    }
    // Printed back in the list's own syntax, the keywords read the same again.
    std::string printed;
    for (const Keyword& k : *keywords) printed += k.local + " ";
    printed += "_";
    for (const Keyword& k : *keywords) printed += " " + k.global;
    auto again = host::parseKeywordList(printed);
    if (!again || again->size() != keywords->size()) __builtin_trap();
    for (std::size_t i = 0; i < keywords->size(); ++i) {
        const Keyword& a = (*keywords)[i];
        const Keyword& b = (*again)[i];
        if (a.local != b.local || a.global != b.global || a.minimumLength != b.minimumLength) __builtin_trap();
        if (a.minimumLength != abbreviationOf(a.local)) __builtin_trap();
    }

    for (const Keyword& k : *keywords) {
        for (const std::string& typedName : {"_" + k.global, k.local, k.local.substr(0, k.minimumLength)}) {
            const Keyword* chosen = host::matchKeyword(*keywords, typedName);
            if (!chosen || !accepts(*chosen, typedName)) __builtin_trap();
        }
        // A whole name wins over prefixes: the global name picks a keyword of that name.
        const Keyword* byGlobal = host::matchKeyword(*keywords, "_" + k.global);
        if (!equalNoCase(byGlobal->global, k.global)) __builtin_trap();
        const Keyword* byLocal = host::matchKeyword(*keywords, k.local);
        if (!equalNoCase(byLocal->local, k.local)) __builtin_trap();
    }
    checkMatch(*keywords, typed);
    checkPrompt(list, *keywords, typed);
    return 0;
}
