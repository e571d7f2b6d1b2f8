// Layer 8, the host commands: OPEN, SAVE, SAVEAS and LIST on the drawing database's
// file calls.
#include "host/DrawingCommands.h"

#include "host/AcApDocManager.h"
#include "host/CommandLine.h"
#include "host/Editor.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"

#include <sstream>

namespace host {
namespace {

bool isSaveFailed = false;

void reportSaveFailure(const std::string& error) {
    isSaveFailed = true;
    acutPrintf("\n%s", error.c_str());
}

// Asks for a file name with blanks allowed; empty when the prompt was cancelled or
// answered with Enter.
std::string askFileName(const char* prompt) {
    char name[ADS_INPUT_BUFFER];
    if (acedGetString(1, prompt, name) != RTNORM) return {};
    return name;
}

AcDbDatabase* currentDatabase() {
    AcApDocument* document = acDocManager->curDocument();
    if (!document || !document->database()) {
        acutPrintf("\nNo drawing is open.");
        return nullptr;
    }
    return document->database();
}

void saveAs(AcDbDatabase& db, const std::string& path) {
    DrawingSaveResult saved = saveDrawingAs(db, path);
    if (!saved) {
        reportSaveFailure(saved.error);
        return;
    }
    if (AcApDocument* document = acDocManager->curDocument()) document->setFileName(path);
    acutPrintf("\nSaved %s.", path.c_str());
}

void openCommand() {
    std::string path = askFileName("\nDrawing file to open: ");
    if (path.empty()) return;
    DrawingOpenResult opened = openDrawingFile(path);
    if (!opened) {
        acutPrintf("\n%s", opened.error.c_str());
        return;
    }
    for (const std::string& warning : opened.warnings) acutPrintf("\nWarning: %s", warning.c_str());
    acDocManager->newDocument(path, std::move(opened.database));
    acutPrintf("\nOpened %s.", path.c_str());
}

// Whether a save may replace the file the drawing came from when that file may be
// truncated: what the cut took is not in the drawing, so only the user knows whether
// the file holds more than would be written. No unless the answer is Yes.
bool mayReplaceTruncatedFile(const AcDbDatabase& db) {
    if (!db.store().isTruncatedFile(db.fileName())) return true;
    acutPrintf("\n%s was read without its 0/EOF end and may be truncated; saving over it keeps only what was read.",
               db.fileName().c_str());
    char answer[ADS_INPUT_BUFFER] = "";
    acedInitGet(0, "Yes No");
    if (acedGetKword("\nSave over it anyway? [Yes/No] <No>: ", answer) == RTNORM && std::string(answer) == "Yes")
        return true;
    acutPrintf("\nNot saved; SAVEAS writes the drawing under another name.");
    return false;
}

void saveCommand() {
    AcDbDatabase* db = currentDatabase();
    if (!db) return;
    if (db->fileName().empty()) {
        std::string path = askFileName("\nSave drawing as: ");
        if (!path.empty()) saveAs(*db, path);
        return;
    }
    if (!mayReplaceTruncatedFile(*db)) return;
    DrawingSaveResult saved = saveDrawing(*db);
    if (saved)
        acutPrintf("\nSaved %s.", db->fileName().c_str());
    else
        reportSaveFailure(saved.error);
}

void saveAsCommand() {
    AcDbDatabase* db = currentDatabase();
    if (!db) return;
    std::string path = askFileName("\nSave drawing as: ");
    if (!path.empty()) saveAs(*db, path);
}

void listCommand() {
    AcDbDatabase* db = currentDatabase();
    if (!db) return;
    std::ostringstream out;
    listBlockReferences(*db, out);
    writeOutput("\n" + out.str());
}

}  // namespace

bool hasDrawingSaveFailed() noexcept { return isSaveFailed; }

void registerDrawingCommands() {
    addHostCommand("OPEN", openCommand);
    addHostCommand("SAVE", saveCommand);
    addHostCommand("QSAVE", saveCommand);
    addHostCommand("SAVEAS", saveAsCommand);
    addHostCommand("LIST", listCommand);
}

}  // namespace host
