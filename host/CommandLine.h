// Layer 7, the command line: the Command: prompt, commands by name (the host's own
// first, then the command stack), expressions, strings sent for execution, the input
// queued to each document and the hooks run when a command ends. Built on every
// layer below; the host commands sit on top of it.
#pragma once

#include "host/AcApDocManager.h"
#include "host/CommandInput.h"

#include <functional>
#include <string>

namespace host {

// The host's own commands, found before the modules' ones (a leading "." or "_."
// always selects them). `name` compares in any letter case.
void addHostCommand(const std::string& name, std::function<void()> body);
bool removeHostCommand(const std::string& name);

// Runs one command by name as typed at the Command: prompt (host command first, then
// the command stack); the end-of-command hooks run afterwards. Prints the host's
// message and returns false for an unknown name.
bool executeCommand(const std::string& name);
// Handles one line typed at the Command: prompt: a command name or an expression.
void processCommandLine(const std::string& line);

// Runs the command line until QUIT or the end of input: queued expressions and
// strings sent for execution run whenever the document is quiescent.
void runCommandLoop();
// Runs what the current document has pending (queued expressions, sent strings)
// without reading the input source. Returns how many items ran.
int runPendingWork();

void requestQuit();
bool quitRequested();
// Clears the quit request (tests run several loops in one process).
void resetQuit();

// Functions called after each command ends (e.g. flushing changed workbooks), in
// the order added. Returns an id for removeCommandEndHook.
int addCommandEndHook(std::function<void()> hook);
void removeCommandEndHook(int id);

// The input queued to `document` (an open one): prompts read it while the document
// is current, before the input source; the document is not quiescent while a line
// waits there.
InputQueue& inputQueueOf(AcApDocument* document);

// Whether the command running in the current document is its outermost one: not run
// by another command (acedCommand); one run while another waits on purpose (DELAY)
// counts as outermost. True when no command runs.
bool isOutermostCommand();

// For the scope's lifetime the current document counts as idle although the command
// that made the scope runs: it waits on purpose (DELAY) for timers and sent strings.
class IdleWaitScope {
public:
    IdleWaitScope();
    ~IdleWaitScope();
    IdleWaitScope(const IdleWaitScope&) = delete;
    IdleWaitScope& operator=(const IdleWaitScope&) = delete;

private:
    AcApDocument* document_;
};

}  // namespace host
