// The workbook lifecycle that the objects and the workbook files share: the running
// application's state, the active workbook, new workbooks, and taking in changes
// another program made to the files.
#pragma once

#include "sheet/AppState.h"

#include <memory>

namespace sheet {

// The state of the running application, or null when none runs.
std::shared_ptr<AppState> runningState();

// Makes book the active workbook, adding it to the application if it is new.
// Lock held.
void activateBook(AppState& app, const std::shared_ptr<Book>& book);
// Adds a new workbook named "BookN" with one sheet and makes it active; its file is
// reserved as BookN.xlsx in the current folder. Lock held.
std::shared_ptr<Book> addNewBook(AppState& app);

// Reloads workbooks whose file another program changed and fires SheetChange for
// their changed cells. Takes the lock itself; call without it.
void refreshFromDisk(const std::shared_ptr<AppState>& app);

}  // namespace sheet
