// The automation front: the application's object model (Application, Workbooks,
// Workbook, Worksheets, Worksheet, Range, Font, Comment) answering dispatch ids over a
// backend that keeps the workbooks, the application's events, new workbooks named
// BookN with their files reserved, and workbooks saved through the platform's file
// layer. A program makes one front per running application.
#pragma once

#include "automation/Backend.h"
#include "platform/ConnectionPointImpl.h"
#include "platform/Dispatch.h"
#include "platform/Unknown.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace automation {

class Front : public std::enable_shared_from_this<Front> {
public:
    static std::shared_ptr<Front> make(std::shared_ptr<Backend> backend);
    ~Front();
    Front(const Front&) = delete;
    Front& operator=(const Front&) = delete;

    Backend& backend() const noexcept { return *backend_; }
    // The application object, made when none lives; callers keep it alive.
    platform::ComPtr<IDispatch> application();
    // The application's event source, which subscribers advise through the
    // application object's connection point.
    platform::EventSource& events() const noexcept { return *events_; }
    // Fires SheetChange for each change: the changed sheet first, then the changed
    // range, as the application declares them. Call outside Backend::run, without
    // any lock of the backend: a subscriber in the caller's apartment is called at
    // once and calls back in.
    void announce(const std::vector<CellChange>& changes);

private:
    explicit Front(std::shared_ptr<Backend> backend);
    friend struct FrontAccess;

    std::shared_ptr<Backend> backend_;
    platform::ConnectionPoints points_;
    platform::ComPtr<platform::EventSource> events_;

    // What the application keeps of its own, under mutex_.
    std::mutex mutex_;
    IDispatch* application_ = nullptr;  // not owned; null while none lives
    bool isVisible_ = false;
    bool isInteractive_ = true;
    std::u16string userName_;
    int bookCounter_ = 0;
};

// Adds a new workbook named after the first free "BookN" (N counting on over the
// application's life) whose BookN.xlsx in the current folder nobody has: the file
// is reserved at once, holding the empty workbook, so that two sessions never share
// one. Inside Backend::run.
BookPtr addNumberedBook(Front& front);

// Writes the workbook to its file through the platform's file layer: the whole file
// or nothing replaces the one on disk, and a version another program saved since the
// backend last read or wrote it is kept (this one is put beside it). Inside
// Backend::run, or wherever the backend's calls are serialised.
struct SaveOutcome {
    // Empty when the workbook is on disk; otherwise what to tell the user, naming the
    // workbook and its file.
    std::string problem;
    // The file was changed by another program and left as it is; this version was
    // put beside it (the backend may take the file as saved).
    bool isKeptBeside = false;
};
SaveOutcome saveWorkbook(Backend& backend, BookHandle& book);

// Whether the file at `path` is one its owner made read-only (no write permission
// for this user): a save never replaces it.
bool isReadOnlyFile(const std::string& path);

}  // namespace automation
