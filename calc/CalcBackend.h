// The Calc backend as a program starts it: the library is loaded by file name and
// hands out one backend object, so that a machine without LibreOffice still runs
// the program with the stand-in (the library then fails to load, and says why).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace calc {

// How to reach the office.
struct BackendOptions {
    // The office accepts connections on this named pipe only: a TCP accept would let
    // any local user run code in it.
    std::string pipeName = "tablora";
    // The user state folder; an office the backend starts headless keeps its private
    // profile under it.
    std::string homeFolder;
    // Started offices are visible when a display is there, headless otherwise.
    bool isHeadless = true;
    // Calls the office does not answer within this time fail (and the connection is
    // dropped, to be made again by the next command).
    unsigned callTimeoutMs = 30000;
    // How long a started office may take to accept the connection (a cold start of
    // a new profile takes a few seconds).
    unsigned startTimeoutMs = 30000;
    // The office program to start (soffice); empty: the installation's own.
    std::string officeProgram;
    // Asks the user a yes/no question on the host's command line; no function, or
    // nobody there to answer, is the answer No.
    std::function<bool(const std::string& question)> ask;
    // Tells the user, in one line, what happened to the office outside any command's
    // doing: it went away and was started again, or it keeps running for another
    // program. Called on the thread that made the call into the backend; none: not told.
    std::function<void(const std::string&)> notify;
};

class Backend {
public:
    virtual ~Backend() = default;
    // Registers the class "Excel.Application" for this backend and, when an office
    // already accepts on the pipe, attaches to it and enters it as the running
    // application. Returns a message when registration failed.
    virtual std::string registerApplication() = 0;
    // Ends a command's work in the office (notes placed, update locks lifted) and
    // stores the workbooks this program made or opened that the command changed; at
    // the session's end, every one of them with changes. A workbook with changes
    // made in the office before the command began is stored only when the user says
    // so. The user's own documents are never stored. One message per workbook that
    // could not be stored.
    virtual std::vector<std::string> flushChangedWorkbooks(bool isSessionEnd) = 0;
    // Attaches or starts the office and opens the file in it as the active
    // document. Throws std::runtime_error naming the file or the office's answer.
    virtual void openWorkbookFile(const std::string& path) = 0;
    // Whether a command asked for the application and no office could be reached:
    // the session did not do what it was asked to, whatever the module made of it.
    virtual bool hasFailedToStart() const = 0;
    // Leaves the running-object table, drops the connection and ends an office a
    // program here started when no other program uses it (the user's own keeps
    // running). Safe to call twice.
    virtual void shutdown() = 0;
};

}  // namespace calc

// The library's one entry point (C linkage, looked up by name): the backend, or
// null with a one-line reason in `error`.
extern "C" calc::Backend* tabloraCreateCalcBackend(const calc::BackendOptions* options, std::string* error);
constexpr const char kCalcBackendEntry[] = "tabloraCreateCalcBackend";
