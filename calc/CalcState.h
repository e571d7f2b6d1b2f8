// What the Calc backend keeps: the link to the office, the documents seen so far
// with the names automation gives them, the active one, the notes a command adds,
// and the backend the automation front drives, which turns the office's failures
// into automation errors.
#pragma once

#include "automation/Backend.h"
#include "calc/NoteScripts.h"
#include "calc/Office.h"
#include "calc/Snapshots.h"
#include "platform/File.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/util/XChangesListener.hpp>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace automation {
class Front;
}

namespace calc {

using automation::Area;

// What a number shows as, by its format's type: the office keeps dates, times and
// truth values as numbers with such a format.
enum class Shown : std::uint8_t { Number, Date, Boolean };

// A spreadsheet document of the office, as automation knows it.
struct Doc : automation::BookHandle, std::enable_shared_from_this<Doc> {
    css::uno::Reference<css::frame::XModel> model;
    // The model as XInterface: what identifies it (compared without asking the office).
    css::uno::Reference<css::uno::XInterface> identity;
    css::uno::Reference<css::sheet::XSpreadsheetDocument> spreadsheet;
    // Workbook.Name: "BookN" for a workbook added here, the file's name otherwise.
    std::u16string name;
    // The .xlsx file changes are stored to when a command ends; empty for a document
    // of another kind, which is left to its user.
    std::string path;
    std::uint64_t generation = 0;
    // The key of the text format "@" in the document's formats; -1 until looked up.
    sal_Int32 textFormat = -1;
    // Locked for updates by this command.
    bool isHeld = false;
    // This program made it (Workbooks.Add) or opened it (Workbooks.Open, a workbook
    // given to the program): the only documents stored here (the user's own are
    // theirs to save), and opened again when the office goes away.
    bool isOwned = false;
    // Made or loaded by this program, rather than found open in the office: closed
    // again when the program ends. What the user had open stays open.
    bool isOpenedHere = false;
    // A command changed what the user sees (not only the hidden record) since the
    // document was last stored.
    bool hasOurChanges = false;
    // The user's unsaved changes were in it when it was given to this program (the
    // file was open in the office, changed): stored only when the user says so,
    // and asked once. What is typed into it afterwards is the session's work, as
    // the live link applies it to the drawing, and is stored with it.
    bool hasUserChanges = false;
    bool isStoreDeclined = false;
    // The empty file reserved for a new workbook, until something is stored in it.
    std::optional<platform::FileStamp> reserved;
    bool isAwaitingReservation = false;  // a new document, its file not reserved yet
    // What the numbers of each format key show as (keys do not change their format).
    std::map<sal_Int32, Shown> shownByKey;
};

// A sheet of a document.
struct DocSheet : automation::SheetHandle {
    DocSheet(std::shared_ptr<Doc> doc, css::uno::Reference<css::sheet::XSpreadsheet> sheet)
        : doc(std::move(doc)), sheet(std::move(sheet)) {}
    std::shared_ptr<Doc> doc;
    css::uno::Reference<css::sheet::XSpreadsheet> sheet;
};

// The notes (comments) of one sheet as this command sees them. A note the module
// adds is kept here and placed in the office later, with those of its block in one
// go after the block's values: the office drops a cell's note when a data array is
// written over the cell, and placing notes is the costly part of an export. Knowing
// which cells hold one also spares a round trip per cell when the module asks for a
// cell's comment. Forgotten when the command ends (the user may change notes
// between commands).
struct CalcState;
struct SheetNotes {
    using Cell = std::pair<std::int32_t, std::int32_t>;  // (row, column) from 1
    css::uno::Reference<css::frame::XModel> document;
    css::uno::Reference<css::sheet::XSpreadsheet> sheet;
    std::map<Cell, std::u16string> texts;  // every note, placed or not
    std::set<Cell> unplaced;               // notes of texts not in the office yet

    // Places the unplaced notes of the area (all of them without one) and those
    // given, which a write has just dropped.
    void place(CalcState& state, const std::vector<std::pair<Cell, std::u16string>>& dropped,
               const Area* area = nullptr);
    // Notes placed in the office within the area: a data array written there drops them.
    std::vector<std::pair<Cell, std::u16string>> placedWithin(const Area& area) const;
    // Forgets the notes of the area; true when some were in the office.
    bool forget(const Area& area);
};

struct CalcState {
    CalcState(BackendOptions options) : options(options), link(std::move(options)) {}

