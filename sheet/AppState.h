// The state behind one running spreadsheet application: its workbooks, the active
// one, and its event source. Every automation object holds it and takes its one
// lock for each call; the lock is never held while events are fired, because a
// subscriber in the caller's apartment is called at once and calls back in.
#pragma once

#include "platform/ConnectionPointImpl.h"
#include "sheet/Book.h"
#include "sheet/DispatchIds.h"

#include <memory>
#include <mutex>
#include <vector>

namespace sheet {

constexpr DISPID kDispidSheetChange = dispid::SheetChange;

struct AppState {
    std::mutex mutex;
    std::vector<std::shared_ptr<Book>> books;
    std::shared_ptr<Book> activeBook;
    bool isVisible = false;
    bool isInteractive = true;
    int bookCounter = 0;
    std::u16string userName = u"Tablora";
    platform::ConnectionPoints points;
    platform::ComPtr<platform::EventSource> events;
    // The application object, not owned (it owns this state); null once it is gone.
    IDispatch* application = nullptr;

    // Throws the application error for a change to a workbook that cannot be saved
    // without losing content. Call with the lock held.
    static void checkWritable(const Book& book);
};

}  // namespace sheet
