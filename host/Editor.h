// The editor's command-line input and output as a module calls it: keyword and
// string input, printing, system variables, the main window.
#pragma once

#include "host/Ads.h"
#include "platform/WinTypes.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

// Sets the input restrictions (RSG_ flags) and the keyword list for the next input
// call only. The keyword list is spaces-separated; capital letters mark each
// keyword's shortest abbreviation; a "_" word splits local names from the global
// names that follow, in the same order. RTNORM, or RTERROR for an unbalanced list.
int acedInitGet(int flags, const char* keywords);

// Prompts and reads a keyword of the list given to acedInitGet into `result` (at
// least ADS_INPUT_BUFFER bytes). Typed text matches a keyword when it equals it or is
// a prefix at least as long as its abbreviation, ignoring case; "_" before the text
// matches the global names instead. `result` receives the global name (or the
// keyword as listed when the list has no global names). Enter gives RTNONE (unless
// RSG_NONULL), Escape RTCAN; text matching nothing prints "Invalid option keyword."
// and prompts again (with RSG_OTHER it is returned as typed, RTNORM).
int acedGetKword(const char* prompt, char* result);

// Prompts and reads one line into `result` (ADS_INPUT_BUFFER bytes). With cronly 0
// the answer ends at the first blank. Input longer than ADS_INPUT_BUFFER - 1 bytes is
// refused with a message and asked for again. RTNORM, or RTCAN on Escape.
int acedGetString(int cronly, const char* prompt, char* result);

// Prints on the command line (printf format). Returns the number of bytes printed.
int acutPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Runs a host or module command with the given answers, as if typed: arguments are
// pairs of a type and a value (RTSTR with const char*, RTSHORT with int, RTREAL with
// double; RTNONE alone is Enter), ended by 0; the first is the command name. A prompt
// that finds no answer left is cancelled. With CMDECHO 0 the command's prompts and
// answers are not shown. RTNORM, or RTERROR (unknown command, bad argument type, no
// drawing open).
int acedCommand(int type, ...);
// Reports a failure of an AutoLISP function to the host: prints the text.
void acdbFail(const char* text);

// System variables. acedGetVar fills `result` (a string value is allocated with
// new[] and owned by the caller, as acutNewString gives); RTERROR for an unknown name
// or a value of the wrong type.
int acedGetVar(const char* name, resbuf* result);
int acedSetVar(const char* name, const resbuf* value);

// The host's main window: owner of message boxes and dialogs.
HWND adsw_acadMainWnd();

// The framework's message box: owned by the main window, the host's title as caption.
int AfxMessageBox(const char* text, UINT type = 0, UINT helpId = 0);

namespace host {

// The host program's title ("Cadhost"), caption of AfxMessageBox.
const char* hostTitle();

// Where command-line output goes; by default stdout. Returns the previous sink.
using OutputSink = std::function<void(std::string_view)>;
OutputSink setOutputSink(OutputSink sink);
// Writes through the sink (thread-safe).
void writeOutput(std::string_view text);
// The terminal's cursor is at the start of a line (the user just pressed Enter): the
// next output's leading line break is dropped so that prompts do not double-space.
void noteCursorAtLineStart();

// Hides command-line output for the scope's lifetime (commands run with CMDECHO 0).
class OutputMute {
public:
    OutputMute();
    ~OutputMute();
    OutputMute(const OutputMute&) = delete;
    OutputMute& operator=(const OutputMute&) = delete;
};

// Collects command-line output for its lifetime (tests).
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;
    std::string text() const;
    void clear();

private:
    struct State;
    std::shared_ptr<State> state_;
    OutputSink previous_;
};

// A system variable served by a getter and setter. The host registers CMDECHO
// (a 16-bit integer, 1 at start); other parts of the host register their own.
struct SystemVariable {
    std::function<bool(resbuf&)> get;        // fills type and value
    std::function<bool(const resbuf&)> set;  // false: refused (wrong type or range)
};
void registerSystemVariable(const std::string& name, SystemVariable variable);
// A 16-bit integer variable with its own storage.
void registerShortVariable(const std::string& name, short initial, short minimum = -32768, short maximum = 32767);

}  // namespace host
