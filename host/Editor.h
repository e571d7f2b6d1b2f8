// Layer 3, the editor: the prompts and printing a module calls (keyword and string
// input, acutPrintf), the main window and its message box. Built on command output
// and command input; the system variables it shares with modules come with it.
#pragma once

#include "host/Ads.h"
#include "host/CommandOutput.h"
#include "host/SystemVariables.h"
#include "platform/WinTypes.h"

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
// Reports a failure of an AutoLISP function to the host: prints the text.
void acdbFail(const char* text);

// The host's main window: owner of message boxes and dialogs.
HWND adsw_acadMainWnd();

// The framework's message box: owned by the main window, the host's title as caption.
int AfxMessageBox(const char* text, UINT type = 0, UINT helpId = 0);

namespace host {

// The host program's title ("Cadhost"), caption of AfxMessageBox.
const char* hostTitle();

}  // namespace host
