// The office's documents and sheets as the front asks for them, the calls bounded by
// the watchdog, and the documents a command changed stored when it ends.
#include "automation/DispatchSupport.h"
#include "automation/Front.h"
#include "calc/OfficeBackend.h"
#include "calc/UnoText.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <unistd.h>

#include <cstdlib>

namespace css = ::com::sun::star;
namespace beans = css::beans;
namespace container = css::container;
namespace frame = css::frame;
namespace lang = css::lang;
namespace table = css::table;
namespace uno = css::uno;
namespace util = css::util;
using automation::Area;
using automation::BookHandle;
using automation::BookPtr;
using automation::SheetHandle;
using automation::SheetPtr;
using ::com::sun::star::uno::Any;
using ::com::sun::star::uno::Reference;
using ::com::sun::star::uno::Sequence;
using ::com::sun::star::uno::UNO_QUERY;
using ::com::sun::star::uno::UNO_QUERY_THROW;

namespace calc {
namespace {

Reference<container::XIndexAccess> sheetsOf(const Doc& doc) {
    return Reference<container::XIndexAccess>(doc.spreadsheet->getSheets(), UNO_QUERY_THROW);
}

// Calc knows a sheet as shown or hidden: it has no very hidden state of its own, and
// stores a hidden sheet as hidden.
bool isVisible(const Reference<css::sheet::XSpreadsheet>& sheet) {
    bool visible = true;
    Reference<beans::XPropertySet>(sheet, UNO_QUERY_THROW)->getPropertyValue("IsVisible") >>= visible;
    return visible;
}

// The visible sheet that becomes active when the one at index is hidden: the next
// one, else the nearest before it; null when no other sheet is visible.
Reference<css::sheet::XSpreadsheet> visibleNeighbour(const Reference<container::XIndexAccess>& sheets,
                                                     sal_Int32 index) {
    const sal_Int32 count = sheets->getCount();
    for (sal_Int32 i = index + 1; i < count; ++i) {
        Reference<css::sheet::XSpreadsheet> s(sheets->getByIndex(i), UNO_QUERY_THROW);
        if (isVisible(s)) return s;
    }
    for (sal_Int32 i = index - 1; i >= 0; --i) {
        Reference<css::sheet::XSpreadsheet> s(sheets->getByIndex(i), UNO_QUERY_THROW);
        if (isVisible(s)) return s;
    }
    return {};
}

SheetPtr handleOf(const std::shared_ptr<Doc>& doc, Reference<css::sheet::XSpreadsheet> sheet) {
    return std::make_shared<DocSheet>(doc, std::move(sheet));
}

std::shared_ptr<Doc> docPtr(const BookPtr& book) { return std::static_pointer_cast<Doc>(book); }

}  // namespace

std::u16string OfficeBackend::defaultUserName() const {
    const char* user = std::getenv("USER");
    return toU16(toOUString(user ? user : ""));
}

void OfficeBackend::run(bool mayReconnect, const std::function<void()>& member) {
    // The office's failures as automation errors, in one line a user can act on.
    auto failure = [&](const std::string& message) {
        return automation::DispatchFailure{DISP_E_EXCEPTION, officeFailureText(*state_, message)};
    };
    // The application and its workbooks belong to no one connection: after the office
    // went away (and the bridge may not have told us yet) they try once more,
    // attaching or starting the office again.
    auto retries = [&](int attempt) {
        if (attempt > 0 || !mayReconnect || state_->link.timedOut()) return false;
        state_->link.dropBridge();
        return true;
    };
    for (int attempt = 0;; ++attempt) {
        try {
            OfficeLink::CallScope call(state_->link);
            member();
            return;
        } catch (const lang::DisposedException&) {
            if (retries(attempt)) continue;
            throw failure("the connection to LibreOffice was lost");
        } catch (const uno::RuntimeException& e) {
            // A call under way when the office died fails with the bridge's own
            // runtime error.
            if (isLostConnection(e.Message) && retries(attempt)) continue;
            throw failure(toUtf8(e.Message));
        } catch (const uno::Exception& e) {
            throw failure(toUtf8(e.Message));
        }
    }
}

void OfficeBackend::checkLive(const BookHandle& book) { state_->checkAlive(docOf(book)); }
void OfficeBackend::checkLive(const SheetHandle& sheet) { state_->checkAlive(*sheetOf(sheet).doc); }

std::vector<BookPtr> OfficeBackend::books() {
    auto docs = state_->workbooks();
    return {docs.begin(), docs.end()};
}

BookPtr OfficeBackend::activeBook() { return state_->activeWorkbook(); }

void OfficeBackend::activateBook(const BookPtr& book) { state_->activate(docPtr(book)); }

BookPtr OfficeBackend::newBook() {
    state_->ensureConnected();
    Reference<frame::XComponentLoader> loader(state_->link.desktop(), UNO_QUERY_THROW);
    Sequence<beans::PropertyValue> args(1);
    args[0].Name = "Hidden";
    args[0].Value <<= state_->options.isHeadless;
    Reference<frame::XModel> model(loader->loadComponentFromURL("private:factory/scalc", "_blank", 0, args),
                                   UNO_QUERY_THROW);
    auto doc = state_->adopt(model);
    if (!doc) throw OfficeError("LibreOffice made a new document that is no spreadsheet");
    doc->isAwaitingReservation = doc->isOpenedHere = true;
    state_->activate(doc);
    return doc;
}

void OfficeBackend::nameBook(BookHandle& book, std::u16string name, std::string path) {
    Doc& doc = docOf(book);
    std::lock_guard lock(state_->mutex);
    doc.name = std::move(name);
    doc.path = std::move(path);
    doc.isOwned = true;
}

std::string OfficeBackend::readOnlyFile(const BookHandle& book) {
    Doc& doc = docOf(book);
    if (!Reference<frame::XStorable>(doc.model, UNO_QUERY_THROW)->isReadonly()) return {};
    std::lock_guard lock(state_->mutex);
    return doc.path.empty() ? toUtf8(toOUString(doc.name)) : doc.path;
}

std::u16string OfficeBackend::bookName(const BookHandle& book) {
    std::lock_guard lock(state_->mutex);
    return docOf(book).name;
}

std::string OfficeBackend::bookPath(const BookHandle& book) {
    std::lock_guard lock(state_->mutex);
    return docOf(book).path;
}

std::string OfficeBackend::workbookBytes(BookHandle& book) { return state_->storedBytes(docOf(book)); }

void OfficeBackend::markSaved(BookHandle& book, const platform::FileStamp& written) {
    Doc& doc = docOf(book);
    if (doc.isAwaitingReservation) {
        // The empty file just reserved for a new workbook. The office is told it is
        // the document's file, so that the user sees its name in the office and the
        // office's own Save goes there: storing the empty document as that file
        // costs a tenth of a second.
        doc.isAwaitingReservation = false;
        platform::FileStamp stamp = written;
        try {
            Reference<frame::XStorable>(doc.model, UNO_QUERY_THROW)
                ->storeAsURL(toOUString(fileUrl(doc.path)), xlsxStoreArguments());
            if (auto stored = platform::fileStamp(doc.path)) stamp = *stored;
        } catch (const uno::Exception&) {
            // The document keeps its untitled name; the reserved file stands.
        }
        doc.reserved = stamp;
        return;
    }
    Reference<util::XModifiable>(doc.model, UNO_QUERY_THROW)->setModified(false);
    doc.reserved.reset();
    doc.hasOurChanges = doc.hasUserChanges = doc.isStoreDeclined = false;
}

std::vector<std::string> OfficeBackend::flush(bool isSessionEnd) {
    state_->snapshots.afterCommand();
    std::vector<std::string> problems = dropOrphanedReservations();
    {
        // The user may change the sheets before the next command.
        std::lock_guard lock(state_->mutex);
        state_->usedAreas.clear();
    }
    try {
        OfficeLink::CallScope call(state_->link);
        state_->placeNotes();
    } catch (const uno::Exception& e) {
        problems.push_back("Comments could not be added in LibreOffice: " +
                           officeFailureText(*state_, toUtf8(e.Message)));
    }
    std::vector<std::shared_ptr<Doc>> books;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->link.isConnected()) return problems;
        books = state_->docs;
    }
    for (const auto& doc : books) {
        if (!doc->isHeld || doc->generation != state_->link.generation()) continue;
        doc->isHeld = false;
        try {
            OfficeLink::CallScope call(state_->link);
            Reference<css::document::XActionLockable> lockable(doc->model, UNO_QUERY);
            if (lockable.is()) lockable->removeActionLock();
            doc->model->unlockControllers();
        } catch (const uno::Exception&) {
        }
    }
    // Only what this program made or opened is stored, and of that only an .xlsx
    // file; a command that changed only the hidden record leaves its store to the
    // next one that changes what the user sees, or to the session's end.
    for (const auto& doc : books) {
        if (!doc->isOwned || doc->path.empty() || doc->generation != state_->link.generation()) continue;
        if (!doc->hasOurChanges && !isSessionEnd) continue;
        if (std::string problem = store(*doc); !problem.empty()) problems.push_back(problem);
    }
    if (isSessionEnd) closeStored(books);
    return problems;
}

