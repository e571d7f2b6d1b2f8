// Drawings as files: open a DXF file into a new database, save atomically (the
// previous file kept as NAME.bak), save under another name, and the LIST report.
#pragma once

#include "host/db/AcDbDatabase.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct DrawingOpenResult {
    std::unique_ptr<AcDbDatabase> database;  // null on failure
    std::string error;                       // "site.dxf: line 1402: group code 10 expects a number, got 'abc'"
    // What the user should hear of a drawing that did open, each naming the file and
    // line: "site.dxf: line 57: the INSERT has handle 2F, which the LINE at line 40
    // has; it now has handle 2A1 ...".
    std::vector<std::string> warnings;
    explicit operator bool() const { return database != nullptr; }
};

struct DrawingSaveResult {
    bool ok = false;
    std::string error;  // says what failed and that the previous file is unchanged
    explicit operator bool() const { return ok; }
};

// Reads a DXF file, ASCII or binary. Malformed, truncated or hostile files are
// refused with a message naming the line (in a binary file the byte); nothing is
// opened then. A save writes the form the file had. Objects repeating
// an earlier object's handle get new ones (above $HANDSEED, which moves on), each
// with a warning; the first keeps the handle and whatever refers to it. An empty
// file is refused; one without 0/EOF opens with a warning that it may be truncated
// (and the database's store names it as truncatedFile).
DrawingOpenResult openDrawingFile(const std::string& path);
// The same from text in memory (tests, fuzzing); `name` prefixes error messages.
DrawingOpenResult openDrawingText(std::string text, std::string_view name = "<memory>");

// Writes to the database's file name, keeping the previous file as NAME.bak
// (NAME with its extension replaced). A symbolic link at the name is written
// through to its target, which keeps its mode, and the .bak is made beside the
// target; a new file is made 0644. Clears the modified flag on success. When the
// file is no longer the version this drawing was read from or last saved as
// (another session saved it meanwhile), it is left as it is, the drawing is saved
// beside it as "NAME (conflict DATE TIME).dxf" and the save fails saying so; the
// drawing then stays modified. A changed value whose bytes would hold a line break
// (which would make new tags of the rest of it) fails the save, naming the object.
DrawingSaveResult saveDrawing(AcDbDatabase& db);
// Writes to `path` the same way (a file already there is kept as its .bak) and
// makes `path` the database's file name.
DrawingSaveResult saveDrawingAs(AcDbDatabase& db, const std::string& path);
// The DXF text a save would write. Throws hostdb::UnwritableValue where a save
// fails for a changed value that would hold a line break in the file.
std::string writeDrawingText(const AcDbDatabase& db);

// What LIST shows: every block reference of the drawing (model space, layouts and
// nested in blocks) with handle, block name, layer, insertion point, rotation, scale
// factors and each attribute's tag and text, numbers in the drawing's units.
void listBlockReferences(AcDbDatabase& db, std::ostream& out);

// The .bak name of a drawing path: "site.dxf" -> "site.bak".
std::string backupPathFor(const std::string& path);
