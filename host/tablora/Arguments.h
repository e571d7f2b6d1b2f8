// tablora's command line: the three commands, their options, and what a run is
// asked for. Parsing looks at no file; takeEachDrawingOnce does, after it.
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

// A drawing named a second time, under another spelling or through a link, and
// the name it is taken under.
struct DrawingRepeat {
    std::string name;
    std::string takenAs;
};

// Keeps each drawing file once in `drawings`, under the first name given for it:
// names are compared as the file system resolves them (".", "..", symbolic links),
// so a run never reads one drawing twice, writing its rows twice or saving it over
// itself. Returns the names dropped, in order.
std::vector<DrawingRepeat> takeEachDrawingOnce(std::vector<std::string>& drawings);

std::string usageText();
std::string versionText();

}  // namespace tablora
