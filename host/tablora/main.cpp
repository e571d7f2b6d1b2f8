// Layer 8, the program on top of the host: tablora runs the module's commands over
// drawings and workbooks from the shell. It loads the module "tabro" from its own
// folder as cadhost does and answers the module's prompts itself, one drawing open
// at a time, all in one process: export, import and the live link are the module's.
#include "host/AcApDocManager.h"
#include "host/AcRxDynamicLinker.h"
#include "host/AcedStatusBar.h"
#include "host/CommandLine.h"
#include "host/CommandOutput.h"
#include "host/HostCommands.h"
#include "host/InputSource.h"
#include "host/TerminalDialogs.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"
#include "host/program/SpreadsheetProgram.h"
#include "host/tablora/Arguments.h"
#include "host/tablora/StatusLine.h"
#include "platform/MessageBox.h"
#include "platform/MessageQueue.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/Timer.h"
#include "sheet/Spreadsheet.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using tablora::message;
using tablora::report;

constexpr const char* kModuleFileName = "tabro.so";

// The module's exported run entries (module/ModuleExports.cpp), found by name in
// the loaded module: the run's settings and mode, and the drawings a register's
// rows name.
using TabroBeginRunEntry = int (*)(const char* settingsFile, int rowsNameDrawing, int preview, char* error,
                                   unsigned long errorSize);
using TabroRegisterDrawingsEntry = int (*)(void (*each)(const char* path, void* context), void* context, char* error,
                                           unsigned long errorSize);

