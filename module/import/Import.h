// TABRO Import and TABRO Import2: edited worksheets, or the cells the live link
// queued, back into the drawing. Main thread, inside the TABRO command; automation
// failures throw _com_error to the command guard.
#pragma once

#include "module/import/SheetReader.h"
#include "module/link/ChangedCell.h"

namespace tabro {

struct ImportOptions;

// Reads the active sheet (or, with ImportSettings 1, every worksheet of the active
// workbook) of the running spreadsheet application and applies each row that
// carries a handle. Without a running application it does nothing. Prints progress
// for long imports and a summary that names every cell it could not apply. `jtsk`:
// the sheet holds coordinates exported as survey coordinates (negative ones as
// their magnitude).
void Import(const ImportOptions& options, bool jtsk = false);
// The same with the property markers given rather than read from the resource module.
void Import(const ImportOptions& options, const ImportMarkers& markers, bool jtsk = false);

// Takes the queued cell edits newest first and imports each; the result of the last
// one, false when the queue was empty.
bool Import2();

// Applies what one changed cell holds, found again by workbook and sheet name
// (exactly as spelt; the active ones are tried first): an attribute's text, or a
// property (position, rotation, scale, layer) under the rules Import applies to a
// row, unless the IgnoreProps setting leaves properties alone (said once while the
// link is connected). The record of the export is brought up to date with what was
// applied. False when the application, workbook or sheet is gone, the row has no
// handle, the attribute was not reached or not changed, or a property cell was
// named as not applied.
bool importChangedCell(const ChangedCell& change);

}  // namespace tabro
