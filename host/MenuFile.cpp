// Layer 0: the classic text menu file format.
#include "host/MenuFile.h"
#include "platform/Text.h"

#include <cctype>

namespace host {
namespace {

constexpr std::size_t kMaxGroupName = 32;
// Cascading menus nest no deeper than this inside one pull-down menu. Nothing a person
// can work through goes near it, and each level is drawn indented: a file nesting
// tens of thousands of levels would cost gigabytes to list.
constexpr int kMaxCascadeDepth = 32;

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// "&Export" -> "Export", "&&" -> "&".
std::string withoutMnemonic(std::string_view label) {
    std::string out;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&') {
            if (i + 1 < label.size() && label[i + 1] == '&') out += '&', ++i;
            continue;
        }
        out += label[i];
    }
    return out;
}

// The end of a "[label]" that starts at `open`: the first "]" outside double quotes.
std::size_t labelEnd(std::string_view line, std::size_t open) {
    bool quoted = false;
    for (std::size_t i = open + 1; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ']' && !quoted) return i;
    }
    return std::string_view::npos;
}

// The arguments of `_Name(...)`: a list split at commas outside quotes; no value when
// the text is not such a call.
std::optional<std::vector<std::string>> callArguments(std::string_view text, std::string_view name) {
    std::string t = std::string(platform::trim(text));
    if (platform::upper(t.substr(0, name.size())) != platform::upper(std::string(name))) return std::nullopt;
    std::string rest = std::string(platform::trim(std::string_view(t).substr(name.size())));
    if (rest.size() < 2 || rest.front() != '(' || rest.back() != ')') return std::nullopt;
    std::vector<std::string> args;
    std::string current;
    bool quoted = false;
    for (std::size_t i = 1; i + 1 < rest.size(); ++i) {
        char c = rest[i];
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) {
            args.push_back(std::string(platform::trim(current)));
            current.clear();
        } else {
            current += c;
        }
    }
    if (quoted) return std::nullopt;
    args.push_back(std::string(platform::trim(current)));
    return args;
}

std::optional<std::string> quotedText(const std::string& arg) {
    if (arg.size() < 2 || arg.front() != '"' || arg.back() != '"') return std::nullopt;
    return arg.substr(1, arg.size() - 2);
}

enum class Section { None, Pop, Toolbars, HelpStrings, Ignored };

// The sections whose content this host shows nothing of: they are read over.
bool isIgnoredSection(const std::string& name) {
    static const char* const kIgnored[] = {"SCREEN", "IMAGE", "ACCELERATORS", "BUTTONS", "AUX", "TABLET"};
    for (const char* prefix : kIgnored) {
        std::string p = prefix;
        if (name == p) return true;
        if (startsWith(name, p) && name.size() > p.size() &&
            name.find_first_not_of("0123456789", p.size()) == std::string::npos)
            return true;
    }
    return false;
}

struct ItemLine {
    std::string nameTag;
    std::optional<std::string> label;  // without its brackets
    std::string macro;
};

std::optional<ItemLine> splitItemLine(const std::string& line, std::string& error) {
    ItemLine item;
    std::size_t i = 0;
    if (!line.empty() && line[0] != '[') {
        std::size_t end = line.find_first_of(" \t[");
        item.nameTag = line.substr(0, end);
        i = end == std::string::npos ? line.size() : end;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    }
    if (i < line.size() && line[i] == '[') {
        std::size_t end = labelEnd(line, i);
        if (end == std::string::npos) {
            error = "the label's \"[\" has no \"]\"";
            return std::nullopt;
        }
        item.label = line.substr(i + 1, end - i - 1);
        i = end + 1;
    }
    item.macro = line.substr(i);
    return item;
}

}  // namespace

std::optional<std::string> menuMacroInput(std::string_view macro, std::string& error) {
    std::string out;
    std::string pending;
    bool endInput = true;  // the end of the macro ends the input in progress
    if (startsWith(macro, "*^C") || startsWith(macro, "*^c")) {
        error = "repeating items (*^C) are not supported";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < macro.size(); ++i) {
        char c = macro[i];
        if (c == '^') {
            char code =
                i + 1 < macro.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(macro[i + 1]))) : '\0';
            ++i;
            if (code == 'C') {
                // A cancel throws away what was typed before it.
                pending.clear();
                out += "\x03\n";
            } else if (code == 'M') {
                out += pending + "\n";
                pending.clear();
            } else if (code == 'P') {
                // Menu echo on or off: the host echoes macro input anyway.
            } else if (code == 'Z') {
                if (i + 1 != macro.size()) {
                    error = "^Z may only end a macro";
                    return std::nullopt;
                }
                endInput = false;
            } else {
                error = std::string("^") + (code ? std::string(1, code) : std::string()) + " has no meaning in a macro";
                return std::nullopt;
            }
            continue;
        }
        if (c == '\\') {
            if (macro.find_first_not_of(" \t", i + 1) != std::string_view::npos) {
                error = "a pause for input (\\) may only end a macro";
                return std::nullopt;
            }
            // The user types the rest: what was typed so far stays on the line.
            if (!pending.empty()) out += pending + "\n";
            return out;
        }
        if (c == ';' || c == ' ' || c == '\t') {
            out += pending + "\n";
            pending.clear();
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            error = "a control character in a macro";
            return std::nullopt;
        }
        pending += c;
    }
    if (!pending.empty()) {
        out += pending;
        if (endInput) out += "\n";
    }
    return out;
}

