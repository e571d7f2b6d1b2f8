// tablora's command line, parsed the way Unix tools parse theirs: options before,
// between or after the operands, "--" ending the options, "--name=value" and
// "--name value" alike.
#include "host/tablora/Arguments.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <map>
#include <system_error>

namespace tablora {
namespace {

// The options a command takes; whether each needs a value.
struct OptionRule {
    const char* name;
    bool hasValue;
};

constexpr OptionRule kExportOptions[] = {{"-o", true}, {"--blocks", true}, {"--settings", true}, {"--force", false}};
constexpr OptionRule kImportOptions[] = {{"-o", true}, {"--preview", false}, {"--settings", true}};
constexpr OptionRule kLinkOptions[] = {{"--calc", false}, {"--save-every", true}, {"--settings", true}};

template <std::size_t N>
const OptionRule* findOption(const OptionRule (&rules)[N], const std::string& name) {
    for (const OptionRule& rule : rules)
        if (name == rule.name) return &rule;
    return nullptr;
}

ParsedArguments usageError(std::string error) {
    ParsedArguments parsed;
    parsed.kind = ParsedArguments::Kind::UsageError;
    parsed.error = std::move(error);
    return parsed;
}

// A whole number of seconds from 1 to a day: a longer wait between saves would
// leave edits unsaved for longer than anybody means.
std::optional<int> parseSeconds(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [rest, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || rest != end || value < 1 || value > 86400) return std::nullopt;
    return value;
}

}  // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    if (args.empty()) return usageError("a command is needed: export, import or link");
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help")
        return ParsedArguments{ParsedArguments::Kind::Help, {}, {}};
    if (first == "--version") return ParsedArguments{ParsedArguments::Kind::Version, {}, {}};

    ParsedArguments parsed;
    parsed.kind = ParsedArguments::Kind::Run;
    Arguments& a = parsed.arguments;
    if (first == "export")
        a.command = Command::Export;
    else if (first == "import")
        a.command = Command::Import;
    else if (first == "link")
        a.command = Command::Link;
    else if (!first.empty() && first[0] == '-')
        return usageError("unknown option " + first);
    else
        return usageError("unknown command " + first + "; the commands are export, import and link");

    std::vector<std::string> operands;
    bool isOptionsEnd = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        if (isOptionsEnd || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            isOptionsEnd = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") return ParsedArguments{ParsedArguments::Kind::Help, {}, {}};
        if (arg == "--version") return ParsedArguments{ParsedArguments::Kind::Version, {}, {}};
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const OptionRule* rule = a.command == Command::Export   ? findOption(kExportOptions, arg)
                                 : a.command == Command::Import ? findOption(kImportOptions, arg)
                                                                : findOption(kLinkOptions, arg);
        if (!rule) return usageError("unknown option " + arg + " for " + first);
        std::string value;
        if (rule->hasValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return usageError(arg + " needs a value");
            }
        } else if (inlineValue) {
            return usageError(arg + " takes no value");
        }
        if (arg == "-o") {
            if (value.empty()) return usageError("-o needs a value");
            (a.command == Command::Export ? a.workbook : a.outputFolder) = value;
        } else if (arg == "--blocks") {
            a.blocks = value;
        } else if (arg == "--settings") {
            if (value.empty()) return usageError("--settings needs a value");
            a.settingsFile = value;
        } else if (arg == "--force") {
            a.force = true;
        } else if (arg == "--preview") {
            a.preview = true;
        } else if (arg == "--calc") {
            a.calc = true;
        } else if (arg == "--save-every") {
            std::optional<int> seconds = parseSeconds(value);
            if (!seconds) return usageError("--save-every is a whole number of seconds from 1 to 86400, not " + value);
            a.saveEverySeconds = *seconds;
        }
    }

    // Operands in the wrong order are said as such before any file is opened: a
    // drawing read as a workbook would only be refused as no workbook.
    auto extensionOf = [](const std::string& name) {
        std::string extension = std::filesystem::path(name).extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return extension;
    };
    auto isDrawingName = [&](const std::string& name) { return extensionOf(name) == ".dxf"; };
    switch (a.command) {
    case Command::Export:
        if (operands.empty()) return usageError("export needs at least one drawing");
        // The workbook is written as .xlsx: under another name a program choosing by
        // the name (.ods, .xls, .csv) would take it for a file of that kind.
        if (!a.workbook.empty() && extensionOf(a.workbook) != ".xlsx")
            return usageError("-o " + a.workbook + ": the workbook is written as .xlsx; end its name with .xlsx");
        a.drawings = std::move(operands);
        break;
    case Command::Import:
        if (operands.empty()) return usageError("import needs the workbook");
        if (isDrawingName(operands.front()))
            return usageError("import takes the workbook first, then the drawings: " + operands.front() +
                              " is a drawing");
        a.workbook = operands.front();
        a.drawings.assign(operands.begin() + 1, operands.end());
        break;
    case Command::Link:
        if (operands.size() != 2) return usageError("link needs one drawing and one workbook");
        if (isDrawingName(operands[1]) && !isDrawingName(operands[0]))
            return usageError("link takes the drawing first, then the workbook: " + operands[1] + " is a drawing");
        a.drawings = {operands[0]};
        a.workbook = operands[1];
        break;
    }
    return parsed;
}