void OfficeBackend::closeStored(const std::vector<std::shared_ptr<Doc>>& books) {
    // What this program made or loaded and stored goes with it, as a program
    // closes its documents when it quits: the office may stay (the user's, or
    // shared with another session), and a later session that opens the file
    // again must find the file's content, not an old copy the office still has.
    // A document with changes nobody stored stays open with them.
    for (const auto& doc : books) {
        if (!doc->isOpenedHere || doc->generation != state_->link.generation()) continue;
        try {
            OfficeLink::CallScope call(state_->link);
            if (Reference<util::XModifiable>(doc->model, UNO_QUERY_THROW)->isModified()) continue;
            Reference<util::XCloseable> closeable(doc->model, UNO_QUERY);
            if (closeable.is()) closeable->close(true);
        } catch (const uno::Exception&) {
            // Gone already, or the office refused: it keeps the document.
        }
    }
}

std::string OfficeBackend::store(Doc& doc) {
    const std::string name = toUtf8(toOUString(doc.name));
    auto failed = [&](const uno::Exception& e) {
        return "The workbook '" + name + "' could not be saved to " + doc.path + ": " +
               officeFailureText(*state_, toUtf8(e.Message));
    };
    try {
        OfficeLink::CallScope call(state_->link);
        if (!Reference<util::XModifiable>(doc.model, UNO_QUERY_THROW)->isModified()) {
            doc.hasOurChanges = false;
            return {};
        }
    } catch (const uno::Exception& e) {
        return failed(e);
    }
    if (doc.hasUserChanges) {
        if (doc.isStoreDeclined) return {};
        const std::string question =
            name + " (" + doc.path + ") has changes that are not saved. Save it with the export? [Yes/No] <No>";
        if (!state_->options.ask || !state_->options.ask(question)) {
            // Asked once: the document keeps the user's changes in the office, and
            // its modified flag says so there.
            doc.isStoreDeclined = true;
            return {};
        }
    }
    try {
        OfficeLink::CallScope call(state_->link);
        return automation::saveWorkbook(*this, doc).problem;
    } catch (const uno::Exception& e) {
        return failed(e);
    }
}

