// Layer 7, the command line: the command loop, command execution and the input
// queued to each document.
#include "host/CommandLine.h"

#include "host/AcEdCommandStack.h"
#include "host/AutoLisp.h"
#include "host/Editor.h"
#include "host/db/DrawingStore.h"
#include "platform/Text.h"

#include <strings.h>
#include <cctype>
#include <map>
#include <sstream>
#include <vector>

namespace host {
namespace {

// What the command line keeps in each document.
struct CommandLineState final : DocumentData {
    InputQueue input;
    int running = 0;        // commands running in the document, nested ones included
    bool idleWait = false;  // the innermost one waits on purpose (IdleWaitScope)
    bool isIdle() const override { return running - (idleWait ? 1 : 0) == 0 && input.lines.empty(); }
};

CommandLineState& stateOf(AcApDocument* document) { return documentData<CommandLineState>(*document); }

// Prompts read the current document's queue.
InputQueue* currentDocumentInput() {
    AcApDocument* document = acDocManager->curDocument();
    return document ? &stateOf(document).input : nullptr;
}

[[maybe_unused]] const bool inputLookupInstalled = (setInputQueueLookup(currentDocumentInput), true);

bool& quitFlag() {
    static bool quit = false;
    return quit;
}

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const { return ::strcasecmp(a.c_str(), b.c_str()) < 0; }
};

std::map<std::string, std::function<void()>, CaseInsensitiveLess>& hostCommands() {
    static std::map<std::string, std::function<void()>, CaseInsensitiveLess> commands;
    return commands;
}

std::vector<std::pair<int, std::function<void()>>>& endHooks() {
    static std::vector<std::pair<int, std::function<void()>>> hooks;
    return hooks;
}

int& commandNesting() {
    static int depth = 0;
    return depth;
}

// Counts a running command in the document and the host for the scope's lifetime;
// the end-of-command hooks run when the outermost command ends, however it ends.
// What the document's outermost command changes in its drawing is one undo group,
// named after the command; a command run while another waits on purpose (DELAY)
// counts as outermost, a command run by another (acedCommand) is part of it.
class CommandScope {
public:
    CommandScope(AcApDocument* document, const std::string& name) : document_(document) {
        if (document_) {
            CommandLineState& state = stateOf(document_);
            if (state.running - (state.idleWait ? 1 : 0) == 0 && document_->database()) {
                database_ = document_->database();
                database_->store().undoHistory().beginGroup(platform::upper(name));
            }
            ++state.running;
        }
        ++commandNesting();
    }
    ~CommandScope() {
        // The command may have closed its own document, and its drawing with it.
        if (document_ && acDocManager->isOpen(document_)) {
            if (database_ && document_->database() == database_) database_->store().undoHistory().endGroup();
            --stateOf(document_).running;
        }
        if (--commandNesting() == 0) runHooks();
    }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    static void runHooks() {
        auto hooks = endHooks();  // a hook may add or remove hooks
        for (auto& [id, hook] : hooks) {
            try {
                hook();
            } catch (const std::exception& e) {
                acutPrintf("\nError after the command: %s", e.what());
            } catch (...) {
                acutPrintf("\nError after the command.");
            }
        }
    }
    AcApDocument* document_;
    AcDbDatabase* database_ = nullptr;  // the drawing whose undo group this scope holds open
};

// Moves the oldest string sent for execution into the document's input, one line per
// "\n". False when there is none or input is still being fed.
bool startNextSentString(AcApDocument* document) {
    if (!document || !acDocManager->isOpen(document) || !document->hasSentStrings()) return false;
    InputQueue& input = stateOf(document).input;
    if (!input.lines.empty()) return false;
    std::string text = *document->takeSentString();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        // Ctrl+C in a sent string cancels, as pressed at the keyboard.
        InputLine::Kind kind = line == "\x03" ? InputLine::Kind::Cancel : InputLine::Kind::Text;
        input.lines.push_back(InputLine{kind, std::move(line), kind == InputLine::Kind::Text});
        start = end + 1;
    }
    return true;
}

}  // namespace

InputQueue& inputQueueOf(AcApDocument* document) { return stateOf(document).input; }

bool isOutermostCommand() {
    AcApDocument* document = acDocManager->curDocument();
    if (!document) return true;
    const CommandLineState& state = stateOf(document);
    return state.running - (state.idleWait ? 1 : 0) <= 1;
}

