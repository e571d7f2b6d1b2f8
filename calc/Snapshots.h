// What the backend last saw of the sheets the module works with, so that every edit
// made in the office reaches the application's SheetChange subscribers, once.
//
// The office tells typed, pasted and cleared cells with a "cell-change", but fills,
// Replace All and cuts only as "the document was modified". So the values of each
// sheet the module read or wrote (and of every sheet of a workbook the program
// opened for the drawing) are kept; a modified document is marked dirty, and at the
// program's idle tick the dirty documents' kept sheets are read again (one data
// array each) and the cells that differ are announced. A cell-change on a kept
// sheet only marks its document dirty, so the look announces the cell once; one on
// another sheet is announced as it is.
//
// The module's own writes raise "modified" too. They come back on the thread that
// made them (the bridge calls back on the thread whose call caused the change),
// which is the program's main thread: there a modification is ours, and the values
// written are taken into the kept sheets from what was written, when the command
// ends. While a command holds a document's updates (CalcState::holdUpdates) the
// office holds back its modification notices, the user's too, and sends them on
// our thread when the hold is lifted: so a document held by a command is looked at
// once the command ends, and at every tick while a command that waits (DELAY)
// holds it.
//
// Rows and columns inserted or removed (the office tells them) move the kept values
// as the sheet's cells moved, so that a moved cell is not told as changed. A kept
// sheet that was removed is forgotten; one renamed is followed. A look comes no
// more often than three times its own cost, so that editing a large sheet does not
// keep the program busy reading.
//
// Threads: the office's event thread only notes events (never calls the office nor
// waits for a call to it); the members that read the office run on the main thread.
#pragma once

#include "automation/Backend.h"
#include "calc/SheetSnapshot.h"

#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/Sequence.hxx>
#include <rtl/ustring.hxx>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace calc {

struct CalcState;
struct Doc;

class Snapshots {
public:
    explicit Snapshots(CalcState& state);
    Snapshots(const Snapshots&) = delete;
    Snapshots& operator=(const Snapshots&) = delete;
    ~Snapshots();

    // ---- the office's event thread: noted, nothing asked of the office
    void modified(const std::shared_ptr<Doc>& doc);
    // One of a ChangesEvent's changes: what (its accessor, "cell-change",
    // "insert-rows", ...) at where (the range the office names, asked later).
    void changed(const std::shared_ptr<Doc>& doc, const ::rtl::OUString& what, const css::uno::Any& where);

    // ---- inside the backend's members, on any thread
    // The module read cells of the sheet: it is kept from the command's end on.
    void sawSheet(const std::shared_ptr<Doc>& doc, const css::uno::Reference<css::sheet::XSpreadsheet>& sheet);
    // The module wrote these values (a data array, rows first) to the area.
    void wrote(const std::shared_ptr<Doc>& doc, const css::uno::Reference<css::sheet::XSpreadsheet>& sheet,
               const automation::Area& area, const css::uno::Sequence<css::uno::Sequence<css::uno::Any>>& values);

    // ---- the program's main thread; each asks the office, bounded by the watchdog
    // Keeps every sheet of the document from now on: the workbook the program opened
    // for the drawing, whose sheets the link may be asked for before the module
    // reads any of them. Throws the office's exceptions.
    void watchAllSheets(const std::shared_ptr<Doc>& doc);
    // A command ended: the sheets it read or wrote are kept, with what it wrote.
    // Never throws: a sheet the office fails to give is read again later.
    void afterCommand();
    // The cells changed in the office since the last call, to be announced. Throws
    // the office's exceptions.
    std::vector<automation::CellChange> changes();
    // Forgets everything (the connection is being closed).
    void clear();

    // A sheet's values are kept up to this many cells (16 bytes each, and their
    // texts; a look at 160,000 cells takes 0.1 to 0.3 s): a larger sheet is told
    // only by its cell-changes.
    static constexpr std::int64_t kMostCells = std::int64_t{1} << 19;

private:
    enum class What : std::uint8_t { CellChange, InsertRows, DeleteRows, InsertColumns, DeleteColumns, Wrote };
    // Something that happened to a document, in the order it happened.
    struct Event {
        std::uint64_t sequence = 0;
        What what = What::CellChange;
        css::uno::Any where;                                  // the office's range
        css::uno::Reference<css::sheet::XSpreadsheet> sheet;  // Wrote: the sheet written
        SheetValues values;                                   // Wrote: what was written
        // A cell-change to be announced as it is although its sheet is kept: the
        // sheet's values were first read after the change.
        bool isToldAlone = false;
    };
    struct Pending {
        std::weak_ptr<Doc> doc;
        // The sequence of the latest sign that the document changed; 0 for none
        // since the last look.
        std::uint64_t dirtyAt = 0;
        std::vector<Event> events;
        // Sheets read or written by the module since the last command ended.
        std::vector<css::uno::Reference<css::sheet::XSpreadsheet>> touched;
    };
    struct KeptSheet {
        css::uno::Reference<css::sheet::XSpreadsheet> sheet;  // follows the sheet as sheets move
        ::rtl::OUString name;
        sal_Int16 index = -1;  // as last asked
        SheetValues values;
        // The sequence when its values were last read: a change told before then is
        // in them.
        std::uint64_t readAt = 0;
    };
    struct KeptBook {
        std::weak_ptr<Doc> doc;
        std::vector<KeptSheet> sheets;
        // The document's sheet names when last asked: how a removed sheet is told
        // from a renamed one.
        std::vector<::rtl::OUString> names;
    };

    Pending& pendingOf(const std::shared_ptr<Doc>& doc);  // eventsMutex_ held
    bool isKept(const Doc& doc) const;                    // eventsMutex_ held
    KeptBook* bookOf(const Doc& doc);                     // workMutex_ held
    // Takes a document's events and touched sheets.
    Pending take(const std::shared_ptr<Doc>& doc);
    // Documents still open over this connection.
    std::shared_ptr<Doc> live(const std::weak_ptr<Doc>& doc) const;

    // Asks where the kept sheets are now and forgets the removed ones.
    void locate(KeptBook& book, const Doc& doc);
    // Moves and writes the kept values as the events say; cell-changes are left in
    // `events`, in order.
    void apply(KeptBook& book, std::vector<Event>& events);
    // Reads the sheet's values over its used area (and `also`); false when the
    // sheet is too large to keep.
    bool read(KeptSheet& kept, const SheetValues* also);
    // Starts keeping the sheet, unless it is kept already.
    void keep(KeptBook& book, const std::shared_ptr<Doc>& doc,
              const css::uno::Reference<css::sheet::XSpreadsheet>& sheet);
    KeptBook& bookFor(const std::shared_ptr<Doc>& doc);  // workMutex_ held
    // Marks the document's cell-changes noted before now to be told alone.
    void tellAloneBefore(const Doc& doc, std::uint64_t sequence);
    // The next number of the sequence events are ordered by.
    std::uint64_t nextSequence();

    CalcState& state_;
    // The thread that runs the program's commands: modifications seen there are the
    // module's own.
    const std::thread::id ownThread_;

    std::mutex eventsMutex_;  // the event thread's; never held across a call into the office
    std::uint64_t sequence_ = 0;
    std::vector<Pending> pending_;
    std::vector<const Doc*> keptDocs_;  // documents with kept sheets

    std::mutex workMutex_;  // held across calls into the office; never taken on the event thread
    std::vector<KeptBook> books_;
    // The next look comes no earlier.
    std::chrono::steady_clock::time_point lookAfter_{};
};

}  // namespace calc