std::vector<std::string> OfficeBackend::dropOrphanedReservations() {
    std::vector<std::shared_ptr<Doc>> gone;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& doc : state_->docs)
            if (doc->reserved && (doc->generation != state_->link.generation() || !state_->link.isConnected()))
                gone.push_back(doc);
        for (auto& doc : state_->lost)
            if (doc->reserved) gone.push_back(std::move(doc));
        state_->lost.clear();
    }
    std::vector<std::string> problems;
    for (const auto& doc : gone) {
        const platform::FileStamp reserved = *doc->reserved;
        doc->reserved.reset();
        // Only the empty workbook as it was reserved: anything else there is
        // someone's.
        if (platform::fileStamp(doc->path) != reserved || ::unlink(doc->path.c_str()) != 0) continue;
        problems.push_back(doc->path + " was removed: LibreOffice went away before anything was saved in it.");
    }
    return problems;
}

std::size_t OfficeBackend::sheetCount(const BookHandle& book) {
    return static_cast<std::size_t>(sheetsOf(docOf(book))->getCount());
}

SheetPtr OfficeBackend::sheetAt(const BookHandle& book, std::size_t index) {
    Doc& doc = docOf(book);
    Reference<css::sheet::XSpreadsheet> sheet(sheetsOf(doc)->getByIndex(static_cast<sal_Int32>(index)),
                                              UNO_QUERY_THROW);
    return handleOf(doc.shared_from_this(), sheet);
}

