// Layer 8, the program on top of the host: cadhost, the CAD host stand-in's
// command-line program. Opens the drawing (or a new one), loads the module "tabro"
// from its own folder and runs the command line on terminal, piped or script input.
#include "host/AcApDocManager.h"
#include "host/AcRxDynamicLinker.h"
#include "host/CommandInput.h"
#include "host/CommandLine.h"
#include "host/DrawingCommands.h"
#include "host/Editor.h"
#include "host/HostCommands.h"
#include "host/InputSource.h"
#include "host/TerminalDialogs.h"
#include "host/db/DrawingFile.h"
#include "host/program/SpreadsheetProgram.h"
#include "platform/MessageBox.h"
#include "platform/MessageQueue.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/Timer.h"
#include "sheet/Spreadsheet.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* kModuleFileName = "tabro.so";

struct Options {
    std::optional<std::string> script;
    bool isCalc = false;
    std::string calcPipe = "tablora";
    std::vector<std::string> workbooks;
    std::optional<std::string> drawing;
};

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: cadhost [--script FILE] [--spreadsheet standin|calc] [--calc-pipe NAME]\n"
                 "               [--workbook FILE]... [DRAWING]\n"
                 "  --script FILE    read command input from FILE (one input per line, a blank\n"
                 "                   line is Enter, ^C cancels); exit when it ends\n"
                 "  --spreadsheet P  the spreadsheet program behind Excel.Application: the built-in\n"
                 "                   stand-in (default) or LibreOffice Calc\n"
                 "  --calc-pipe NAME the pipe LibreOffice accepts on (default tablora)\n"
                 "  --workbook FILE  start the spreadsheet application with FILE open (repeatable)\n"
                 "  DRAWING          the DXF drawing to open (a new one when absent)\n");
}

// Parses the arguments; no value (after a message) when they are wrong.
std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "cadhost: %s needs a value\n", name);
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        if (arg == "--script") {
            auto v = value("--script");
            if (!v) return std::nullopt;
            options.script = *v;
        } else if (arg == "--workbook") {
            auto v = value("--workbook");
            if (!v) return std::nullopt;
            options.workbooks.push_back(*v);
        } else if (arg == "--spreadsheet") {
            auto v = value("--spreadsheet");
            if (!v) return std::nullopt;
            if (*v != "calc" && *v != "standin") {
                std::fprintf(stderr, "cadhost: --spreadsheet is standin or calc, not %s\n", v->c_str());
                return std::nullopt;
            }
            options.isCalc = *v == "calc";
        } else if (arg == "--calc-pipe") {
            auto v = value("--calc-pipe");
            if (!v) return std::nullopt;
            // The name becomes part of a socket path and of the office's arguments.
            if (v->empty() || v->size() > 64 ||
                v->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.") !=
                    std::string::npos) {
                std::fprintf(stderr, "cadhost: a pipe name is 1 to 64 letters, digits, '_', '-' or '.'\n");
                return std::nullopt;
            }
            options.calcPipe = *v;
        } else if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "cadhost: unknown option %s\n", arg.c_str());
            return std::nullopt;
        } else if (options.drawing) {
            std::fprintf(stderr, "cadhost: only one drawing can be opened\n");
            return std::nullopt;
        } else {
            options.drawing = arg;
        }
    }
    return options;
}

// Ctrl+C cancels the prompt: the handler only writes to a pipe the input waits on.
int cancelPipe[2] = {-1, -1};

void onInterrupt(int) {
    char byte = 1;
    ssize_t ignored = ::write(cancelPipe[1], &byte, 1);
    (void)ignored;
}

