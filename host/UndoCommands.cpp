// Layer 8, the host commands: U, UNDO and REDO.
#include "host/UndoCommands.h"

#include "host/AcApDocManager.h"
#include "host/CommandLine.h"
#include "host/Editor.h"
#include "host/db/DrawingStore.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace host {
namespace {

// The history of the current drawing, or null (with the reason printed) when the
// command cannot use it.
hostdb::UndoHistory* historyFor(const char* command) {
    AcApDocument* document = acDocManager->curDocument();
    if (!document || !document->database()) {
        acutPrintf("\nNo drawing is open.");
        return nullptr;
    }
    // The states it swaps back belong to whole commands; a command run by another
    // would swap its caller's changes under it.
    if (!isOutermostCommand()) {
        acutPrintf("\n** %s cannot be used inside another command **", command);
        return nullptr;
    }
    return &document->database()->store().undoHistory();
}

// False, with the reason printed, when the history refused.
bool reportRefusal(Acad::ErrorStatus es, const char* command) {
    switch (es) {
    case Acad::eOk:
        return true;
    case Acad::eInvalidOpenState:
        acutPrintf("\n** %s is not possible while drawing objects are open **", command);
        return false;
    default:
        acutPrintf("\n** %s cannot be used inside another command **", command);
        return false;
    }
}

void printNames(const std::vector<std::string>& names) {
    std::string line = "\n";
    for (std::size_t i = 0; i < names.size(); ++i) line += (i ? " " : "") + names[i];
    acutPrintf("%s", line.c_str());
}

void undoCommands(std::size_t count, const char* command) {
    hostdb::UndoHistory* history = historyFor(command);
    if (!history) return;
    std::vector<std::string> names;
    if (!reportRefusal(history->undo(count, names), command)) return;
    if (names.empty()) {
        acutPrintf("\nNothing to undo.");
        return;
    }
    printNames(names);
    if (names.size() < count) acutPrintf("\nEverything has been undone");
}

void uCommand() { undoCommands(1, "U"); }

void undoCommand() {
    for (;;) {
        char answer[ADS_INPUT_BUFFER];
        if (acedGetString(0, "\nEnter the number of operations to undo <1>: ", answer) != RTNORM) return;
        if (!*answer) return undoCommands(1, "UNDO");
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(answer, &end, 10);
        if (end && *end == '\0' && errno == 0 && value > 0)
            return undoCommands(static_cast<std::size_t>(value), "UNDO");
        acutPrintf("\nRequires a positive whole number.");
    }
}

void redoCommand() {
    hostdb::UndoHistory* history = historyFor("REDO");
    if (!history) return;
    std::vector<std::string> names;
    if (!reportRefusal(history->redo(names), "REDO")) return;
    if (names.empty())
        acutPrintf("\nNothing to redo.");
    else
        printNames(names);
}

}  // namespace

void registerUndoCommands() {
    addHostCommand("U", uCommand);
    addHostCommand("UNDO", undoCommand);
    addHostCommand("REDO", redoCommand);
}

}  // namespace host