SheetPtr OfficeBackend::activeSheet(const BookHandle& book) {
    Doc& doc = docOf(book);
    return handleOf(doc.shared_from_this(), activeSheetOf(doc));
}

BookPtr OfficeBackend::bookOf(const SheetHandle& sheet) { return sheetOf(sheet).doc; }

bool OfficeBackend::isSameSheet(const SheetHandle& a, const SheetHandle& b) {
    return sheetOf(a).sheet == sheetOf(b).sheet;
}

std::optional<std::size_t> OfficeBackend::sheetIndex(const SheetHandle& sheet) {
    return static_cast<std::size_t>(sheetIndexOf(sheetOf(sheet).sheet));
}

std::u16string OfficeBackend::sheetName(const SheetHandle& sheet) {
    return toU16(Reference<container::XNamed>(sheetOf(sheet).sheet, UNO_QUERY_THROW)->getName());
}

void OfficeBackend::renameSheet(SheetHandle& sheet, std::u16string name) {
    state_->noteChange(*sheetOf(sheet).doc);
    Reference<container::XNamed>(sheetOf(sheet).sheet, UNO_QUERY_THROW)->setName(toOUString(name));
}

automation::Visibility OfficeBackend::visibility(const SheetHandle& sheet) {
    return isVisible(sheetOf(sheet).sheet) ? automation::Visibility::Visible : automation::Visibility::Hidden;
}

std::string OfficeBackend::setVisibility(SheetHandle& handle, automation::Visibility visibility) {
    DocSheet& s = sheetOf(handle);
    const bool show = visibility == automation::Visibility::Visible;
    if (show == isVisible(s.sheet)) return {};
    state_->noteChange(*s.doc);
    if (!show) {
        // The office would quietly leave the last visible sheet shown, and would not
        // say which sheet it makes active in a hidden one's place.
        auto neighbour = visibleNeighbour(sheetsOf(*s.doc), sheetIndexOf(s.sheet));
        if (!neighbour.is()) return "a workbook must keep at least one visible sheet";
        Reference<css::sheet::XSpreadsheetView> view(s.doc->model->getCurrentController(), UNO_QUERY);
        if (view.is() && sheetIndexOf(view->getActiveSheet()) == sheetIndexOf(s.sheet)) view->setActiveSheet(neighbour);
    }
    Reference<beans::XPropertySet>(s.sheet, UNO_QUERY_THROW)->setPropertyValue("IsVisible", Any(show));
    return {};
}

void OfficeBackend::activateSheet(const SheetPtr& sheet) {
    DocSheet& s = sheetOf(*sheet);
    Reference<css::sheet::XSpreadsheetView> view(s.doc->model->getCurrentController(), UNO_QUERY);
    if (view.is()) view->setActiveSheet(s.sheet);
}

SheetPtr OfficeBackend::addSheet(const BookPtr& book, std::size_t at) {
    Doc& doc = docOf(*book);
    state_->noteChange(doc);
    Reference<css::sheet::XSpreadsheets> sheets = doc.spreadsheet->getSheets();
    std::u16string name;
    for (int n = sheetsOf(doc)->getCount() + 1;; ++n) {
        name = u"Sheet" + toU16(OUString::number(n));
        if (!sheets->hasByName(toOUString(name))) break;
    }
    sheets->insertNewByName(toOUString(name), static_cast<sal_Int16>(at));
    return handleOf(docPtr(book),
                    Reference<css::sheet::XSpreadsheet>(sheets->getByName(toOUString(name)), UNO_QUERY_THROW));
}

Area OfficeBackend::usedArea(const SheetHandle& sheet) {
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& [known, area] : state_->usedAreas)
            if (known == sheetOf(sheet).sheet) return area;
    }
    const Area area = usedAreaOf(sheetOf(sheet).sheet);
    std::lock_guard lock(state_->mutex);
    state_->usedAreas.emplace_back(sheetOf(sheet).sheet, area);
    return area;
}

}  // namespace calc