    BackendOptions options;
    OfficeLink link;
    std::recursive_mutex mutex;
    std::vector<std::shared_ptr<Doc>> docs;
    std::shared_ptr<Doc> active;
    // Documents of a connection that went away, kept until their reserved files
    // are looked at.
    std::vector<std::shared_ptr<Doc>> lost;
    int bookCounter = 0;
    css::uno::Reference<css::util::XChangesListener> listener;
    // The grid of the office's sheets (its limits differ from the file format's).
    sal_Int32 lastColumn = 1023, lastRow = 1048575;
    // What the module last saw of the sheets it works with, and the office's events.
    Snapshots snapshots{*this};

    // Attaches, or starts the office, when there is no connection (the first call,
    // or the office went away since). Documents of a lost connection are forgotten;
    // when the office itself went away, those this program made or opened are opened
    // again from their files (the active one active again), and the user is told.
    void ensureConnected();
    // The office's spreadsheet documents, in the order first seen.
    std::vector<std::shared_ptr<Doc>> workbooks();
    std::shared_ptr<Doc> activeWorkbook();
    // The document of a model, known or new (a new one is given its name and the
    // change listener, for its changes and its modifications). Null for a model that
    // is no spreadsheet.
    std::shared_ptr<Doc> adopt(const css::uno::Reference<css::frame::XModel>& model);
    // The document of a model already known, or null; asks the office nothing, so
    // that the office's event thread never waits for a command's calls here.
    std::shared_ptr<Doc> known(const css::uno::Reference<css::uno::XInterface>& model);
    // Workbooks.Add: a new document reserved as the first free BookN.xlsx here.
    std::shared_ptr<Doc> addWorkbook();
    // Workbooks.Open: the file opened (or found open) and made active.
    std::shared_ptr<Doc> openWorkbook(const std::string& path);
    // The office's document of a file, loaded hidden when the office is headless.
    css::uno::Reference<css::frame::XModel> loadHidden(const std::string& path);
    // Opens again the documents this program had in an office that went away, and
    // says so.
    void reopen(const std::vector<std::shared_ptr<Doc>>& owned, const std::shared_ptr<Doc>& wasActive);
    void activate(const std::shared_ptr<Doc>& doc);
    // Objects of a connection that is gone fail with a clear message.
    void checkAlive(const Doc& doc) const;
    sal_Int32 textFormatKey(Doc& doc);
    // The notes of a sheet, read from the office the first time in a command.
    SheetNotes& notesOf(const Doc& doc, const css::uno::Reference<css::sheet::XSpreadsheet>& sheet);
    NoteScripts noteScripts;
    std::list<SheetNotes> notes;  // a list: references to one stay good as others are added
    // The used areas found in this command, until it changes a document: the
    // office finds one by walking the sheet, which for a sheet of many notes costs
    // a tenth of a second, and a reader asks for it more than once.
    std::vector<std::pair<css::uno::Reference<css::sheet::XSpreadsheet>, Area>> usedAreas;

    // The document as the bytes of an .xlsx file, stored by the office to a
    // temporary beside its file (the current folder for one without) and read back.
    // Places the notes not yet in the office first. Throws why it cannot be had.
    std::string storedBytes(Doc& doc);
    // The office repaints and broadcasts after every change unless told that more
    // are coming: a document the command changes is locked so until the command
    // ends (flush).
    void holdUpdates(Doc& doc);
    // A command is about to change the document; isVisible: what the user sees
    // (a hidden sheet is the program's own record).
    void noteChange(Doc& doc, bool isVisible = true);
    // Places every note not yet in the office (before a store, and when a command ends).
    void placeNotes();
};

// Whether the office's exception says the bridge to it is gone.
bool isLostConnection(const ::rtl::OUString& message);

// A one-line description of what the office threw, for error information.
std::string officeFailureText(CalcState& state, const std::string& message);

// The sheet's position among its document's sheets, from 0 (asked each time:
// sheets added or removed move it).
sal_Int16 sheetIndexOf(const css::uno::Reference<css::sheet::XSpreadsheet>& sheet);

// The area from the sheet's first to its last used cell, counting from 1.
Area usedAreaOf(const css::uno::Reference<css::sheet::XSpreadsheet>& sheet);

// What a document is stored as .xlsx with: the filter, over any file there.
css::uno::Sequence<css::beans::PropertyValue> xlsxStoreArguments();

// The active sheet of a document.
css::uno::Reference<css::sheet::XSpreadsheet> activeSheetOf(const Doc& doc);

// The listener that notes the office's changes and modifications of a document for
// the kept sheets (it is also the document's XModifyListener).
css::uno::Reference<css::util::XChangesListener> makeChangesListener(const std::shared_ptr<CalcState>& state);

}  // namespace calc