void installInterruptHandler() {
    if (::pipe2(cancelPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
}

std::string programFolder() {
    std::string path = platform::moduleFileName(nullptr);
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::unique_ptr<SpreadsheetProgram> spreadsheet;

// Opens the workbooks given on the command line, the last one active. False (after a
// message) when one cannot be opened.
bool openWorkbooks() {
    try {
        spreadsheet->openWorkbooks();
    } catch (const sheet::ForeignWorkbookFileError& e) {
        // The stand-in reads .xlsx only; the office behind --spreadsheet calc opens
        // the other formats (and text) itself.
        if (e.isDrawing)
            std::fprintf(stderr, "cadhost: %s is %s; a drawing is given without --workbook\n", e.file.c_str(),
                         e.kind.c_str());
        else
            std::fprintf(stderr, "cadhost: %s is %s; open it with --spreadsheet calc, or save it as .xlsx\n",
                         e.file.c_str(), e.kind.c_str());
        return false;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cadhost: %s\n", e.what());
        return false;
    }
    return true;
}

bool isWorkbookSaveFailed = false;

// A yes/no question of the spreadsheet program's, answered at the terminal; with
// scripted or piped input every line belongs to the command line, so the default
// No is taken and shown.
bool askYesNo(const std::string& question, host::DescriptorInput* terminal) {
    acutPrintf("\n%s: ", question.c_str());
    if (!terminal || !terminal->isInteractive()) {
        acutPrintf("No");
        return false;
    }
    const std::optional<std::string> line = terminal->readLineNow();
    const std::string answer = line ? platform::upper(platform::trim(*line)) : std::string();
    return answer == "Y" || answer == "YES";
}

// Changes a command made to workbooks are on disk when it ends.
void flushWorkbooks(bool isSessionEnd = false) {
    if (!spreadsheet) return;
    for (const std::string& message : spreadsheet->flushChangedWorkbooks(isSessionEnd)) {
        isWorkbookSaveFailed = true;
        acutPrintf("\n%s", message.c_str());
    }
}

// While the host waits, workbooks changed on disk by another program are reloaded so
// that their edits reach subscribers of the spreadsheet's events. A look costs one
// stat per open workbook; four a second keep a saved edit's way to a live-linked
// drawing well under the link's own one-second tick.
constexpr UINT kReloadTickMs = 250;
void reloadWorkbooksTick(HWND, UINT, UINT_PTR, DWORD) {
    try {
        if (spreadsheet)
            for (const std::string& message : spreadsheet->idle()) acutPrintf("\n%s", message.c_str());
    } catch (const std::exception& e) {
        acutPrintf("\n%s", e.what());
    }
}

// Ends the session on every way out of main: modules unloaded first (they release
// what they hold of the spreadsheet), drawings closed, workbooks saved, the
// spreadsheet application stopped.
struct SessionEnd {
    UINT_PTR reloadTimer = 0;
    int flushHook = 0;
    bool isFinished = false;
    ~SessionEnd() { finish(); }
    void finish() {
        if (std::exchange(isFinished, true)) return;
        if (reloadTimer) KillTimer(nullptr, reloadTimer);
        acrxDynamicLinker->unloadAll();
        acDocManager->closeAll();
        host::removeCommandEndHook(flushHook);
        flushWorkbooks(true);
        if (spreadsheet) spreadsheet->shutdown();
        spreadsheet.reset();
        host::setInputSource(nullptr);
        platform::setMessageBoxPresenter(nullptr);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    platform::markMainThread();
    std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        printUsage(stderr);
        return 2;
    }

    std::unique_ptr<host::ScriptInput> script;
    std::unique_ptr<host::DescriptorInput> terminal;
    host::InputSource* source = nullptr;
    if (options->script) {
        try {
            script = std::make_unique<host::ScriptInput>(host::ScriptInput::fromFile(*options->script));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "cadhost: %s\n", e.what());
            return 2;
        }
        source = script.get();
    } else {
        installInterruptHandler();
        terminal = std::make_unique<host::DescriptorInput>(STDIN_FILENO, ::isatty(STDIN_FILENO) != 0, cancelPipe[0]);
        source = terminal.get();
    }
    host::setInputSource(source);

    // Boxes are answered at the terminal; with scripted or piped input the default
    // button is taken, since every input line belongs to the command line.
    platform::TerminalMessageBoxPresenter::AnswerReader reader;
    if (terminal && terminal->isInteractive()) reader = [&terminal] { return terminal->readLineNow(); };
    platform::setMessageBoxPresenter(platform::TerminalMessageBoxPresenter(stdout, reader));
    // Dialogs are worked on the command line, one input line per action.
    host::TerminalDialogPresenters dialogPresenters;

    host::registerBuiltinCommands();
    // The spreadsheet application is installed on this machine: the module finds it by
    // its class name, as it would find the real one.
    if (options->isCalc) {
        calc::BackendOptions calcOptions;
        calcOptions.pipeName = options->calcPipe;
        // The office takes its profile folder as a file URL, which a relative path
        // is not.
        calcOptions.homeFolder = std::filesystem::absolute(platform::registryHome()).string();
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        calcOptions.isHeadless = !(display && *display) && !(wayland && *wayland);
        if (const char* program = std::getenv("TABLORA_SOFFICE")) calcOptions.officeProgram = program;
        calcOptions.ask = [&terminal](const std::string& question) { return askYesNo(question, terminal.get()); };
        // What became of the office outside any command's doing goes to the command
        // line; a call from another thread cannot write there.
        calcOptions.notify = [](const std::string& text) {
            if (platform::isMainThread())
                acutPrintf("\n%s", text.c_str());
            else
                std::fprintf(stderr, "\ncadhost: %s\n", text.c_str());
        };
        std::string error;
        spreadsheet = SpreadsheetProgram::calc(programFolder(), calcOptions, error);
        if (!spreadsheet) {
            std::fprintf(stderr, "cadhost: %s\n", error.c_str());
            return 1;
        }
    } else {
        spreadsheet = SpreadsheetProgram::standIn();
    }
    SessionEnd sessionEnd;
    if (std::string problem = spreadsheet->registerApplication(); !problem.empty()) {
        std::fprintf(stderr, "cadhost: %s\n", problem.c_str());
        return 1;
    }
    sessionEnd.flushHook = host::addCommandEndHook([] { flushWorkbooks(); });
    sessionEnd.reloadTimer = SetTimer(nullptr, 0, kReloadTickMs, reloadWorkbooksTick);

    spreadsheet->prepareWorkbooks(options->workbooks);
    if (options->drawing) {
        DrawingOpenResult opened = openDrawingFile(*options->drawing);
        if (!opened) {
            std::fprintf(stderr, "cadhost: %s\n", opened.error.c_str());
            return 1;
        }
        // The drawing opened, but what the reader doubts or repaired (a file that may
        // be truncated, renumbered handles) is the user's to know before working on it.
        for (const std::string& warning : opened.warnings)
            std::fprintf(stderr, "cadhost: warning: %s\n", warning.c_str());
        acDocManager->newDocument(*options->drawing, std::move(opened.database));
    } else {
        acDocManager->newDocument();
    }

    if (!openWorkbooks()) return 1;

    std::string modulePath = programFolder() + "/" + kModuleFileName;
    acrxDynamicLinker->loadModule(modulePath.c_str(), true);

    host::runCommandLoop();
    // Known before the session ends (which lets the spreadsheet program go).
    const bool spreadsheetFailed = spreadsheet && spreadsheet->hasFailedToStart();
    // The last workbook changes are saved before the status is known.
    sessionEnd.finish();
    host::writeOutput("\n");
    // A script's caller learns that something the session made is not where it was
    // to be saved, that the spreadsheet it asked for could not be reached, or that a
    // command failed (every failure is reported in an error box).
    const bool commandFailed = platform::failureBoxCount() > 0;
    return host::hasDrawingSaveFailed() || isWorkbookSaveFailed || spreadsheetFailed || commandFailed ? 1 : 0;
}