IdleWaitScope::IdleWaitScope() : document_(acDocManager->curDocument()) {
    if (document_) stateOf(document_).idleWait = true;
}

IdleWaitScope::~IdleWaitScope() {
    if (document_ && acDocManager->isOpen(document_)) stateOf(document_).idleWait = false;
}

void addHostCommand(const std::string& name, std::function<void()> body) { hostCommands()[name] = std::move(body); }

bool removeHostCommand(const std::string& name) { return hostCommands().erase(name) > 0; }

bool executeCommand(const std::string& typed) {
    std::string name = typed;
    bool hostOnly = false;
    bool global = false;
    while (!name.empty() && (name[0] == '_' || name[0] == '.')) {
        (name[0] == '_' ? global : hostOnly) = true;
        name.erase(0, 1);
    }
    AcApDocument* document = acDocManager->curDocument();
    if (auto it = hostCommands().find(name); it != hostCommands().end() && !name.empty()) {
        std::function<void()> body = it->second;
        CommandScope scope(document, name);
        try {
            body();
        } catch (const std::exception& e) {
            acutPrintf("\n%s failed: %s", platform::upper(name).c_str(), e.what());
        }
        return true;
    }
    const AcEdCommand* found = hostOnly ? nullptr : acedRegCmds->lookup((global ? "_" + name : name).c_str());
    if (!found) {
        acutPrintf("\nUnknown command \"%s\".  Press F1 for help.", platform::upper(typed).c_str());
        return false;
    }
    AcRxFunctionPtr function = found->function;  // the command may change the stack
    CommandScope scope(document, found->localName.empty() ? found->globalName : found->localName);
    try {
        function();
    } catch (...) {
        // A module's failure must not take the host down with it.
        acutPrintf("\nUnhandled exception in command %s.", platform::upper(name).c_str());
    }
    return true;
}

void processCommandLine(const std::string& rawLine) {
    std::string line = std::string(platform::trim(rawLine, " \t\r"));
    if (line.empty()) return;
    if (line[0] == '(') {
        if (AcApDocument* document = acDocManager->curDocument())
            evaluateExpression(document, line, true);
        else
            acutPrintf("\n; error: no drawing is open");
        return;
    }
    // A blank ends the command name as Enter does; the rest answers its prompts.
    std::size_t blank = line.find_first_of(" \t");
    if (blank != std::string::npos) {
        if (AcApDocument* document = acDocManager->curDocument()) {
            std::istringstream rest(line.substr(blank));
            std::vector<InputLine> answers;
            for (std::string word; rest >> word;) answers.push_back(InputLine{InputLine::Kind::Text, word, true});
            auto& queued = stateOf(document).input.lines;
            queued.insert(queued.begin(), answers.begin(), answers.end());
        }
        line.resize(blank);
    }
    executeCommand(line);
}

int runPendingWork() {
    AcApDocument* document = acDocManager->curDocument();
    if (!document) return 0;
    int count = 0;
    for (;;) {
        count += runQueuedExpressions(document);
        if (!startNextSentString(document)) break;
        while (acDocManager->isOpen(document) && !stateOf(document).input.lines.empty() && !quitRequested()) {
            InputLine line = readInputLine("\nCommand: ", true, nullptr);
            ++count;
            if (line.kind == InputLine::Kind::Text) processCommandLine(line.text);
        }
    }
    return count;
}

void runCommandLoop() {
    bool promptShown = false;
    while (!quitRequested()) {
        AcApDocument* document = acDocManager->curDocument();
        if (runQueuedExpressions(document) > 0) promptShown = false;
        startNextSentString(document);
        InputLine line = readInputLine("\nCommand: ", !promptShown, [document] {
            return document && acDocManager->isOpen(document) &&
                   (document->hasSentStrings() || !queuedExpressionsOf(document).empty());
        });
        promptShown = line.kind == InputLine::Kind::Interrupted;
        if (line.kind == InputLine::Kind::End) break;
        if (line.kind == InputLine::Kind::Text) processCommandLine(line.text);
    }
}

void requestQuit() { quitFlag() = true; }
bool quitRequested() { return quitFlag(); }
void resetQuit() { quitFlag() = false; }

int addCommandEndHook(std::function<void()> hook) {
    static int nextId = 0;
    endHooks().emplace_back(++nextId, std::move(hook));
    return nextId;
}

void removeCommandEndHook(int id) {
    std::erase_if(endHooks(), [id](const auto& entry) { return entry.first == id; });
}

}  // namespace host