MenuFileResult parseMenuFile(std::string_view text) {
    MenuFileResult result;
    MenuFile menu;
    bool hasGroup = false;
    Section section = Section::None;
    PullDownMenu* pop = nullptr;
    Toolbar* toolbar = nullptr;
    int depth = 0;
    auto fail = [&](int line, std::string error) {
        result.line = line;
        result.error = std::move(error);
        return result;
    };

    // Physical lines, with "+" continuations joined; `lineNumber` is where the item starts.
    std::vector<std::pair<int, std::string>> lines;
    {
        std::size_t start = 0;
        int number = 0;
        std::string joined;
        int joinedStart = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            std::string line(text.substr(start, end - start));
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find('\0') != std::string::npos) return fail(number, "the line holds a NUL byte");
            if (joined.empty()) joinedStart = number;
            bool continues =
                !line.empty() && line.back() == '+' && !startsWith(std::string(platform::trim(line)), "//");
            if (continues) line.pop_back();
            joined += line;
            if (!continues) {
                lines.emplace_back(joinedStart, std::move(joined));
                joined.clear();
            }
            if (end == text.size()) break;
            start = end + 1;
        }
        if (!joined.empty()) lines.emplace_back(joinedStart, std::move(joined));
    }

    for (auto& [number, raw] : lines) {
        std::string line = std::string(platform::trim(raw));
        if (line.empty() || startsWith(line, "//")) continue;
        if (startsWith(line, "***")) {
            if (pop && depth != 0) return fail(number, "a cascading menu of " + pop->section + " is not closed (<-)");
            std::string head = platform::upper(std::string(platform::trim(std::string_view(line).substr(3))));
            if (toolbar && toolbar->title.empty())
                return fail(number, "toolbar " + toolbar->name + " has no _Toolbar line");
            pop = nullptr;
            toolbar = nullptr;
            depth = 0;
            if (startsWith(head, "MENUGROUP")) {
                std::string rest = std::string(platform::trim(std::string_view(head).substr(9)));
                if (hasGroup) return fail(number, "a second ***MENUGROUP line");
                if (rest.empty() || rest[0] != '=') return fail(number, "***MENUGROUP needs =NAME");
                std::string name = std::string(platform::trim(std::string_view(line).substr(line.find('=') + 1)));
                if (name.empty() || name.size() > kMaxGroupName ||
                    name.find_first_of(" \t.,;\"[]()") != std::string::npos)
                    return fail(number, "the menu group name \"" + name +
                                            "\" is empty, longer than 32 characters or holds a blank or punctuation");
                menu.groupName = name;
                hasGroup = true;
                section = Section::None;
                continue;
            }
            if (!hasGroup) return fail(number, "the file must begin with its ***MENUGROUP=NAME line");
            if (startsWith(head, "POP") && head.size() > 3 &&
                head.find_first_not_of("0123456789", 3) == std::string::npos && head.size() <= 6) {
                int n = std::stoi(head.substr(3));
                if (n > 499) return fail(number, "pull-down menus are numbered ***POP0 to ***POP499");
                for (const PullDownMenu& m : menu.menus)
                    if (m.section == head) return fail(number, "a second ***" + head + " section");
                menu.menus.push_back(PullDownMenu{head, {}, {}, {}});
                pop = &menu.menus.back();
                section = Section::Pop;
            } else if (head == "TOOLBARS") {
                section = Section::Toolbars;
            } else if (head == "HELPSTRINGS") {
                section = Section::HelpStrings;
            } else if (isIgnoredSection(head)) {
                section = Section::Ignored;
            } else {
                return fail(number, "unknown section ***" + head);
            }
            continue;
        }
        if (!hasGroup) return fail(number, "the file must begin with its ***MENUGROUP=NAME line");
        if (startsWith(line, "**")) {
            std::string alias = std::string(platform::trim(std::string_view(line).substr(2)));
            if (alias.empty() || alias.find_first_of(" \t") != std::string::npos)
                return fail(number, "a \"**\" name must be one word");
            if (section == Section::Pop) {
                if (!pop->items.empty() || !pop->title.empty())
                    return fail(number, "the \"**\" names of a menu come before its items");
                if (pop->alias.empty()) pop->alias = alias;
            } else if (section == Section::Toolbars) {
                if (toolbar && toolbar->title.empty())
                    return fail(number, "toolbar " + toolbar->name + " has no _Toolbar line");
                for (const Toolbar& t : menu.toolbars)
                    if (platform::upper(t.name) == platform::upper(alias))
                        return fail(number, "a second toolbar named " + alias);
                menu.toolbars.push_back(Toolbar{alias, {}, false, {}});
                toolbar = &menu.toolbars.back();
            } else if (section != Section::Ignored) {
                return fail(number, "a \"**\" name outside a menu or toolbar section");
            }
            continue;
        }
        if (section == Section::Ignored) continue;
        if (section == Section::None) return fail(number, "a menu item outside any section");

        std::string error;
        std::optional<ItemLine> item = splitItemLine(line, error);
        if (!item) return fail(number, error);
        if (section == Section::HelpStrings) {
            if (item->nameTag.empty() || !item->label) return fail(number, "a help string is NAME_TAG [text]");
            menu.helpStrings[item->nameTag] = *item->label;
            continue;
        }
        if (!item->label) return fail(number, "a menu item needs its label in [ ]");
        MenuItem entry;
        entry.nameTag = item->nameTag;
        entry.macro = item->macro;
        std::string label = *item->label;

        if (section == Section::Toolbars) {
            if (!toolbar) return fail(number, "a toolbar item before the toolbar's \"**\" name");
            if (toolbar->title.empty()) {
                auto args = callArguments(label, "_Toolbar");
                std::optional<std::string> title = args && !args->empty() ? quotedText((*args)[0]) : std::nullopt;
                if (!title || title->empty()) return fail(number, "a toolbar begins with [_Toolbar(\"Title\", ...)]");
                toolbar->title = *title;
                toolbar->isShownAtLoad = args->size() > 2 && platform::upper((*args)[2]) == "_SHOW";
                continue;
            }
            if (std::string(platform::trim(label)) == "--") {
                entry.isSeparator = true;
                toolbar->buttons.push_back(std::move(entry));
                continue;
            }
            auto args = callArguments(label, "_Button");
            std::optional<std::string> name = args && !args->empty() ? quotedText((*args)[0]) : std::nullopt;
            if (!name || name->empty())
                return fail(number, "a toolbar button is [_Button(\"Name\", \"small image\", \"large image\")]");
            entry.label = *name;
            std::optional<std::string> input = menuMacroInput(entry.macro, error);
            if (!input) return fail(number, error);
            entry.input = *input;
            toolbar->buttons.push_back(std::move(entry));
            continue;
        }

        // A pull-down menu: the first item is its title.
        bool opens = false;
        int closes = 0;
        for (;;) {
            if (startsWith(label, "->")) {
                opens = true;
                label.erase(0, 2);
            } else if (startsWith(label, "<-")) {
                ++closes;
                label.erase(0, 2);
            } else if (startsWith(label, "~")) {
                entry.isGrayed = true;
                label.erase(0, 1);
            } else if (startsWith(label, "!.")) {
                label.erase(0, 2);
            } else {
                break;
            }
        }
        if (pop->title.empty()) {
            if (opens || closes) return fail(number, "a menu's title cannot open or close a cascade");
            pop->title = withoutMnemonic(std::string(platform::trim(label)));
            if (pop->title.empty()) return fail(number, "a menu's title is empty");
            continue;
        }
        entry.depth = depth;
        if (std::string(platform::trim(label)) == "--") {
            entry.isSeparator = true;
        } else {
            entry.label = withoutMnemonic(std::string(platform::trim(label)));
            std::optional<std::string> input = menuMacroInput(entry.macro, error);
            if (!input) return fail(number, error);
            entry.input = *input;
        }
        pop->items.push_back(std::move(entry));
        if (opens && ++depth > kMaxCascadeDepth)
            return fail(number, "cascading menus nest at most " + std::to_string(kMaxCascadeDepth) +
                                    " levels deep; this item opens one more");
        depth -= closes;
        if (depth < 0) return fail(number, "\"<-\" closes a cascade that was never opened");
    }
    if (!hasGroup) return fail(0, "the file has no ***MENUGROUP=NAME line");
    if (pop && depth != 0) return fail(0, "a cascading menu of " + pop->section + " is not closed (<-)");
    if (toolbar && toolbar->title.empty()) return fail(0, "toolbar " + toolbar->name + " has no _Toolbar line");
    for (const PullDownMenu& m : menu.menus)
        if (m.title.empty()) return fail(0, "pull-down menu ***" + m.section + " has no title item");
    result.menu = std::move(menu);
    return result;
}

}  // namespace host
