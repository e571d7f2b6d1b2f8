// Layer 2, command input: one line of input and the sources lines come from (a
// script, a terminal, a pipe). Calls only command output below it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace host {

// One line of command input: text, or a cancel (Escape, Ctrl+C, "^C" in a script).
struct InputLine {
    enum class Kind { Text, Cancel, End, Interrupted };
    Kind kind = Kind::Text;
    std::string text;
    bool echo = false;  // show it after the prompt (it did not come from a terminal)
};

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

}  // namespace host
