// Starting programs and opening documents the platform's way: ShellExecuteA opens a
// target with the desktop's opener (`xdg-open TARGET`), WinExec starts a command
// line. Neither hands anything to a shell interpreter, so a target's text is never
// run as commands. Every start goes through one replaceable starter, the seam that
// lets tests open links without launching a browser.
#pragma once

#include "platform/WinTypes.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Show commands (accepted; nothing here has a window to show).
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// ShellExecuteA results at or below 32 are failures.
constexpr int SE_ERR_FNF = 2;
constexpr int SE_ERR_PNF = 3;
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_OOM = 8;
constexpr int SE_ERR_SHARE = 26;
constexpr int SE_ERR_ASSOCINCOMPLETE = 27;
constexpr int SE_ERR_DDETIMEOUT = 28;
constexpr int SE_ERR_DDEFAIL = 29;
constexpr int SE_ERR_DDEBUSY = 30;
constexpr int SE_ERR_NOASSOC = 31;
constexpr int SE_ERR_DLLNOTFOUND = 32;
constexpr UINT ERROR_BAD_FORMAT = 11;

// Performs `operation` ("open", or null for it) on `file`. Any other verb gives
// SE_ERR_NOASSOC, an empty file SE_ERR_FNF. `parameters` (split as a command line)
// follow the target; `directory` is the opener's working folder. The result, cast
// from the returned handle: 42 when the opener took the target; otherwise
//   SE_ERR_FNF              the target does not exist (opener status 2)
//   SE_ERR_NOASSOC          no opener is installed, or none handles the target (3)
//   SE_ERR_ASSOCINCOMPLETE  the opener refused the arguments or failed (1, 4, others)
//   SE_ERR_ACCESSDENIED     the opener may not be run
//   SE_ERR_OOM              the system could not start a process
// Waits for the opener, which returns as soon as it has handed the target on.
HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int show);

// Starts `commandLine` (split by the platform's command-line rules: blanks separate,
// double quotes group, backslashes escape quotes) without waiting for it. Greater
// than 31 on success; otherwise 0 (out of resources), ERROR_FILE_NOT_FOUND (no such
// program, or an empty line), ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED or
// ERROR_BAD_FORMAT (not a program).
UINT WinExec(const char* commandLine, UINT show);

namespace platform {

struct ProcessRequest {
    std::vector<std::string> argv;  // argv[0] is looked up on PATH when it holds no '/'
    std::string directory;          // empty: the caller's
    bool waitForExit = false;
};

struct ProcessOutcome {
    int startError = 0;  // errno of a failed start; 0 when the program runs
    int exitStatus = 0;  // when waited for: the exit status (128 + signal when killed)
};

using ProcessStarter = std::function<ProcessOutcome(const ProcessRequest&)>;

// Installs the starter every ShellExecuteA and WinExec goes through and returns the
// previous one; an empty one restores the real starter. Main thread.
ProcessStarter setProcessStarter(ProcessStarter starter);

// A command line split as WinExec splits it.
std::vector<std::string> splitCommandLine(std::string_view commandLine);
// `argument` written so that splitCommandLine gives it back as one argument: as it
// stands when it holds no blank, tab or quotation mark (and is not empty), else in
// quotation marks with embedded quotation marks and the backslashes before them escaped.
std::string quoteCommandLineArgument(std::string_view argument);

}  // namespace platform
