// The command loop, command execution, the host's own commands and input sources.
#include "host/CommandLine.h"

#include "host/AcEdCommandStack.h"
#include "host/AcRxDynamicLinker.h"
#include "host/AutoLisp.h"
#include "host/DrawingCommands.h"
#include "host/Editor.h"
#include "platform/MessageQueue.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <strings.h>

namespace host {
namespace {

constexpr std::size_t kMaxLineBytes = 4096;

InputSource*& sourceSlot() {
    static InputSource* source = nullptr;
    return source;
}

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

std::string trim(const std::string& s) {
    auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Counts a running command in the document and the host for the scope's lifetime;
// the end-of-command hooks run when the outermost command ends, however it ends.
class CommandScope {
public:
    explicit CommandScope(AcApDocument* document) : document_(document) {
        if (document_) ++document_->commandDepth();
        ++commandNesting();
    }
    ~CommandScope() {
        if (document_ && isOpen(document_)) --document_->commandDepth();
        if (--commandNesting() == 0) runHooks();
    }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    static bool isOpen(AcApDocument* document) {
        auto documents = acDocManager->documents();
        return std::find(documents.begin(), documents.end(), document) != documents.end();
    }
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
};

// Sets the document's "waiting on purpose" flag for the scope's lifetime.
class IdleWaitScope {
public:
    explicit IdleWaitScope(AcApDocument* document) : document_(document) {
        if (document_) document_->idleWait() = true;
    }
    ~IdleWaitScope() {
        if (document_) document_->idleWait() = false;
    }
    IdleWaitScope(const IdleWaitScope&) = delete;
    IdleWaitScope& operator=(const IdleWaitScope&) = delete;

private:
    AcApDocument* document_;
};

void echo(const InputLine& line) {
    if (!line.echo) return;
    if (line.kind == InputLine::Kind::Text) writeOutput(line.text);
}

InputLine readLineWith(const char* prompt, bool showPrompt, const std::function<bool()>& interrupted) {
    if (showPrompt) writeOutput(prompt);
    for (;;) {
        AcApDocument* document = acDocManager->curDocument();
        if (document && !document->activeInput().empty()) {
            InputLine line = document->activeInput().front();
            document->activeInput().pop_front();
            echo(line);
            if (line.kind == InputLine::Kind::Cancel) writeOutput("*Cancel*");
            return line;
        }
        if (document && document->answersOnly() > 0) {
            writeOutput("*Cancel*");
            return InputLine{InputLine::Kind::Cancel, {}, false};
        }
        InputSource* source = sourceSlot();
        if (!source) return InputLine{InputLine::Kind::End, {}, false};
        InputLine line = source->next([&] {
            AcApDocument* d = acDocManager->curDocument();
            return (d && !d->activeInput().empty()) || (interrupted && interrupted());
        });
        if (line.kind == InputLine::Kind::Interrupted) {
            AcApDocument* d = acDocManager->curDocument();
            if (d && !d->activeInput().empty()) continue;
            return line;
        }
        echo(line);
        if (line.kind == InputLine::Kind::Cancel) writeOutput("*Cancel*");
        return line;
    }
}

// Moves the oldest string sent for execution into the document's input, one line per
// "\n". False when there is none or input is still being fed.
bool startNextSentString(AcApDocument* document) {
    if (!document || !document->activeInput().empty() || document->sentStrings().empty()) return false;
    std::string text = document->sentStrings().front();
    document->sentStrings().pop_front();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        document->activeInput().push_back(InputLine{InputLine::Kind::Text, text.substr(start, end - start), true});
        start = end + 1;
    }
    return true;
}

void delayCommand() {
    long milliseconds = -1;
    for (;;) {
        char answer[ADS_INPUT_BUFFER];
        if (acedGetString(0, "\nDelay time in milliseconds: ", answer) != RTNORM) return;
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(answer, &end, 10);
        if (*answer && end && *end == '\0' && errno == 0 && value >= 0 && value <= 3600000) {
            milliseconds = value;
            break;
        }
        acutPrintf("\nRequires an integer between 0 and 3600000.");
    }
    AcApDocument* document = acDocManager->curDocument();
    IdleWaitScope idle(document);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    platform::MessageQueue& queue = platform::MessageQueue::main();
    for (;;) {
        runPendingWork();
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline || quitRequested()) break;
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (queue.isOwnerThread())
            queue.waitAndPump(std::max(remaining, std::chrono::milliseconds(1)));
        else
            std::this_thread::sleep_for(remaining);
    }
}

void arxloadCommand() {
    char path[ADS_INPUT_BUFFER];
    if (acedGetString(1, "\nModule file to load: ", path) != RTNORM || !*path) return;
    acrxDynamicLinker->loadModule(path, true);
}

void arxunloadCommand() {
    char name[ADS_INPUT_BUFFER];
    if (acedGetString(1, "\nModule to unload: ", name) != RTNORM || !*name) return;
    acrxDynamicLinker->unloadModule(name, true);
}

}  // namespace

ScriptInput::ScriptInput(std::vector<std::string> lines) : lines_(std::move(lines)) {}

