// The documents of the office as automation sees them, the workbook files they are
// stored to, and the translation of the office's failures.
#include "calc/CalcState.h"

#include "calc/UnoText.h"
#include "platform/File.h"

#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetAnnotation.hpp>
#include <com/sun/star/sheet/XSheetAnnotationAnchor.hpp>
#include <com/sun/star/sheet/XSheetAnnotations.hpp>
#include <com/sun/star/sheet/XSheetAnnotationsSupplier.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellAddress.hpp>
#include <com/sun/star/text/XSimpleText.hpp>
#include <com/sun/star/util/XChangesNotifier.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XModifyBroadcaster.hpp>
#include <com/sun/star/util/XModifyListener.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace css = ::com::sun::star;
namespace beans = css::beans;
namespace container = css::container;
namespace frame = css::frame;
namespace lang = css::lang;
namespace table = css::table;
namespace text = css::text;
namespace uno = css::uno;
namespace util = css::util;
using ::com::sun::star::uno::Any;
using ::com::sun::star::uno::Reference;
using ::com::sun::star::uno::Sequence;
using ::com::sun::star::uno::UNO_QUERY;
using ::com::sun::star::uno::UNO_QUERY_THROW;

namespace calc {
namespace {

constexpr char kXlsxFilter[] = "Calc MS Excel 2007 XML";
// An .xlsx file the office stores for a save is read back whole.
constexpr std::uint64_t kMostStoredBytes = std::uint64_t{1} << 32;

// The local path of a file:// URL; empty for any other URL.
std::string pathOfUrl(const std::string& url) {
    if (url.rfind("file://", 0) != 0) return {};
    std::string path;
    for (std::size_t i = 7; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && std::isxdigit(static_cast<unsigned char>(url[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(url[i + 2]))) {
            path += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += url[i];
        }
    }
    return path;
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) throw std::runtime_error("the current folder cannot be named");
    return std::string(buffer) + "/" + path;
}

std::string baseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWithXlsx(const std::string& path) {
    if (path.size() < 5) return false;
    std::string tail = path.substr(path.size() - 5);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".xlsx";
}

beans::PropertyValue property(const char* name, const Any& value) {
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

// The office leaves ".~lock.<name>#" beside a document it opens, and after a crash
// the file stays: the next office then refuses to open the document for writing
// (a headless one cancels the question it would ask). A lock left by this user on
// this machine for a document the connected office does not have open is such a
// leftover.
void removeStaleLock(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::string lock = path.substr(0, slash + 1) + ".~lock." + path.substr(slash + 1) + "#";
    std::ifstream in(lock);
    if (!in) return;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const char* user = std::getenv("USER");
    std::vector<std::string> fields;
    std::stringstream split(content);
    for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
    // Fields: author, user, machine, date, profile.
    bool isOurs = fields.size() >= 3 && fields[2] == host && (!user || fields[1] == user);
    if (isOurs) ::unlink(lock.c_str());
}

}  // namespace

void CalcState::ensureConnected() {
    if (link.isConnected()) return;
    std::vector<std::shared_ptr<Doc>> owned;
    std::shared_ptr<Doc> wasActive;
    {
        std::lock_guard lock(mutex);
        for (const auto& d : docs) {
            // A new workbook nothing was stored in is not brought back: its
            // reserved file is removed.
            if (d->reserved)
                lost.push_back(d);
            else if (d->isOwned && !d->path.empty())
                owned.push_back(d);
        }
        wasActive = active;
        docs.clear();
        active.reset();
        notes.clear();
    }
    const pid_t before = link.officeProcess();
    link.attachOrStart();
    // The same office after a connection the watchdog cut still has its documents.
    if (before == 0 || link.officeProcess() == before) return;
    reopen(owned, wasActive);
}

void CalcState::reopen(const std::vector<std::shared_ptr<Doc>>& owned, const std::shared_ptr<Doc>& wasActive) {
    std::string reopened, failed;
    std::size_t count = 0;
    std::shared_ptr<Doc> nowActive;
    for (const auto& old : owned) {
        const std::string file = baseName(old->path);
        try {
            std::shared_ptr<Doc> doc;
            // Another program may have it open in this office already.
            for (const auto& d : workbooks())
                if (d->path == old->path) doc = d;
            const bool isLoadedHere = !doc;
            if (isLoadedHere) {
                removeStaleLock(old->path);
                doc = adopt(loadHidden(old->path));
            }
            if (!doc) throw std::runtime_error("not a spreadsheet");
            {
                std::lock_guard lock(mutex);
                doc->name = old->name;
                doc->isOwned = true;
                doc->isOpenedHere = doc->isOpenedHere || isLoadedHere;
            }
            if (old == wasActive) nowActive = doc;
            reopened += (count++ ? ", " : "") + file;
        } catch (const uno::Exception& e) {
            failed += "; " + file + " could not be reopened: " + officeFailureText(*this, toUtf8(e.Message));
        } catch (const std::exception& e) {
            failed += "; " + file + " could not be reopened: " + e.what();
        }
    }
    if (nowActive) activate(nowActive);
    if (!options.notify) return;
    std::string text = link.hasStartedOffice()
                           ? "LibreOffice went away; a new one was started"
                           : "LibreOffice went away; the one now on pipe '" + options.pipeName + "' was connected";
    if (count) text += " and " + reopened + (count == 1 ? " was" : " were") + " reopened";
    options.notify(text + failed);
}

Reference<frame::XModel> CalcState::loadHidden(const std::string& path) {
    Reference<frame::XComponentLoader> loader(link.desktop(), UNO_QUERY_THROW);
    Sequence<beans::PropertyValue> args(1);
    args[0] = property("Hidden", Any(options.isHeadless));
    return Reference<frame::XModel>(loader->loadComponentFromURL(toOUString(fileUrl(path)), "_blank", 0, args),
                                    UNO_QUERY);
}

void CalcState::checkAlive(const Doc& doc) const {
    if (doc.generation != link.generation() || !link.isConnected())
        throw OfficeError("The workbook '" + toUtf8(toOUString(doc.name)) +
                          "' belonged to a LibreOffice connection that is gone");
}

// The office calls the changes listener on a thread of its own and waits for it,
// and the listener looks documents up under the mutex: so the mutex is never held
// across a call into the office, which could be waiting for that listener.
std::shared_ptr<Doc> CalcState::adopt(const Reference<frame::XModel>& model) {
    if (!model.is()) return nullptr;
    Reference<uno::XInterface> identity(model, UNO_QUERY);
    if (auto doc = known(identity)) return doc;
    Reference<css::sheet::XSpreadsheetDocument> spreadsheet(model, UNO_QUERY);
    if (!spreadsheet.is()) return nullptr;
    auto doc = std::make_shared<Doc>();
    doc->model = model;
    doc->identity = identity;
    doc->spreadsheet = spreadsheet;
    doc->generation = link.generation();
    std::string path = pathOfUrl(toUtf8(model->getURL()));
    if (!path.empty()) {
        doc->name = toU16(toOUString(baseName(path)));
        if (endsWithXlsx(path)) doc->path = path;
    } else {
        Reference<frame::XTitle> title(model, UNO_QUERY);
        doc->name = title.is() ? toU16(title->getTitle()) : u"Untitled";
    }
    {
        std::lock_guard lock(mutex);
        for (const auto& d : docs)
            if (d->identity.get() == identity.get()) return d;
        docs.push_back(doc);
    }
    Reference<util::XChangesNotifier> notifier(model, UNO_QUERY);
    if (notifier.is() && listener.is()) notifier->addChangesListener(listener);
    Reference<util::XModifyBroadcaster> broadcaster(model, UNO_QUERY);
    Reference<util::XModifyListener> modifications(listener, UNO_QUERY);
    if (broadcaster.is() && modifications.is()) broadcaster->addModifyListener(modifications);
    return doc;
}

std::shared_ptr<Doc> CalcState::known(const Reference<uno::XInterface>& model) {
    Reference<uno::XInterface> identity(model, UNO_QUERY);
    std::lock_guard lock(mutex);
    for (const auto& d : docs)
        if (d->identity.get() == identity.get()) return d;
    return nullptr;
}

std::vector<std::shared_ptr<Doc>> CalcState::workbooks() {
    ensureConnected();
    Reference<container::XEnumerationAccess> components(link.desktop()->getComponents(), UNO_QUERY_THROW);
    std::vector<std::shared_ptr<Doc>> open;
    auto all = components->createEnumeration();
    while (all->hasMoreElements()) {
        Reference<frame::XModel> model(all->nextElement(), UNO_QUERY);
        if (auto doc = adopt(model)) open.push_back(doc);
    }
    std::lock_guard lock(mutex);
    std::erase_if(docs,
                  [&](const std::shared_ptr<Doc>& d) { return std::find(open.begin(), open.end(), d) == open.end(); });
    return docs;
}

std::shared_ptr<Doc> CalcState::activeWorkbook() {
    auto books = workbooks();
    {
        std::lock_guard lock(mutex);
        if (active && std::find(books.begin(), books.end(), active) != books.end()) return active;
    }
    Reference<frame::XModel> current(link.desktop()->getCurrentComponent(), UNO_QUERY);
    std::shared_ptr<Doc> chosen = adopt(current);
    if (!chosen && !books.empty()) chosen = books.back();
    activate(chosen);
    return chosen;
}

void CalcState::activate(const std::shared_ptr<Doc>& doc) {
    std::lock_guard lock(mutex);
    active = doc;
}

std::shared_ptr<Doc> CalcState::openWorkbook(const std::string& file) {
    ensureConnected();
    const std::string path = absolutePath(file);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error(file + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw std::runtime_error(file + ": not a regular file");
    for (const auto& d : workbooks())
        if (d->path == path) {
            // The user's document of that file, now given to this program: what
            // the user changed in it is not stored without asking.
            if (!d->isOwned) {
                const bool isModified = Reference<util::XModifiable>(d->model, UNO_QUERY_THROW)->isModified();
                std::lock_guard lock(mutex);
                d->isOwned = true;
                d->hasUserChanges = isModified;
            }
            activate(d);
            return d;
        }
    removeStaleLock(path);
    Reference<frame::XModel> model;
    try {
        model = loadHidden(path);
    } catch (const uno::Exception& e) {
        throw std::runtime_error(file + ": LibreOffice cannot open it: " + toUtf8(e.Message));
    }
    if (!model.is()) throw std::runtime_error(file + ": LibreOffice cannot open it as a spreadsheet");
    auto doc = adopt(model);
    if (!doc) {
        Reference<lang::XComponent>(model, UNO_QUERY_THROW)->dispose();
        throw std::runtime_error(file + ": not a spreadsheet");
    }
    {
        std::lock_guard lock(mutex);
        doc->isOwned = doc->isOpenedHere = true;
    }
    activate(doc);
    return doc;
}

sal_Int32 CalcState::textFormatKey(Doc& doc) {
    if (doc.textFormat >= 0) return doc.textFormat;
    Reference<util::XNumberFormatsSupplier> supplier(doc.model, UNO_QUERY_THROW);
    Reference<util::XNumberFormats> formats = supplier->getNumberFormats();
    // Format codes are read in the locale given; the user's would misread them.
    lang::Locale enUs("en", "US", "");
    // "@" reads alike in every locale; asked for in the document's own, it is
    // stored without a locale tag, as other programs write it.
    lang::Locale documentLocale;
    sal_Int32 key = formats->queryKey("@", documentLocale, false);
    if (key < 0) key = formats->queryKey("@", enUs, false);
    if (key < 0) key = formats->addNew("@", enUs);
    doc.textFormat = key;
    return key;
}

namespace {

// Shows a hidden document's window while it lives.
class ShownWindow {
public:
    explicit ShownWindow(const Reference<frame::XModel>& model) {
        if (!model.is()) return;
        if (Reference<frame::XController> controller = model->getCurrentController(); controller.is())
            if (Reference<frame::XFrame> frame = controller->getFrame(); frame.is())
                window_ = frame->getContainerWindow();
        if (window_.is()) window_->setVisible(true);
    }
    ~ShownWindow() {
        try {
            if (window_.is()) window_->setVisible(false);
        } catch (const uno::Exception&) {
            // The office went away during the store, which says so itself.
        }
    }
    ShownWindow(const ShownWindow&) = delete;
    ShownWindow& operator=(const ShownWindow&) = delete;

private:
    Reference<css::awt::XWindow> window_;
};

}  // namespace

std::string CalcState::storedBytes(Doc& doc) {
    // Stored beside the file (where the file system surely has room for it), read
    // back, and removed: the file itself is replaced by the platform's file layer.
    const std::string beside = doc.path.empty() ? absolutePath("Book") : doc.path;
    const std::size_t slash = beside.find_last_of('/');
    const std::string temporary =
        beside.substr(0, slash + 1) + "." + beside.substr(slash + 1) + "." + std::to_string(::getpid()) + ".tmp.xlsx";
    std::string bytes;
    std::string problem;
    try {
        placeNotes();
        const Sequence<beans::PropertyValue> args = xlsxStoreArguments();
        {
            // The .xlsx filter takes the active sheet from a view it can see; a hidden
            // document's view it cannot, so it would store the first sheet as the
            // active one and, that sheet being hidden, store it shown. For the store
            // the document's window is shown (to no one: the office is headless).
            ShownWindow shown(options.isHeadless ? doc.model : nullptr);
            Reference<frame::XStorable>(doc.model, UNO_QUERY_THROW)->storeToURL(toOUString(fileUrl(temporary)), args);
        }
        platform::FileStatus read = platform::readFile(temporary, bytes, kMostStoredBytes);
        if (!read) problem = "reading what LibreOffice stored: " + read.error().reason();
    } catch (const uno::Exception& e) {
        problem = officeFailureText(*this, toUtf8(e.Message));
    }
    ::unlink(temporary.c_str());
    if (!problem.empty()) throw std::runtime_error(problem);
    return bytes;
}

SheetNotes& CalcState::notesOf(const Doc& doc, const Reference<css::sheet::XSpreadsheet>& sheet) {
    {
        std::lock_guard lock(mutex);
        for (SheetNotes& n : notes)
            if (n.sheet == sheet) return n;
    }
    SheetNotes fresh;
    fresh.document = doc.model;
    fresh.sheet = sheet;
    if (auto all = noteScripts.read(link, sheet)) {
        fresh.texts = std::move(*all);
        std::lock_guard lock(mutex);
        notes.push_back(std::move(fresh));
        return notes.back();
    }
    Reference<css::sheet::XCellRangesQuery> query(sheet, UNO_QUERY_THROW);
    Reference<css::sheet::XSheetCellRanges> ranges = query->queryContentCells(css::sheet::CellFlags::ANNOTATION);
    if (ranges.is()) {
        const Sequence<table::CellRangeAddress> addresses = ranges->getRangeAddresses();
        for (const table::CellRangeAddress& a : addresses)
            for (sal_Int32 r = a.StartRow; r <= a.EndRow; ++r)
                for (sal_Int32 c = a.StartColumn; c <= a.EndColumn; ++c) {
                    Reference<css::sheet::XSheetAnnotationAnchor> anchor(sheet->getCellByPosition(c, r),
                                                                         UNO_QUERY_THROW);
                    Reference<text::XSimpleText> note(anchor->getAnnotation(), UNO_QUERY_THROW);
                    fresh.texts[{r + 1, c + 1}] = toU16(note->getString());
                }
    }
    std::lock_guard lock(mutex);
    notes.push_back(std::move(fresh));
    return notes.back();
}

namespace {
bool inside(const SheetNotes::Cell& cell, const Area& area) {
    return cell.first >= area.top && cell.first <= area.bottom && cell.second >= area.left && cell.second <= area.right;
}
}  // namespace

void SheetNotes::place(CalcState& state, const std::vector<std::pair<Cell, std::u16string>>& dropped,
                       const Area* area) {
    std::vector<std::pair<Cell, std::u16string>> due = dropped;
    for (auto it = unplaced.begin(); it != unplaced.end();) {
        if (area && !inside(*it, *area)) {
            ++it;
            continue;
        }
        due.emplace_back(*it, texts[*it]);
        it = unplaced.erase(it);
    }
    if (due.empty()) return;
    if (state.noteScripts.place(state.link, document, sheet, due)) return;
    Reference<css::sheet::XSheetAnnotations> annotations =
        Reference<css::sheet::XSheetAnnotationsSupplier>(sheet, UNO_QUERY_THROW)->getAnnotations();
    // The sheet's index is read now: sheets added since may have moved it.
    const sal_Int16 index = sheetIndexOf(sheet);
    for (const auto& [cell, text] : due)
        annotations->insertNew(table::CellAddress(index, cell.second - 1, cell.first - 1), toOUString(text));
}

std::vector<std::pair<SheetNotes::Cell, std::u16string>> SheetNotes::placedWithin(const Area& area) const {
    std::vector<std::pair<Cell, std::u16string>> within;
    for (auto it = texts.lower_bound({area.top, area.left}); it != texts.end() && it->first.first <= area.bottom; ++it)
        if (inside(it->first, area) && !unplaced.count(it->first)) within.push_back(*it);
    return within;
}

bool SheetNotes::forget(const Area& area) {
    bool wasPlaced = false;
    for (auto it = texts.lower_bound({area.top, 0}); it != texts.end() && it->first.first <= area.bottom;) {
        if (!inside(it->first, area)) {
            ++it;
            continue;
        }
        wasPlaced = wasPlaced || !unplaced.erase(it->first);
        it = texts.erase(it);
    }
    return wasPlaced;
}

void CalcState::holdUpdates(Doc& doc) {
    if (doc.isHeld) return;
    doc.isHeld = true;
    doc.model->lockControllers();
    Reference<css::document::XActionLockable> lockable(doc.model, UNO_QUERY);
    if (lockable.is()) lockable->addActionLock();
}

void CalcState::noteChange(Doc& doc, bool isVisible) {
    if (isVisible) doc.hasOurChanges = true;
    std::lock_guard lock(mutex);
    usedAreas.clear();
}

void CalcState::placeNotes() {
    std::list<SheetNotes> all;
    {
        std::lock_guard lock(mutex);
        all.swap(notes);
    }
    for (SheetNotes& n : all) n.place(*this, {});
}

sal_Int16 sheetIndexOf(const Reference<css::sheet::XSpreadsheet>& sheet) {
    return Reference<css::sheet::XCellRangeAddressable>(sheet, UNO_QUERY_THROW)->getRangeAddress().Sheet;
}

Area usedAreaOf(const Reference<css::sheet::XSpreadsheet>& sheet) {
    Reference<css::sheet::XSheetCellCursor> cursor = sheet->createCursor();
    Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
    used->gotoStartOfUsedArea(false);
    used->gotoEndOfUsedArea(true);
    const table::CellRangeAddress a =
        Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
    return Area{a.StartRow + 1, a.StartColumn + 1, a.EndRow + 1, a.EndColumn + 1};
}

Sequence<beans::PropertyValue> xlsxStoreArguments() {
    Sequence<beans::PropertyValue> args(2);
    args[0] = property("FilterName", Any(OUString::createFromAscii(kXlsxFilter)));
    args[1] = property("Overwrite", Any(true));
    return args;
}

Reference<css::sheet::XSpreadsheet> activeSheetOf(const Doc& doc) {
    Reference<css::sheet::XSpreadsheetView> view(doc.model->getCurrentController(), UNO_QUERY);
    if (view.is()) return view->getActiveSheet();
    Reference<container::XIndexAccess> sheets(doc.spreadsheet->getSheets(), UNO_QUERY_THROW);
    return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(0), UNO_QUERY_THROW);
}

bool isLostConnection(const OUString& message) {
    // The bridge's words for a call it could not finish.
    return message.indexOf("disposed") >= 0 || message.indexOf("Disposed") >= 0;
}

std::string officeFailureText(CalcState& state, const std::string& message) {
    if (state.link.takeTimedOut())
        return "LibreOffice did not answer within " + std::to_string(state.options.callTimeoutMs / 1000) +
               " s; the connection to it was closed";
    if (!state.link.isConnected()) return "the connection to LibreOffice was lost";
    return message.empty() ? std::string("LibreOffice refused the call") : message;
}

}  // namespace calc
