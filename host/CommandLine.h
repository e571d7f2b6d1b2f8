// The command line: the Command: prompt, commands by name, the host's own commands,
// where input comes from, and the hooks run when a command ends.
#pragma once

#include "host/AcApDocManager.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace host {

// Gives the command line its next line of input. next() waits (serving the main
// thread's messages and timers) until a line is there, or returns Interrupted as soon
// as `interrupted()` turns true after serving them. End means no more input.
class InputSource {
public:
    virtual ~InputSource() = default;
    virtual InputLine next(const std::function<bool()>& interrupted) = 0;
    // True when answers are typed by a person at a terminal.
    virtual bool isInteractive() const { return false; }
};

// Lines from a list (a script): echoed; a line holding only "^C" cancels; ends
// after the last line. Serves due messages and timers before each line.
class ScriptInput : public InputSource {
public:
    explicit ScriptInput(std::vector<std::string> lines);
    // Reads a script file; throws std::runtime_error naming the file when it cannot
    // be read or holds a NUL byte or a line over 4096 bytes.
    static ScriptInput fromFile(const std::string& path);
    InputLine next(const std::function<bool()>& interrupted) override;
    std::size_t remaining() const { return lines_.size() - position_; }

private:
    std::vector<std::string> lines_;
    std::size_t position_ = 0;
};

// Lines from a file descriptor (a terminal or a pipe), waiting with poll on the
// descriptor, the main thread's queue and `cancelFd` (readable when Ctrl+C was
// pressed; -1 for none) while serving due timers. Pipe input is echoed, terminal
// input is not. Lines longer than 4096 bytes are cut there.
class DescriptorInput : public InputSource {
public:
    DescriptorInput(int fd, bool interactive, int cancelFd = -1);
    InputLine next(const std::function<bool()>& interrupted) override;
    bool isInteractive() const override { return interactive_; }
    // Reads one line without serving anything (answers to message boxes).
    std::optional<std::string> readLineNow();

private:
    bool takeBufferedLine(std::string& line);
    int fd_;
    bool interactive_;
    int cancelFd_;
    std::string buffer_;
    bool eof_ = false;
};

// Installs the source the command line reads when a document has no input of its
// own queued (not owned; null = no input: prompts then end as cancelled).
InputSource* setInputSource(InputSource* source);
InputSource* inputSource();

// Prints `prompt` and returns the next input line of the current document: its
// queued input first, then the input source. Echoes lines that ask for it. A line
// ending the input is returned as End (callers treat it as a cancel).
InputLine readInputLine(const char* prompt);

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

// Registers QUIT, DELAY, ARXLOAD, ARXUNLOAD and the drawing file commands (OPEN,
// SAVE, QSAVE, SAVEAS, LIST); cadhost and tests call it once.
void registerBuiltinCommands();

}  // namespace host