ScriptInput ScriptInput::fromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read script file " + path);
    std::vector<std::string> lines;
    std::string line;
    std::size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": NUL byte in script line");
        if (line.size() > kMaxLineBytes)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": script line longer than 4096 bytes");
        lines.push_back(line);
    }
    if (in.bad()) throw std::runtime_error("cannot read script file " + path);
    return ScriptInput(std::move(lines));
}

InputLine ScriptInput::next(const std::function<bool()>& interrupted) {
    platform::MessageQueue& queue = platform::MessageQueue::main();
    if (queue.isOwnerThread()) queue.pumpPending();
    if (interrupted && interrupted()) return InputLine{InputLine::Kind::Interrupted, {}, false};
    if (position_ >= lines_.size()) return InputLine{InputLine::Kind::End, {}, false};
    std::string line = lines_[position_++];
    if (trim(line) == "^C") return InputLine{InputLine::Kind::Cancel, {}, true};
    return InputLine{InputLine::Kind::Text, line, true};
}

DescriptorInput::DescriptorInput(int fd, bool interactive, int cancelFd)
    : fd_(fd), interactive_(interactive), cancelFd_(cancelFd) {}

bool DescriptorInput::takeBufferedLine(std::string& line) {
    std::size_t newline = buffer_.find('\n');
    if (newline == std::string::npos) {
        if (buffer_.size() < kMaxLineBytes && !(eof_ && !buffer_.empty())) return false;
        newline = std::min(buffer_.size(), kMaxLineBytes);
        line = buffer_.substr(0, newline);
        buffer_.erase(0, newline);
    } else {
        line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

std::optional<std::string> DescriptorInput::readLineNow() {
    std::string line;
    while (!takeBufferedLine(line)) {
        if (eof_) return std::nullopt;
        char chunk[4096];
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof_ = true;
            continue;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    if (interactive_) noteCursorAtLineStart();
    return line;
}

InputLine DescriptorInput::next(const std::function<bool()>& interrupted) {
    platform::MessageQueue& queue = platform::MessageQueue::main();
    for (;;) {
        std::string line;
        if (takeBufferedLine(line)) {
            if (interactive_) noteCursorAtLineStart();
            if (trim(line) == "^C") return InputLine{InputLine::Kind::Cancel, {}, !interactive_};
            return InputLine{InputLine::Kind::Text, line, !interactive_};
        }
        if (eof_) return InputLine{InputLine::Kind::End, {}, false};
        if (queue.isOwnerThread()) queue.pumpPending();
        if (interrupted && interrupted()) return InputLine{InputLine::Kind::Interrupted, {}, false};

        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = pollfd{fd_, POLLIN, 0};
        fds[count++] = pollfd{queue.wakeFd(), POLLIN, 0};
        if (cancelFd_ >= 0) fds[count++] = pollfd{cancelFd_, POLLIN, 0};
        int timeout = -1;
        if (auto due = queue.untilNextTimer()) timeout = static_cast<int>(std::min<long long>(due->count(), 60000));
        int ready = ::poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR) {
            eof_ = true;
            continue;
        }
        if (ready <= 0) continue;
        if (cancelFd_ >= 0 && (fds[2].revents & POLLIN)) {
            char drain[64];
            while (::read(cancelFd_, drain, sizeof drain) > 0) {
            }
            buffer_.clear();
            if (interactive_) noteCursorAtLineStart();
            return InputLine{InputLine::Kind::Cancel, {}, false};
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char chunk[4096];
            ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0)
                eof_ = true;
            else
                buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
}

InputSource* setInputSource(InputSource* source) { return std::exchange(sourceSlot(), source); }
InputSource* inputSource() { return sourceSlot(); }

InputLine readInputLine(const char* prompt) { return readLineWith(prompt, true, nullptr); }

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
        CommandScope scope(document);
        try {
            body();
        } catch (const std::exception& e) {
            acutPrintf("\n%s failed: %s", upper(name).c_str(), e.what());
        }
        return true;
    }
    const AcEdCommand* found = hostOnly ? nullptr : acedRegCmds->lookup((global ? "_" + name : name).c_str());
    if (!found) {
        acutPrintf("\nUnknown command \"%s\".  Press F1 for help.", upper(typed).c_str());
        return false;
    }
    AcRxFunctionPtr function = found->function;  // the command may change the stack
    CommandScope scope(document);
    try {
        function();
    } catch (...) {
        // A module's failure must not take the host down with it.
        acutPrintf("\nUnhandled exception in command %s.", upper(name).c_str());
    }
    return true;
}

void processCommandLine(const std::string& rawLine) {
    std::string line = trim(rawLine);
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
            document->activeInput().insert(document->activeInput().begin(), answers.begin(), answers.end());
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
        while (!document->activeInput().empty() && !quitRequested()) {
            InputLine line = readLineWith("\nCommand: ", true, nullptr);
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
        InputLine line = readLineWith("\nCommand: ", !promptShown, [document] {
            return document && (!document->sentStrings().empty() || !document->queuedExpressions().empty());
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

void registerBuiltinCommands() {
    addHostCommand("QUIT", [] { requestQuit(); });
    addHostCommand("DELAY", delayCommand);
    addHostCommand("ARXLOAD", arxloadCommand);
    addHostCommand("ARXUNLOAD", arxunloadCommand);
    registerDrawingCommands();
}

}  // namespace host
