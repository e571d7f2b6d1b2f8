// The kept sheets: events noted on the office's thread, the module's reads and
// writes noted in its members, and the office asked on the main thread.
#include "calc/Snapshots.h"

#include "calc/CalcState.h"
#include "calc/UnoText.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <map>
#include <set>
#include <tuple>
#include <utility>

namespace css = ::com::sun::star;
namespace container = css::container;
namespace lang = css::lang;
namespace table = css::table;
namespace uno = css::uno;
using automation::Area;
using ::com::sun::star::uno::Any;
using ::com::sun::star::uno::Reference;
using ::com::sun::star::uno::Sequence;
using ::com::sun::star::uno::UNO_QUERY;
using ::com::sun::star::uno::UNO_QUERY_THROW;

namespace calc {
namespace {

Area unionOf(const Area& a, const Area& b) {
    return Area{std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
                std::max(a.right, b.right)};
}

// A value of an office data array: a number, a text (an empty one is an empty
// cell), or nothing for a formula whose result is an error.
void put(SheetValues& values, std::int32_t row, std::int32_t column, const Any& any) {
    switch (any.getValueTypeClass()) {
    case uno::TypeClass_DOUBLE:
        values.setNumber(row, column, *static_cast<const double*>(any.getValue()));
        return;
    case uno::TypeClass_STRING: {
        const OUString& text = *static_cast<const OUString*>(any.getValue());
        if (!text.isEmpty())
            values.setText(row, column,
                           std::u16string_view(reinterpret_cast<const char16_t*>(text.getStr()),
                                               static_cast<std::size_t>(text.getLength())));
        return;
    }
    case uno::TypeClass_VOID:
        values.setError(row, column);
        return;
    default: {
        double number = 0;
        if (any >>= number)
            values.setNumber(row, column, number);
        else
            values.setError(row, column);
    }
    }
}

SheetValues valuesOf(const Area& area, const Sequence<Sequence<Any>>& rows) {
    const std::int32_t height = std::min<std::int32_t>(rows.getLength(), static_cast<std::int32_t>(area.rowCount()));
    std::int32_t width = 0;
    for (const Sequence<Any>& row : rows) width = std::max(width, row.getLength());
    width = std::min<std::int32_t>(width, static_cast<std::int32_t>(area.columnCount()));
    SheetValues values(area.top, area.left, height, width);
    for (std::int32_t r = 0; r < height; ++r) {
        const Sequence<Any>& row = rows[r];
        for (std::int32_t c = 0; c < std::min(width, row.getLength()); ++c)
            put(values, area.top + r, area.left + c, row[c]);
    }
    return values;
}

// The ranges an event names: one range, or several (a paste into a multiple
// selection, rows inserted on several selected sheets).
std::vector<table::CellRangeAddress> addressesOf(const Any& element) {
    Reference<css::sheet::XCellRangeAddressable> one(element, UNO_QUERY);
    if (one.is()) return {one->getRangeAddress()};
    Reference<css::sheet::XSheetCellRanges> many(element, UNO_QUERY);
    if (!many.is()) return {};
    const Sequence<table::CellRangeAddress> all = many->getRangeAddresses();
    return std::vector<table::CellRangeAddress>(all.begin(), all.end());
}

Area areaOf(const table::CellRangeAddress& a) {
    return Area{a.StartRow + 1, a.StartColumn + 1, a.EndRow + 1, a.EndColumn + 1};
}

bool isSameDoc(const std::weak_ptr<Doc>& a, const std::shared_ptr<Doc>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

Snapshots::Snapshots(CalcState& state) : state_(state), ownThread_(std::this_thread::get_id()) {}

Snapshots::~Snapshots() = default;

// ---- noting

Snapshots::Pending& Snapshots::pendingOf(const std::shared_ptr<Doc>& doc) {
    for (Pending& p : pending_)
        if (isSameDoc(p.doc, doc)) return p;
    pending_.push_back(Pending{doc, 0, {}, {}});
    return pending_.back();
}

bool Snapshots::isKept(const Doc& doc) const {
    return std::find(keptDocs_.begin(), keptDocs_.end(), &doc) != keptDocs_.end();
}

void Snapshots::modified(const std::shared_ptr<Doc>& doc) {
    if (!doc || std::this_thread::get_id() == ownThread_) return;
    std::lock_guard lock(eventsMutex_);
    pendingOf(doc).dirtyAt = ++sequence_;
}

std::uint64_t Snapshots::nextSequence() {
    std::lock_guard lock(eventsMutex_);
    return ++sequence_;
}

void Snapshots::changed(const std::shared_ptr<Doc>& doc, const OUString& what, const Any& where) {
    if (!doc) return;
    What kind;
    if (what == "cell-change")
        kind = What::CellChange;
    else if (what == "insert-rows")
        kind = What::InsertRows;
    else if (what == "delete-rows")
        kind = What::DeleteRows;
    else if (what == "insert-columns")
        kind = What::InsertColumns;
    else if (what == "delete-columns")
        kind = What::DeleteColumns;
    else
        return;
    std::lock_guard lock(eventsMutex_);
    Pending& pending = pendingOf(doc);
    Event event;
    event.sequence = pending.dirtyAt = ++sequence_;
    event.what = kind;
    event.where = where;
    pending.events.push_back(std::move(event));
}

void Snapshots::sawSheet(const std::shared_ptr<Doc>& doc, const Reference<css::sheet::XSpreadsheet>& sheet) {
    if (!doc || !sheet.is()) return;
    std::lock_guard lock(eventsMutex_);
    auto& touched = pendingOf(doc).touched;
    if (std::find(touched.begin(), touched.end(), sheet) == touched.end()) touched.push_back(sheet);
}

void Snapshots::wrote(const std::shared_ptr<Doc>& doc, const Reference<css::sheet::XSpreadsheet>& sheet,
                      const Area& area, const Sequence<Sequence<Any>>& values) {
    if (!doc || !sheet.is()) return;
    std::uint64_t sequence = 0;
    {
        std::lock_guard lock(eventsMutex_);
        auto& touched = pendingOf(doc).touched;
        if (std::find(touched.begin(), touched.end(), sheet) == touched.end()) touched.push_back(sheet);
        // A sheet first kept when the command ends is read whole then.
        if (!isKept(*doc)) return;
        sequence = ++sequence_;
    }
    Event event;
    event.sequence = sequence;
    event.what = What::Wrote;
    event.sheet = sheet;
    event.values = valuesOf(area, values);
    std::lock_guard lock(eventsMutex_);
    auto& events = pendingOf(doc).events;
    // In the order things happened to the sheet: rows the user inserted after the
    // write must move what was written.
    auto at = std::upper_bound(events.begin(), events.end(), sequence,
                               [](std::uint64_t s, const Event& e) { return s < e.sequence; });
    events.insert(at, std::move(event));
}

Snapshots::Pending Snapshots::take(const std::shared_ptr<Doc>& doc) {
    std::lock_guard lock(eventsMutex_);
    for (auto it = pending_.begin(); it != pending_.end(); ++it)
        if (isSameDoc(it->doc, doc)) {
            Pending taken = std::move(*it);
            pending_.erase(it);
            return taken;
        }
    return Pending{doc, 0, {}, {}};
}

void Snapshots::tellAloneBefore(const Doc& doc, std::uint64_t sequence) {
    std::lock_guard lock(eventsMutex_);
    for (Pending& p : pending_) {
        if (p.doc.lock().get() != &doc) continue;
        for (Event& e : p.events)
            if (e.what == What::CellChange && e.sequence < sequence) e.isToldAlone = true;
    }
}

// ---- asking the office

std::shared_ptr<Doc> Snapshots::live(const std::weak_ptr<Doc>& weak) const {
    std::shared_ptr<Doc> doc = weak.lock();
    if (!doc || doc->generation != state_.link.generation()) return nullptr;
    return state_.known(doc->identity) == doc ? doc : nullptr;
}

Snapshots::KeptBook* Snapshots::bookOf(const Doc& doc) {
    for (KeptBook& b : books_)
        if (b.doc.lock().get() == &doc) return &b;
    return nullptr;
}

Snapshots::KeptBook& Snapshots::bookFor(const std::shared_ptr<Doc>& doc) {
    if (KeptBook* book = bookOf(*doc)) return *book;
    {
        std::lock_guard lock(eventsMutex_);
        keptDocs_.push_back(doc.get());
    }
    books_.push_back(KeptBook{doc, {}, {}});
    return books_.back();
}

void Snapshots::locate(KeptBook& book, const Doc& doc) {
    const Sequence<OUString> now =
        Reference<container::XNameAccess>(doc.spreadsheet->getSheets(), UNO_QUERY_THROW)->getElementNames();
    const std::vector<OUString> names(now.begin(), now.end());
    auto has = [](const std::vector<OUString>& all, const OUString& name) {
        return std::find(all.begin(), all.end(), name) != all.end();
    };
    std::erase_if(book.sheets, [&](KeptSheet& kept) {
        sal_Int16 index = -1;
        OUString name;
        try {
            index = sheetIndexOf(kept.sheet);
            name = Reference<container::XNamed>(kept.sheet, UNO_QUERY_THROW)->getName();
        } catch (const lang::DisposedException&) {
            throw;
        } catch (const uno::RuntimeException&) {
            return true;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= names.size()) return true;
        kept.index = index;
        if (name == kept.name) return false;
        // The office moves the object of a removed sheet onto a neighbour, under that
        // one's name; a renamed sheet takes a name no sheet had, and its old one is gone.
        if (has(names, kept.name) || has(book.names, name)) return true;
        kept.name = name;
        return false;
    });
    book.names = names;
}

void Snapshots::apply(KeptBook& book, std::vector<Event>& events) {
    auto keptAt = [&](sal_Int16 index) -> KeptSheet* {
        for (KeptSheet& kept : book.sheets)
            if (kept.index == index) return &kept;
        return nullptr;
    };
    std::map<const void*, sal_Int16> indexes;  // of the sheets written, asked once each
    std::vector<Event> left;
    for (Event& event : events) {
        switch (event.what) {
        case What::CellChange:
            left.push_back(std::move(event));
            break;
        case What::Wrote: {
            auto known = indexes.find(event.sheet.get());
            if (known == indexes.end()) known = indexes.emplace(event.sheet.get(), sheetIndexOf(event.sheet)).first;
            KeptSheet* kept = keptAt(known->second);
            if (!kept) break;
            if (unionOf(kept->values.area(), event.values.area()).cellCount() > kMostCells) {
                std::erase_if(book.sheets, [&](const KeptSheet& s) { return &s == kept; });
                break;
            }
            kept->values.update(event.values);
            break;
        }
        case What::InsertRows:
        case What::DeleteRows:
        case What::InsertColumns:
        case What::DeleteColumns:
            // Whole rows or columns: the kept cells move as the sheet's did, so that
            // no moved cell is told as a change. The office names the selection the
            // command was given, which for "insert after" lies before the inserted
            // rows: the rows between are then told, harmlessly, as changed.
            for (const table::CellRangeAddress& a : addressesOf(event.where)) {
                KeptSheet* kept = keptAt(a.Sheet);
                if (!kept) continue;
                SheetValues& v = kept->values;
                const std::int32_t rows = a.EndRow - a.StartRow + 1, columns = a.EndColumn - a.StartColumn + 1;
                if (event.what == What::InsertRows) v.insertRows(a.StartRow + 1, rows);
                if (event.what == What::DeleteRows) v.removeRows(a.StartRow + 1, rows);
                if (event.what == What::InsertColumns) v.insertColumns(a.StartColumn + 1, columns);
                if (event.what == What::DeleteColumns) v.removeColumns(a.StartColumn + 1, columns);
            }
            break;
        }
    }
    events = std::move(left);
}

bool Snapshots::read(KeptSheet& kept, const SheetValues* also) {
    Area want = usedAreaOf(kept.sheet);
    if (also && !also->isEmpty()) want = unionOf(want, also->area());
    if (want.cellCount() > kMostCells) return false;
    kept.readAt = nextSequence();
    Reference<css::sheet::XCellRangeData> range(
        kept.sheet->getCellRangeByPosition(want.left - 1, want.top - 1, want.right - 1, want.bottom - 1),
        UNO_QUERY_THROW);
    kept.values = valuesOf(want, range->getDataArray());
    return true;
}

void Snapshots::keep(KeptBook& book, const std::shared_ptr<Doc>& doc,
                     const Reference<css::sheet::XSpreadsheet>& sheet) {
    const sal_Int16 index = sheetIndexOf(sheet);
    for (const KeptSheet& kept : book.sheets)
        if (kept.index == index) return;
    KeptSheet kept;
    kept.sheet = sheet;
    kept.index = index;
    kept.name = Reference<container::XNamed>(sheet, UNO_QUERY_THROW)->getName();
    if (!read(kept, nullptr)) return;
    book.sheets.push_back(std::move(kept));
    if (std::find(book.names.begin(), book.names.end(), book.sheets.back().name) == book.names.end())
        book.names.push_back(book.sheets.back().name);
    // Cells the user changed before this read are in it: their cell-changes, not
    // told yet, are told as they are, since no difference will show them.
    std::uint64_t now;
    {
        std::lock_guard lock(eventsMutex_);
        now = sequence_ + 1;
    }
    tellAloneBefore(*doc, now);
}

void Snapshots::watchAllSheets(const std::shared_ptr<Doc>& doc) {
    if (!doc) return;
    std::lock_guard work(workMutex_);
    OfficeLink::CallScope call(state_.link);
    KeptBook& book = bookFor(doc);
    locate(book, *doc);
    Reference<container::XIndexAccess> sheets(doc->spreadsheet->getSheets(), UNO_QUERY_THROW);
    for (sal_Int32 i = 0, n = sheets->getCount(); i < n; ++i)
        keep(book, doc, Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(i), UNO_QUERY_THROW));
}

void Snapshots::afterCommand() {
    std::vector<std::shared_ptr<Doc>> docs;
    {
        std::lock_guard lock(eventsMutex_);
        for (const Pending& p : pending_)
            if (!p.touched.empty())
                if (auto doc = p.doc.lock()) docs.push_back(doc);
        std::erase_if(pending_, [](const Pending& p) { return p.doc.expired(); });
    }
    if (docs.empty()) return;
    std::lock_guard work(workMutex_);
    for (const auto& doc : docs) {
        Pending taken = take(doc);
        if (!live(doc)) continue;
        // The office told none of the user's changes to a document this command held
        // as they happened: the idle tick looks at it.
        if (doc->isHeld) taken.dirtyAt = nextSequence();
        try {
            {
                OfficeLink::CallScope call(state_.link);
                KeptBook& book = bookFor(doc);
                locate(book, *doc);
                apply(book, taken.events);
            }
            // What is left (cell-changes) is the idle look's, before whatever came since.
            {
                std::lock_guard lock(eventsMutex_);
                Pending& pending = pendingOf(doc);
                pending.dirtyAt = std::max(pending.dirtyAt, taken.dirtyAt);
                pending.events.insert(pending.events.begin(), std::make_move_iterator(taken.events.begin()),
                                      std::make_move_iterator(taken.events.end()));
            }
            OfficeLink::CallScope call(state_.link);
            KeptBook& book = bookFor(doc);
            for (const auto& sheet : taken.touched) keep(book, doc, sheet);
        } catch (const uno::Exception&) {
            // The office failed or went away: its sheets are read again when a command
            // next touches them, and a lost connection forgets the document anyway.
        } catch (const std::exception&) {
        }
    }
}

std::vector<automation::CellChange> Snapshots::changes() {
    std::vector<automation::CellChange> out;
    std::lock_guard work(workMutex_);
    // A look reads whole sheets on the program's main thread: it comes no more often
    // than its own cost allows, so that editing a large sheet does not keep the
    // program busy reading. Until then the events wait.
    const auto started = std::chrono::steady_clock::now();
    if (started < lookAfter_) return out;
    std::erase_if(books_, [&](const KeptBook& b) {
        if (live(b.doc)) return false;
        std::lock_guard lock(eventsMutex_);
        std::erase(keptDocs_, b.doc.lock().get());
        return true;
    });
    std::vector<Pending> all;
    {
        std::lock_guard lock(eventsMutex_);
        // Sheets the module touched are kept when its command ends; everything else
        // is looked at now.
        for (Pending& p : pending_) {
            if (p.dirtyAt == 0 && p.events.empty()) continue;
            all.push_back(Pending{p.doc, p.dirtyAt, std::move(p.events), {}});
            p.dirtyAt = 0;
            p.events.clear();
        }
        std::erase_if(pending_, [](const Pending& p) { return p.touched.empty() && p.events.empty(); });
    }
    // A document a command holds tells no modification until the hold is lifted,
    // and a command the link runs while another waits on purpose (DELAY) holds it
    // until that one ends: it is looked at anyway.
    for (const KeptBook& b : books_) {
        std::shared_ptr<Doc> doc = live(b.doc);
        if (!doc || !doc->isHeld) continue;
        auto p = std::find_if(all.begin(), all.end(), [&](const Pending& q) { return isSameDoc(q.doc, doc); });
        if (p == all.end()) p = all.insert(all.end(), Pending{doc, 0, {}, {}});
        p->dirtyAt = nextSequence();
    }
    if (all.empty()) return out;
    OfficeLink::CallScope call(state_.link);
    for (Pending& p : all) {
        std::shared_ptr<Doc> doc = live(p.doc);
        if (!doc) continue;
        KeptBook* book = bookOf(*doc);
        // Cells told, by sheet index: a cell-change told alone on a kept sheet may
        // name a cell the look finds too.
        std::set<std::tuple<sal_Int16, std::int32_t, std::int32_t>> told;
        if (book) {
            locate(*book, *doc);
            apply(*book, p.events);
            for (auto it = book->sheets.begin(); it != book->sheets.end();) {
                // Values read after the latest sign of a change hold that change.
                if (p.dirtyAt == 0 || it->readAt > p.dirtyAt) {
                    ++it;
                    continue;
                }
                SheetValues before = std::move(it->values);
                if (!read(*it, &before)) {
                    it = book->sheets.erase(it);
                    continue;
                }
                auto sheet = std::make_shared<DocSheet>(doc, it->sheet);
                for (const automation::CellRef& cell : changedCells(before, it->values)) {
                    told.insert({it->index, cell.row, cell.column});
                    out.push_back({sheet, Area{cell.row, cell.column, cell.row, cell.column}});
                }
                ++it;
            }
        }
        Reference<container::XIndexAccess> sheets;
        for (const Event& event : p.events)
            for (const table::CellRangeAddress& a : addressesOf(event.where)) {
                const KeptSheet* kept = nullptr;
                if (book)
                    for (const KeptSheet& k : book->sheets)
                        if (k.index == a.Sheet) kept = &k;
                const Area area = areaOf(a);
                if (kept && !event.isToldAlone) continue;  // the look above found it, or it changed nothing
                if (kept && kept->values.contains(area.top, area.left) &&
                    kept->values.contains(area.bottom, area.right)) {
                    auto sheet = std::make_shared<DocSheet>(doc, kept->sheet);
                    for (std::int32_t r = area.top; r <= area.bottom; ++r)
                        for (std::int32_t c = area.left; c <= area.right; ++c)
                            if (told.insert({a.Sheet, r, c}).second) out.push_back({sheet, Area{r, c, r, c}});
                    continue;
                }
                if (!sheets.is()) sheets.set(doc->spreadsheet->getSheets(), UNO_QUERY_THROW);
                Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(a.Sheet), UNO_QUERY_THROW);
                out.push_back({std::make_shared<DocSheet>(doc, sheet), area});
            }
    }
    const auto ended = std::chrono::steady_clock::now();
    lookAfter_ = ended + 3 * (ended - started);
    return out;
}

void Snapshots::clear() {
    std::lock_guard work(workMutex_);
    std::lock_guard lock(eventsMutex_);
    books_.clear();
    pending_.clear();
    keptDocs_.clear();
}

}  // namespace calc