std::string defaultExportWorkbook(const std::vector<std::string>& drawings) {
    if (drawings.size() != 1) return "register.xlsx";
    return std::filesystem::path(drawings.front()).replace_extension(".xlsx").string();
}

std::vector<DrawingRepeat> takeEachDrawingOnce(std::vector<std::string>& drawings) {
    std::vector<DrawingRepeat> repeats;
    std::map<std::filesystem::path, std::string> takenAs;
    std::vector<std::string> kept;
    for (std::string& name : drawings) {
        std::error_code error;
        std::filesystem::path file = std::filesystem::weakly_canonical(std::filesystem::absolute(name, error), error);
        // A name the file system cannot resolve is kept as given: the run names
        // its failure when it opens it.
        if (error) file = std::filesystem::path(name).lexically_normal();
        if (auto [at, isNew] = takenAs.try_emplace(file, name); !isNew) {
            repeats.push_back({std::move(name), at->second});
            continue;
        }
        kept.push_back(std::move(name));
    }
    drawings = std::move(kept);
    return repeats;
}

std::string usageText() {
    return "usage: tablora export DRAWING... [-o BOOK.xlsx] [--blocks NAME,...] [--settings FILE.ini] [--force]\n"
           "       tablora import BOOK.xlsx [DRAWING...] [--preview] [-o FOLDER] [--settings FILE.ini]\n"
           "       tablora link DRAWING BOOK.xlsx [--calc] [--save-every SECONDS] [--settings FILE.ini]\n"
           "       tablora --help | --version\n"
           "\n"
           "  export   every chosen block of every drawing into one new workbook (default:\n"
           "           the drawing's name with .xlsx, register.xlsx for several drawings)\n"
           "    -o BOOK.xlsx       the workbook to write; an existing one is refused\n"
           "    --blocks NAME,...  only these blocks (default: every block)\n"
           "    --force            replace an existing workbook\n"
           "  import   the workbook's rows into the drawings given, or else into those its\n"
           "           rows name (a workbook of one drawing: that drawing, found beside it);\n"
           "           a changed drawing is saved, its previous file kept as .bak\n"
           "    --preview          list the changes only; nothing is written\n"
           "    -o FOLDER          save changed drawings into FOLDER instead of in place\n"
           "  link     apply edits saved to the workbook to the drawing until interrupted\n"
           "           (Ctrl+C), saving the drawing when it changed\n"
           "    --calc             edit in LibreOffice Calc rather than the built-in stand-in\n"
           "    --save-every S     save the changed drawing at most every S seconds (default 2)\n"
           "  --settings FILE.ini  the export and import settings (default: those saved by the\n"
           "                       options dialog)\n"
           "\n"
           "exit status: 0 everything done, 1 something failed, 2 usage error\n";
}

std::string versionText() { return std::string("tablora ") + TABLORA_VERSION + "\n"; }

}  // namespace tablora
