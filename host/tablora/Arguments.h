// tablora's command line: the three commands, their options, and what a run is
// asked for. Parsing only; no file is looked at here.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tablora {

enum class Command { Export, Import, Link };

struct Arguments {
    Command command = Command::Export;
    std::vector<std::string> drawings;
    // export: the workbook to write (empty: defaultExportWorkbook); import and link:
    // the workbook to read.
    std::string workbook;
    // import -o: the folder changed drawings are saved into (empty: in place).
    std::string outputFolder;
    // export --blocks: the block names, comma separated; empty means every block.
    std::string blocks;
    std::optional<std::string> settingsFile;
    bool force = false;
    bool preview = false;
    bool calc = false;
    int saveEverySeconds = 2;
};

struct ParsedArguments {
    enum class Kind { Run, Help, Version, UsageError };
    Kind kind = Kind::UsageError;
    Arguments arguments;
    std::string error;  // Kind::UsageError: what is wrong, one line
};

// The arguments after the program name.
ParsedArguments parseArguments(const std::vector<std::string>& args);

// Where export writes when -o is not given: beside a single drawing with the
// extension .xlsx, "register.xlsx" in the current folder for several.
std::string defaultExportWorkbook(const std::vector<std::string>& drawings);

std::string usageText();
std::string versionText();

}  // namespace tablora