// Exit statuses, as Unix tools give them.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string programFolder() {
    std::string path = platform::moduleFileName(nullptr);
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The answers to the prompts of one command, in order; then the end of input, at
// which a prompt still waiting is cancelled. Not echoed: the report shows what the
// module printed, not the answers tablora gave.
class Answers final : public host::InputSource {
public:
    explicit Answers(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    host::InputLine next(const std::function<bool()>&) override {
        platform::MessageQueue& queue = platform::MessageQueue::main();
        if (queue.isOwnerThread()) queue.pumpPending();
        if (position_ >= lines_.size()) return host::InputLine{host::InputLine::Kind::End, {}, false};
        return host::InputLine{host::InputLine::Kind::Text, lines_[position_++], false};
    }

private:
    std::vector<std::string> lines_;
    std::size_t position_ = 0;
};

// The prompts tablora answered ("... [Yes/No] <No>:", with or without what was
// typed after them) and the Command: prompt of strings the module sent for
// execution: the report leaves them out.
bool isAnsweredPrompt(const std::string& line) {
    if (line.rfind("Command:", 0) == 0) return true;
    const std::size_t colon = line.rfind(':');
    return colon != std::string::npos && colon > 0 && (line[colon - 1] == '>' || line[colon - 1] == ']') &&
           line.find(' ', colon + 2) == std::string::npos;
}

// Collects what the command line shows while it lives, to report it per drawing.
class CollectedOutput {
public:
    CollectedOutput() : previous_(host::setOutputSink([this](std::string_view text) { text_.append(text); })) {}
    ~CollectedOutput() { host::setOutputSink(std::move(previous_)); }
    CollectedOutput(const CollectedOutput&) = delete;
    CollectedOutput& operator=(const CollectedOutput&) = delete;
    // The lines shown, blank ones left out, each indented under the drawing's heading.
    std::string lines() const {
        std::string out;
        std::size_t start = 0;
        while (start <= text_.size()) {
            std::size_t end = text_.find('\n', start);
            if (end == std::string::npos) end = text_.size();
            std::string line = text_.substr(start, end - start);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
            if (!isAnsweredPrompt(line) && line.find_first_not_of(' ') != std::string::npos) out += "  " + line + "\n";
            start = end + 1;
        }
        if (!out.empty()) out.pop_back();
        return out;
    }

private:
    std::string text_;
    host::OutputSink previous_;
};

// Runs TABRO with `answers` in the current document; false when the command
// reported a failure (every failure of the module's shows an error box).
bool runTabro(std::vector<std::string> answers) {
    Answers input(std::move(answers));
    host::setInputSource(&input);
    const std::size_t failuresBefore = platform::failureBoxCount();
    host::executeCommand("TABRO");
    host::runPendingWork();
    host::setInputSource(nullptr);
    return platform::failureBoxCount() == failuresBefore;
}

std::unique_ptr<SpreadsheetProgram> spreadsheet;
bool isWorkbookSaveFailed = false;

void flushWorkbooks(bool isSessionEnd) {
    if (!spreadsheet) return;
    for (const std::string& problem : spreadsheet->flushChangedWorkbooks(isSessionEnd)) {
        isWorkbookSaveFailed = true;
        message(problem);
    }
}

// While the program waits, workbooks changed on disk by another program are
// reloaded so that their edits reach the live link (as cadhost does it).
constexpr UINT kReloadTickMs = 250;
void reloadWorkbooksTick(HWND, UINT, UINT_PTR, DWORD) {
    try {
        if (spreadsheet)
            for (const std::string& text : spreadsheet->idle()) message(text);
    } catch (const std::exception& e) {
        message(e.what());
    }
}

// The run's end on every way out of main: modules unloaded first (they release
// what they hold of the spreadsheet), drawings closed, workbooks saved unless the
// run only looked, the spreadsheet application stopped.
struct SessionEnd {
    UINT_PTR reloadTimer = 0;
    HMODULE module = nullptr;
    bool isSaving = true;
    bool isFinished = false;
    ~SessionEnd() { finish(); }
    void finish() {
        if (std::exchange(isFinished, true)) return;
        if (reloadTimer) KillTimer(nullptr, reloadTimer);
        if (module) FreeLibrary(std::exchange(module, nullptr));
        acrxDynamicLinker->unloadAll();
        acDocManager->closeAll();
        if (isSaving) flushWorkbooks(true);
        if (spreadsheet) spreadsheet->shutdown();
        spreadsheet.reset();
        host::setProgressPresenter({});
        platform::setMessageBoxPresenter(nullptr);
    }
};

// The loaded module's run entries.
struct RunEntries {
    TabroBeginRunEntry beginRun = nullptr;
    TabroRegisterDrawingsEntry registerDrawings = nullptr;
};

// Loads the module beside the program and finds its run entries. A message and
// false when either fails.
bool loadModule(SessionEnd& session, RunEntries& entries) {
    const std::string path = programFolder() + "/" + kModuleFileName;
    std::string error;
    if (!acrxDynamicLinker->loadModule(path.c_str(), false, &error)) {
        message("the module " + path + " cannot be loaded: " + error);
        return false;
    }
    // The host's loader mapped it: this takes one more reference to the same
    // mapping, dropped before the module is unloaded.
    session.module = LoadLibraryA(path.c_str());
    if (session.module) {
        entries.beginRun = reinterpret_cast<TabroBeginRunEntry>(GetProcAddress(session.module, "TabroBeginRun"));
        entries.registerDrawings =
            reinterpret_cast<TabroRegisterDrawingsEntry>(GetProcAddress(session.module, "TabroRegisterDrawings"));
    }
    if (!entries.beginRun || !entries.registerDrawings) {
        message(path +
                " has no run entries (TabroBeginRun, TabroRegisterDrawings); it is not a module tablora can run");
        return false;
    }
    return true;
}

// Opens `path` as the current document; a message and null when it cannot be read.
AcApDocument* openDrawing(const std::string& path) {
    DrawingOpenResult opened = openDrawingFile(path);
    if (!opened) {
        message(opened.error);
        return nullptr;
    }
    for (const std::string& warning : opened.warnings) message("warning: " + warning);
    return acDocManager->newDocument(path, std::move(opened.database));
}

// Saves the drawing to its own file (the previous one kept as .bak), or as
// `asPath`. A message and false when the save failed.
bool saveDrawingFile(AcDbDatabase& db, const std::string& asPath = {}) {
    if (asPath.empty() && db.store().isTruncatedFile(db.fileName())) {
        // As SAVE refuses without a Yes: what the cut took is not in the drawing.
        message(db.fileName() + " was read without its 0/EOF end and may be truncated; not saved over it");
        return false;
    }
    // A file the user made read-only is theirs to keep as it is: the save's rename
    // over it would succeed (the folder is writable) and undo what they meant.
    const std::string target = asPath.empty() ? db.fileName() : asPath;
    std::error_code error;
    const auto permissions = std::filesystem::status(target, error).permissions();
    if (!error && std::filesystem::exists(target, error) &&
        (permissions & std::filesystem::perms::all &
         (std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
          std::filesystem::perms::others_write)) == std::filesystem::perms::none) {
        message(target + " is read-only; the drawing was not saved");
        return false;
    }
    DrawingSaveResult saved = asPath.empty() ? saveDrawing(db) : saveDrawingAs(db, asPath);
    if (!saved) message(saved.error);
    return static_cast<bool>(saved);
}

// The status line follows the module's meter.
host::ProgressPresenter meterOn(tablora::StatusLine& status) {
    host::ProgressPresenter presenter;
    presenter.show = [&status](const std::string& label, int minPos, int maxPos) {
        if (auto* bar = status.bar()) bar->showMeter(label, minPos, maxPos);
        status.update(true);
    };
    presenter.position = [&status](int pos) {
        if (auto* bar = status.bar()) bar->setMeterPosition(pos);
        status.update();
    };
    presenter.restore = [&status] {
        if (auto* bar = status.bar()) bar->hideMeter();
        status.update();
    };
    return presenter;
}

void setPhase(tablora::StatusLine& status, const std::string& phase) {
    if (auto* bar = status.bar()) bar->setPhase(phase);
    status.update(true);
}

bool beginRun(const RunEntries& entries, const tablora::Arguments& args, bool rowsNameDrawing) {
    char error[512] = "";
    if (entries.beginRun(args.settingsFile ? args.settingsFile->c_str() : nullptr, rowsNameDrawing ? 1 : 0,
                         args.preview ? 1 : 0, error, sizeof error) != 0) {
        message(error);  // names the settings file
        return false;
    }
    return true;
}

// One drawing of a run: opened (no document when it could not be, the reader having
// said why), the module's command answered with `answers`, what it printed kept.
struct DrawingStep {
    AcApDocument* document = nullptr;
    bool isDone = false;
    std::string lines;
};
DrawingStep runOnDrawing(tablora::StatusLine& status, std::size_t index, const std::string& path,
                         const std::string& phase, std::vector<std::string> answers) {
    if (auto* bar = status.bar()) bar->beginItem(index, fileNameOf(path), "reading");
    status.update(true);
    DrawingStep step;
    step.document = openDrawing(path);
    if (!step.document) {
        if (auto* bar = status.bar()) bar->finishItem();
        return step;
    }
    setPhase(status, phase);
    CollectedOutput output;
    step.isDone = runTabro(std::move(answers));
    step.lines = output.lines();
    return step;
}

int exportCommand(const tablora::Arguments& args, SessionEnd& session, tablora::StatusLine& status) {
    const std::string book = args.workbook.empty() ? tablora::defaultExportWorkbook(args.drawings) : args.workbook;
    std::error_code ignored;
    if (!args.force && std::filesystem::exists(book, ignored)) {
        message(book + " exists; --force replaces it");
        return kExitFailed;
    }
    RunEntries entries;
    if (!loadModule(session, entries)) return kExitFailed;
    if (!beginRun(entries, args, args.drawings.size() > 1)) return kExitUsage;
    try {
        sheet::createWorkbookFile(book, args.force);
    } catch (const std::exception& e) {
        message(e.what());
        return kExitFailed;
    }

    status.start(args.drawings.size());
    std::size_t failed = 0;
    for (std::size_t i = 0; i < args.drawings.size(); ++i) {
        const std::string& path = args.drawings[i];
        const DrawingStep step = runOnDrawing(status, i, path, "exporting", {"Export2", args.blocks});
        if (!step.document) {
            ++failed;
            continue;
        }
        const bool isDone = step.isDone;
        const std::string& lines = step.lines;
        acDocManager->closeDocument(step.document);
        if (auto* bar = status.bar()) bar->finishItem();
        report(path + (isDone ? "" : " (failed)") + (lines.empty() ? "" : "\n" + lines));
        if (!isDone) {
            ++failed;
            message("exporting " + path + " failed");
        }
    }
    if (auto* bar = status.bar()) bar->beginItem(args.drawings.size(), {}, "saving the workbook");
    status.update(true);
    flushWorkbooks(true);
    status.clear();
    const std::size_t done = args.drawings.size() - failed;
    report(std::to_string(args.drawings.size()) + (args.drawings.size() == 1 ? " drawing: " : " drawings: ") +
           std::to_string(done) + " exported, " + std::to_string(failed) + " failed; workbook " + book +
           (isWorkbookSaveFailed ? " not saved" : ""));
    return failed > 0 || isWorkbookSaveFailed ? kExitFailed : kExitDone;
}

bool openWorkbook(const std::string& book) {
    try {
        spreadsheet->prepareWorkbooks({book});
        spreadsheet->openWorkbooks();
    } catch (const sheet::ForeignWorkbookFileError& e) {
        message(e.file + " is " + e.kind + (e.isDrawing ? "; the workbook comes first" : "; save it as .xlsx"));
        return false;
    } catch (const std::exception& e) {
        message(e.what());
        return false;
    }
    return true;
}

void addDrawing(const char* path, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(path); }

int importCommand(const tablora::Arguments& args, SessionEnd& session, tablora::StatusLine& status) {
    std::error_code ignored;
    if (!args.outputFolder.empty() && !std::filesystem::is_directory(args.outputFolder, ignored)) {
        message("-o " + args.outputFolder + ": no such folder");
        std::fputs(tablora::usageText().c_str(), stderr);
        return kExitUsage;
    }
    if (!std::filesystem::exists(args.workbook, ignored)) {
        message(args.workbook + ": no such file");
        return kExitFailed;
    }
    // A preview writes nothing, the workbook included.
    session.isSaving = !args.preview;
    RunEntries entries;
    if (!loadModule(session, entries)) return kExitFailed;
    if (!beginRun(entries, args, false)) return kExitUsage;
    if (!openWorkbook(args.workbook)) return kExitFailed;

    std::vector<std::string> drawings = args.drawings;
    if (drawings.empty()) {
        char error[512] = "";
        if (entries.registerDrawings(addDrawing, &drawings, error, sizeof error) < 0) {
            message(args.workbook + ": " + error);
            return kExitFailed;
        }
        for (const tablora::DrawingRepeat& repeat : tablora::takeEachDrawingOnce(drawings))
            message(args.workbook + " names " + repeat.name + ", which is " + repeat.takenAs +
                    " again; the drawing is taken once");
        if (drawings.empty()) {
            message(args.workbook + " names no drawing in its rows; name the drawing: tablora import " + args.workbook +
                    " DRAWING");
            return kExitUsage;
        }
    }

    status.start(drawings.size());
    std::size_t changed = 0, unchanged = 0, failed = 0;
    std::set<std::string> writtenInto;  // what the run wrote into the output folder
    for (std::size_t i = 0; i < drawings.size(); ++i) {
        const std::string& path = drawings[i];
        // A preview's question is answered No: the changes are listed, not made.
        const DrawingStep step =
            runOnDrawing(status, i, path, "importing",
                         args.preview ? std::vector<std::string>{"Import", "No"} : std::vector<std::string>{"Import"});
        AcApDocument* document = step.document;
        if (!document) {
            ++failed;
            continue;
        }
        const bool isDone = step.isDone;
        const std::string& lines = step.lines;
        AcDbDatabase* db = document->database();
        std::string outcome;
        // The import brought the workbook's record of this drawing up to date with
        // what it applied. When the drawing is not saved, saving the workbook would
        // make the next import take the user's edits for values the drawing already
        // has: the workbook stays as it is on disk, record and all.
        bool keepsWorkbook = false;
        if (!isDone) {
            outcome = "failed";
            keepsWorkbook = db && db->isModified();
        } else if (args.preview || !db || !db->isModified()) {
            outcome = args.preview ? "previewed" : "unchanged";
        } else {
            setPhase(status, "saving");
            const std::string as = args.outputFolder.empty()
                                       ? std::string()
                                       : (std::filesystem::path(args.outputFolder) / fileNameOf(path)).string();
            // Drawings of one name from two folders would end as one file in the
            // output folder, the second over the first: the second is not written.
            if (!as.empty() && !writtenInto.insert(std::filesystem::path(as).lexically_normal().string()).second) {
                message(path + " is not saved: " + as + " holds another drawing of this run");
                outcome = "failed: not saved";
            } else if (saveDrawingFile(*db, as)) {
                outcome = "changed, saved" + (as.empty() ? std::string() : " as " + as);
            } else {
                outcome = "failed: not saved";
            }
            keepsWorkbook = outcome.rfind("failed", 0) == 0;
        }
        if (keepsWorkbook && session.isSaving) {
            session.isSaving = false;
            message("the workbook " + args.workbook + " is not saved: its record of " + path +
                    " would no longer match the drawing, which was not saved");
        }
        acDocManager->closeDocument(document);
        if (auto* bar = status.bar()) bar->finishItem();
        report(path + ": " + outcome + (lines.empty() ? "" : "\n" + lines));
        if (outcome.rfind("failed", 0) == 0) {
            ++failed;
            if (!isDone) message("importing into " + path + " failed");
        } else if (outcome.rfind("changed", 0) == 0) {
            ++changed;
        } else {
            ++unchanged;
        }
    }
    if (auto* bar = status.bar(); bar && !args.preview) bar->beginItem(drawings.size(), {}, "saving the workbook");
    status.update(true);
    session.finish();
    status.clear();
    const std::string count = std::to_string(drawings.size()) + (drawings.size() == 1 ? " drawing: " : " drawings: ");
    if (args.preview)
        report(count + std::to_string(unchanged) + " previewed, " + std::to_string(failed) +
               " failed; nothing written");
    else
        report(count + std::to_string(changed) + " changed, " + std::to_string(unchanged) + " unchanged, " +
               std::to_string(failed) + " failed" + (isWorkbookSaveFailed ? "; the workbook was not saved" : ""));
    return failed > 0 || isWorkbookSaveFailed ? kExitFailed : kExitDone;
}

volatile sig_atomic_t stopSignal = 0;
void onStopSignal(int signal) { stopSignal = signal; }

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int linkCommand(const tablora::Arguments& args, SessionEnd& session) {
    const std::string& path = args.drawings.front();
    RunEntries entries;
    if (!loadModule(session, entries)) return kExitFailed;
    if (!beginRun(entries, args, false)) return kExitUsage;
    if (!openWorkbook(args.workbook)) return kExitFailed;
    AcApDocument* document = openDrawing(path);
    if (!document) return kExitFailed;

    // The module's own lines go to stdout as they are completed while the link runs.
    auto pending = std::make_shared<std::string>();
    host::OutputSink previous = host::setOutputSink([pending](std::string_view text) {
        pending->append(text);
        for (std::size_t end; (end = pending->find('\n')) != std::string::npos; pending->erase(0, end + 1)) {
            std::string line = pending->substr(0, end);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
            if (!line.empty() && !isAnsweredPrompt(line)) report(line);
        }
    });
    struct RestoreSink {
        host::OutputSink previous;
        ~RestoreSink() { host::setOutputSink(std::move(previous)); }
    } restoreSink{std::move(previous)};

    installStopHandlers();
    if (!runTabro({"Connect"})) {
        message("connecting " + path + " with " + args.workbook + " failed");
        return kExitFailed;
    }
    message("linked " + path + " with " + args.workbook + "; Ctrl+C ends the link");

    bool isSaveFailed = false;
    auto saveIfModified = [&] {
        AcDbDatabase* db = document->database();
        if (!db || !db->isModified()) return;
        if (saveDrawingFile(*db))
            message("saved " + path);
        else
            isSaveFailed = true;
    };
    using Clock = std::chrono::steady_clock;
    const auto saveEvery = std::chrono::seconds(args.saveEverySeconds);
    auto lastSave = Clock::now() - saveEvery;
    platform::MessageQueue& queue = platform::MessageQueue::main();
    while (!stopSignal) {
        // A signal interrupts the wait at the latest when this times out.
        queue.waitAndPump(std::chrono::milliseconds(200));
        host::runPendingWork();
        if (Clock::now() - lastSave >= saveEvery) {
            AcDbDatabase* db = document->database();
            if (db && db->isModified()) {
                saveIfModified();
                lastSave = Clock::now();
            }
        }
    }
    // Edits the link took last are in the drawing before it is saved.
    queue.pumpPending();
    host::runPendingWork();
    saveIfModified();
    runTabro({"Disconnect"});
    session.finish();
    return isSaveFailed || isWorkbookSaveFailed ? kExitFailed : kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    platform::markMainThread();
    const tablora::ParsedArguments parsed = tablora::parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    switch (parsed.kind) {
    case tablora::ParsedArguments::Kind::Help:
        std::fputs(tablora::usageText().c_str(), stdout);
        return kExitDone;
    case tablora::ParsedArguments::Kind::Version:
        std::fputs(tablora::versionText().c_str(), stdout);
        return kExitDone;
    case tablora::ParsedArguments::Kind::UsageError:
        std::fprintf(stderr, "tablora: %s\n", parsed.error.c_str());
        std::fputs(tablora::usageText().c_str(), stderr);
        return kExitUsage;
    case tablora::ParsedArguments::Kind::Run:
        break;
    }
    tablora::Arguments args = parsed.arguments;
    for (const tablora::DrawingRepeat& repeat : tablora::takeEachDrawingOnce(args.drawings))
        message(repeat.name + " is " + repeat.takenAs + " again; the drawing is taken once");

    tablora::StatusLine status(stderr);
    tablora::setStatusLine(&status);
    struct StatusLineEnd {
        ~StatusLineEnd() { tablora::setStatusLine(nullptr); }
    } statusLineEnd;

    // Nobody answers a box: its default button is taken, and the box is shown on
    // stderr (a failure box counts as the command's failure).
    platform::TerminalMessageBoxPresenter boxes(stderr, {});
    platform::setMessageBoxPresenter([boxes, &status](const platform::MessageBoxRequest& request) {
        status.clear();
        return boxes(request);
    });
    host::TerminalDialogPresenters dialogPresenters;
    if (status.isShown()) host::setProgressPresenter(meterOn(status));

    host::registerBuiltinCommands();
    if (args.calc) {
        calc::BackendOptions calcOptions;
        calcOptions.pipeName = "tablora";
        calcOptions.homeFolder = std::filesystem::absolute(platform::registryHome()).string();
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        calcOptions.isHeadless = !(display && *display) && !(wayland && *wayland);
        if (const char* program = std::getenv("TABLORA_SOFFICE")) calcOptions.officeProgram = program;
        // Nobody answers at the terminal: the office's questions take No.
        calcOptions.ask = [](const std::string& question) {
            message(question + ": No");
            return false;
        };
        calcOptions.notify = [](const std::string& text) {
            if (platform::isMainThread())
                message(text);
            else
                std::fprintf(stderr, "tablora: %s\n", text.c_str());
        };
        std::string error;
        spreadsheet = SpreadsheetProgram::calc(programFolder(), calcOptions, error);
        if (!spreadsheet) {
            message(error);
            return kExitFailed;
        }
    } else {
        spreadsheet = SpreadsheetProgram::standIn();
    }
    SessionEnd session;
    if (std::string problem = spreadsheet->registerApplication(); !problem.empty()) {
        message(problem);
        return kExitFailed;
    }
    session.reloadTimer = SetTimer(nullptr, 0, kReloadTickMs, reloadWorkbooksTick);

    int status_ = kExitFailed;
    try {
        switch (args.command) {
        case tablora::Command::Export:
            status_ = exportCommand(args, session, status);
            break;
        case tablora::Command::Import:
            status_ = importCommand(args, session, status);
            break;
        case tablora::Command::Link:
            status_ = linkCommand(args, session);
            break;
        }
    } catch (const std::exception& e) {
        message(e.what());
        status_ = kExitFailed;
    }
    const bool spreadsheetFailed = spreadsheet && spreadsheet->hasFailedToStart();
    session.finish();
    status.clear();
    if (status_ == kExitDone && (isWorkbookSaveFailed || spreadsheetFailed)) status_ = kExitFailed;
    return status_;
}
