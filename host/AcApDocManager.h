// Layer 4, documents: each open drawing with its database, name and the strings sent
// to it; the document manager with the current document, the resource handle stack
// and the reactors told when documents come and go. Calls nothing of the host above
// it: the layers above keep their own state in a document as DocumentData.
#pragma once

#include "host/AcRx.h"
#include "host/DocumentData.h"
#include "host/db/AcDbDatabase.h"
#include "platform/WinTypes.h"

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {
struct LispFunction;
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

    // No command, script line, sent string or expression is running or waiting: no
    // string sent to the document waits and every layer's data in it is idle.
    bool isQuiescent() const;

    // ---- host side ----
    // Strings sent for execution that have not started, oldest first; the command
    // line takes the next one whenever the document is ready for it.
    bool hasSentStrings() const { return !sentStrings_.empty(); }
    std::optional<std::string> takeSentString();

    // What the layer that owns `key` keeps in this document; null until it attached
    // some. attachData replaces what `key` held and returns the new data.
    host::DocumentData* data(const void* key) const;
    host::DocumentData& attachData(const void* key, std::unique_ptr<host::DocumentData> data);

private:
    friend class AcApDocManager;
    std::string fileName_;
    std::string title_;
    std::unique_ptr<AcDbDatabase> database_;
    std::deque<std::string> sentStrings_;
    std::map<const void*, std::unique_ptr<host::DocumentData>> data_;
};

// Told when a document opens or closes, in the order reactors were added; a reactor
// may remove itself while it is told. Main thread only.
class AcApDocManagerReactor {
public:
    virtual ~AcApDocManagerReactor() = default;
    // The document is open and current.
    virtual void documentCreated(AcApDocument*) {}
    // The document is about to close; it is still open and its data still there.
    virtual void documentToBeDestroyed(AcApDocument*) {}
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
    // quiescent; a line holding only "\x03" (Ctrl+C) cancels. False (nothing queued)
    // for a document that is not open.
    // With bActivate the document becomes current.
    bool sendStringToExecute(AcApDocument* document, const char* text, bool bActivate = true,
                             bool bWrapUpInactiveDoc = false, bool bEchoString = true);

    // Makes `document` current, and its drawing the working database. False for a
    // document that is not open.
    bool setCurDocument(AcApDocument* document);
    bool activateDocument(AcApDocument* document) { return setCurDocument(document); }

    // The calling thread's stack of resource handles: a scope pushes on entry and pops
    // on the way out. Any thread may use it.
    void pushResourceHandle(HINSTANCE handle);
    // Pops; popping an empty stack does nothing but is counted as an imbalance.
    void popResourceHandle();
    // The top of the stack (null when empty).
    HINSTANCE curResourceHandle() const;
    std::size_t resourceHandleDepth() const;
    int unbalancedPops() const { return unbalancedPops_.load(); }

    // ---- host side ----
    // Opens a document with `database` (a new empty drawing when null) named
    // `fileName` (untitled when empty), makes it current and tells the reactors
    // (the module loader sends kLoadDwgMsg to every loaded module).
    AcApDocument* newDocument(const std::string& fileName = {}, std::unique_ptr<AcDbDatabase> database = nullptr);
    // Tells the reactors (the module loader sends kUnloadDwgMsg to every loaded
    // module), then destroys the document; the previous one in the list becomes
    // current. False for a document that is not open.
    bool closeDocument(AcApDocument* document);
    void closeAll();
    // `document` is one of the open documents (a command may have closed its own).
    bool isOpen(const AcApDocument* document) const;

    // Not owned; a reactor removes itself before it is destroyed. Adding one twice
    // has it told once.
    void addReactor(AcApDocManagerReactor* reactor);
    void removeReactor(AcApDocManagerReactor* reactor);

private:
    std::vector<std::unique_ptr<AcApDocument>> documents_;
    std::vector<AcApDocManagerReactor*> reactors_;
    AcApDocument* current_ = nullptr;
    std::atomic<int> unbalancedPops_{0};
    int untitled_ = 0;
    std::string nextUntitledName();
    void tellReactors(const std::function<void(AcApDocManagerReactor*)>& notify);
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

// The T that a layer keeps in `document`, made on first use. T is the layer's own
// type (one per layer), which keys it.
template <class T>
T& documentData(AcApDocument& document) {
    static const char key = 0;
    if (DocumentData* found = document.data(&key)) return static_cast<T&>(*found);
    return static_cast<T&>(document.attachData(&key, std::make_unique<T>()));
}
}  // namespace host
