// Documents: each open drawing with its own command input, AutoLISP functions and
// queued expressions; the document manager with the current document, strings sent
// for execution and the resource handle stack.
#pragma once

#include "host/AcRx.h"
#include "host/db/AcDbDatabase.h"
#include "platform/WinTypes.h"

#include <deque>
#include <map>
#include <memory>
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

// An AutoLISP function a module defined in one document.
struct LispFunction {
    std::string name;
    int code = 0;
    void* appId = nullptr;      // the module whose kInvkSubrMsg evaluates it
    int (*direct)() = nullptr;  // set by acedRegFunc: called directly instead
};
}  // namespace host

// Owned by the document manager; lives from newDocument to closeDocument. Main
// thread only.
class AcApDocument : public AcRxObject {
public:
    ACRX_DECLARE_RXOBJECT_MEMBERS(AcApDocument)
    AcApDocument(std::string fileName, std::string title);
    ~AcApDocument() override;

    // The drawing's file name; empty for a new unsaved drawing.
    const char* fileName() const { return fileName_.c_str(); }
    void setFileName(std::string name) { fileName_ = std::move(name); }
    // The drawing name shown to the user ("Drawing1.dwg" for a new one).
    const char* docTitle() const { return title_.c_str(); }

    // The document's drawing database, owned by the document.
    AcDbDatabase* database() const { return database_.get(); }
    // Replaces the drawing (OPEN); the previous one is destroyed. When the document
    // is current the new drawing becomes the working database.
    void setDatabase(std::unique_ptr<AcDbDatabase> database);

    // No command, script line, sent string or expression is running or waiting.
    bool isQuiescent() const;

    // ---- host side ----
    // Input lines being fed to the command line, taken before the terminal or script.
    std::deque<host::InputLine>& activeInput() { return activeInput_; }
    // Strings sent for execution, each started only when the document is quiescent.
    std::deque<std::string>& sentStrings() { return sentStrings_; }
    // Expressions queued by ads_queueexpr, evaluated when the document is ready.
    std::deque<std::string>& queuedExpressions() { return queuedExpressions_; }
    std::map<std::string, host::LispFunction>& lispFunctions() { return lispFunctions_; }
    int& commandDepth() { return commandDepth_; }
    int& lispDepth() { return lispDepth_; }
    // True while a command waits on purpose for timers and sent strings (DELAY).
    bool& idleWait() { return idleWait_; }
    // Above 0 while a command runs on given answers only (acedCommand): a prompt that
    // finds no answer left is cancelled instead of asking the user.
    int& answersOnly() { return answersOnly_; }

private:
    std::string fileName_;
    std::string title_;
    std::unique_ptr<AcDbDatabase> database_;
    std::deque<host::InputLine> activeInput_;
    std::deque<std::string> sentStrings_;
    std::deque<std::string> queuedExpressions_;
    std::map<std::string, host::LispFunction> lispFunctions_;  // keyed by lower-case name
    int commandDepth_ = 0;
    int lispDepth_ = 0;
    bool idleWait_ = false;
    int answersOnly_ = 0;
};

class AcApDocManager : public AcRxObject {
public:
    ACRX_DECLARE_RXOBJECT_MEMBERS(AcApDocManager)
    ~AcApDocManager() override;

    // The document commands run in; null when no drawing is open.
    AcApDocument* curDocument() const { return current_; }
    AcApDocument* mdiActiveDocument() const { return current_; }
    int documentCount() const { return static_cast<int>(documents_.size()); }
    std::vector<AcApDocument*> documents() const;
    // The current document is quiescent (true when there is none).
    bool isQuiescent() const { return !current_ || current_->isQuiescent(); }

    // Queues `text` as command input of `document`: each "\n" ends one input line (a
    // last piece without "\n" is a line too). It starts when the document is next
    // quiescent. False (nothing queued) for a document that is not open.
    // With bActivate the document becomes current.
    bool sendStringToExecute(AcApDocument* document, const char* text, bool bActivate = true,
                             bool bWrapUpInactiveDoc = false, bool bEchoString = true);

    // Makes `document` current, and its drawing the working database. False for a
    // document that is not open.
    bool setCurDocument(AcApDocument* document);
    bool activateDocument(AcApDocument* document) { return setCurDocument(document); }

    // The stack of resource handles: a scope pushes on entry and pops on the way out.
    void pushResourceHandle(HINSTANCE handle);
    // Pops; popping an empty stack does nothing but is counted as an imbalance.
    void popResourceHandle();
    // The top of the stack (null when empty).
    HINSTANCE curResourceHandle() const;
    std::size_t resourceHandleDepth() const { return resourceHandles_.size(); }
    int unbalancedPops() const { return unbalancedPops_; }

    // ---- host side ----
    // Opens a document with `database` (a new empty drawing when null) named
    // `fileName` (untitled when empty), makes it current and sends kLoadDwgMsg to
    // every loaded module.
    AcApDocument* newDocument(const std::string& fileName = {}, std::unique_ptr<AcDbDatabase> database = nullptr);
    // Sends kUnloadDwgMsg to every loaded module, then destroys the document; the
    // previous one in the list becomes current.
    bool closeDocument(AcApDocument* document);
    void closeAll();

private:
    std::vector<std::unique_ptr<AcApDocument>> documents_;
    AcApDocument* current_ = nullptr;
    std::vector<HINSTANCE> resourceHandles_;
    int unbalancedPops_ = 0;
    int untitled_ = 0;
    friend class AcApDocument;
    std::string nextUntitledName();
};

AcApDocManager* acDocManagerPtr();
#define acDocManager acDocManagerPtr()

namespace host {
// Makes a document current for the lifetime of the scope (messages sent to a module
// for one document run with that document current).
class CurrentDocumentScope {
public:
    explicit CurrentDocumentScope(AcApDocument* document);
    ~CurrentDocumentScope();
    CurrentDocumentScope(const CurrentDocumentScope&) = delete;
    CurrentDocumentScope& operator=(const CurrentDocumentScope&) = delete;

private:
    AcApDocument* previous_;
};
}  // namespace host
