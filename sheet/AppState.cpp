// What the objects ask of the application state: whether a workbook may change,
// and which workbook is active.
#include "sheet/AppState.h"

#include "sheet/BookLifecycle.h"
#include "sheet/DispatchSupport.h"
#include "sheet/Utf.h"

#include <algorithm>

namespace sheet {

void AppState::checkWritable(const Book& book) {
    if (!book.readOnlyReason.empty())
        applicationError("The workbook " + quoted(book.name()) + " is open read-only because " + book.readOnlyReason +
                         "; changing it here would lose that content when it is saved.");
}

void activateBook(AppState& app, const std::shared_ptr<Book>& book) {
    if (std::find(app.books.begin(), app.books.end(), book) == app.books.end()) app.books.push_back(book);
    app.activeBook = book;
}

}  // namespace sheet
