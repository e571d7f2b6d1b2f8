// Application, Workbooks, Workbook and Worksheets: the active workbook and sheet,
// the workbooks by index or name, new workbooks and sheets, and the application's
// own settings (Visible, Interactive, UserName).
#include "automation/Names.h"
#include "automation/Objects.h"
#include "automation/Utf.h"
#include "platform/ConnectionPoint.h"

#include <string>

using platform::ComPtr;
using platform::Variant;

namespace automation {
namespace {

Variant object(const ComPtr<IDispatch>& p) { return Variant::dispatch(p.get()); }

class ApplicationObject final : public FrontObject<ObjectClass::Application, IConnectionPointContainer> {
public:
    explicit ApplicationObject(std::shared_ptr<Front> front) : FrontObject(std::move(front)) {}
    ~ApplicationObject() override {
        std::lock_guard lock(FrontAccess::mutex(*front_));
        if (FrontAccess::application(*front_) == this) FrontAccess::application(*front_) = nullptr;
    }

    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        return FrontAccess::points(*front_).find(riid, point);
    }

private:
    bool looksUpWorkbooks(DISPID id) const override {
        return id == dispid::ActiveWorkbook || id == dispid::ActiveSheet || id == dispid::Workbooks ||
               id == dispid::Worksheets;
    }
    bool isOfOneWorkbook() const override { return false; }

    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        Front& front = *front_;
        switch (id) {
        case dispid::ActiveWorkbook: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            BookPtr book = backend().activeBook();
            return object(book ? makeWorkbookObject(front_, book) : nullptr);
        }
        case dispid::Workbooks:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return object(makeWorkbooksObject(front_));
        case dispid::ActiveSheet: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            BookPtr book = backend().activeBook();
            SheetPtr sheet = book ? backend().activeSheet(*book) : nullptr;
            return object(sheet ? makeWorksheetObject(front_, sheet) : nullptr);
        }
        case dispid::Worksheets: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            BookPtr book = backend().activeBook();
            if (!book) applicationError("There is no active workbook.");
            return object(makeWorksheetsObject(front_, book));
        }
        case dispid::Visible:
        case dispid::Interactive: {
            std::lock_guard lock(FrontAccess::mutex(front));
            bool& flag = id == dispid::Visible ? FrontAccess::isVisible(front) : FrontAccess::isInteractive(front);
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                flag = args.boolean(0);
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::boolean(flag);
        }
        case dispid::UserName: {
            std::lock_guard lock(FrontAccess::mutex(front));
            if (isKind(flags, Kind::Put)) {
                args.expect(1, 1);
                FrontAccess::userName(front) = args.text(0);
                return {};
            }
            if (!isKind(flags, Kind::Get)) break;
            return Variant::bstr(FrontAccess::userName(front));
        }
        case dispid::Name:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(backend().applicationName());
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(this);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }
};

class WorkbooksObject final : public FrontObject<ObjectClass::Workbooks> {
public:
    explicit WorkbooksObject(std::shared_ptr<Front> front) : FrontObject(std::move(front)) {}

private:
    bool looksUpWorkbooks(DISPID id) const override {
        return id == dispid::Item || id == DISPID_VALUE || id == dispid::Count;
    }
    bool isOfOneWorkbook() const override { return false; }

    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        switch (id) {
        case dispid::Count:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(static_cast<LONG>(backend().books().size()));
        case DISPID_VALUE:
        case dispid::Item: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 1);
            const std::vector<BookPtr> books = backend().books();
            if (args.at(0).vt() == VT_BSTR) {
                for (const BookPtr& b : books)
                    if (sameNameIgnoringCase(backend().bookName(*b), args.at(0).bstrVal()))
                        return object(makeWorkbookObject(front_, b));
                failWith(DISP_E_BADINDEX);
            }
            std::int32_t index = args.integer(0);
            if (index < 1 || static_cast<std::size_t>(index) > books.size()) failWith(DISP_E_BADINDEX);
            return object(makeWorkbookObject(front_, books[index - 1]));
        }
        case dispid::Add:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 1);
            if (args.isPresent(0)) applicationError("Workbooks are added here without a template.");
            return object(makeWorkbookObject(front_, addNumberedBook(*front_)));
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(application());
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }
};

class WorkbookObject final : public FrontObject<ObjectClass::Workbook> {
public:
    WorkbookObject(std::shared_ptr<Front> front, BookPtr book)
        : FrontObject(std::move(front)), book_(std::move(book)) {}

private:
    // The workbook's own dual interface, which event handlers ask a sheet's parent
    // for; its members are this object's.
    void* queryExtra(REFIID riid) override {
        return riid == kWorkbookInterfaceIid ? static_cast<IDispatch*>(this) : nullptr;
    }
    bool looksUpWorkbooks(DISPID id) const override {
        return id == dispid::Worksheets || id == dispid::Sheets || id == dispid::ActiveSheet;
    }

    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        BookHandle& book = *book_;
        switch (id) {
        case dispid::Worksheets:
        case dispid::Sheets:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            backend().checkLive(book);
            return object(makeWorksheetsObject(front_, book_));
        case dispid::ActiveSheet: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            backend().checkLive(book);
            SheetPtr sheet = backend().activeSheet(book);
            return object(sheet ? makeWorksheetObject(front_, sheet) : nullptr);
        }
        case dispid::Name:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::bstr(backend().bookName(book));
        case dispid::FullName: {
            if (!isKind(flags, Kind::Get)) break;
            const std::string path = backend().bookPath(book);
            return Variant::bstr(path.empty() ? backend().bookName(book) : utf8ToUtf16(path));
        }
        case dispid::ReadOnly:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::boolean(!backend().readOnlyReason(book).empty() || backend().bookPath(book).empty());
        case dispid::Activate:
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            backend().checkLive(book);
            backend().activateBook(book_);
            return {};
        case dispid::Save: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 0);
            backend().checkLive(book);
            if (backend().bookPath(book).empty())
                applicationError("The workbook " + quoted(backend().bookName(book)) + " has no .xlsx file to save to.");
            checkWritable(backend(), book);
            SaveOutcome saved = saveWorkbook(backend(), book);
            if (!saved.problem.empty()) applicationError(saved.problem);
            return {};
        }
        case dispid::Parent:
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(application());
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    BookPtr book_;
};

// xlWorksheet, the only kind of sheet there is here.
constexpr std::int32_t kWorksheetType = -4167;

class WorksheetsObject final : public FrontObject<ObjectClass::Worksheets> {
public:
    WorksheetsObject(std::shared_ptr<Front> front, BookPtr book)
        : FrontObject(std::move(front)), book_(std::move(book)) {}

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        BookHandle& book = *book_;
        backend().checkLive(book);
        switch (id) {
        case dispid::Count:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(static_cast<LONG>(backend().sheetCount(book)));
        case DISPID_VALUE:
        case dispid::Item: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 1);
            const std::size_t count = backend().sheetCount(book);
            if (args.at(0).vt() == VT_BSTR) {
                for (std::size_t i = 0; i < count; ++i) {
                    SheetPtr sheet = backend().sheetAt(book, i);
                    if (sameNameIgnoringCase(backend().sheetName(*sheet), args.at(0).bstrVal()))
                        return object(makeWorksheetObject(front_, sheet));
                }
                failWith(DISP_E_BADINDEX);
            }
            std::int32_t index = args.integer(0);
            if (index < 1 || static_cast<std::size_t>(index) > count) failWith(DISP_E_BADINDEX);
            return object(makeWorksheetObject(front_, backend().sheetAt(book, static_cast<std::size_t>(index - 1))));
        }
        case dispid::Add:
            if (!isKind(flags, Kind::Method)) break;
            return add(args);
        case dispid::Parent:
            if (!isKind(flags, Kind::Get)) break;
            return object(makeWorkbookObject(front_, book_));
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(application());
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    // Add(Before, After, Count, Type): sheets go before the active one unless a
    // Before or After sheet says otherwise, up to the most sheets a workbook may
    // have; the last one added becomes active.
    Variant add(const Args& args) {
        BookHandle& book = *book_;
        args.expect(0, 4);
        SheetPtr active = backend().activeSheet(book);
        std::size_t at = active ? backend().sheetIndex(*active).value_or(0) : 0;
        for (std::size_t i = 0; i < 2; ++i) {
            if (!args.isPresent(i)) continue;
            if (args.at(i).vt() != VT_DISPATCH) failWith(DISP_E_TYPEMISMATCH);
            SheetPtr target = sheetOf(args.at(i).pdispVal());
            std::optional<std::size_t> index;
            if (target && backend().bookOf(*target).get() == book_.get()) index = backend().sheetIndex(*target);
            if (!index) failWith(DISP_E_TYPEMISMATCH);
            at = *index + i;
        }
        std::int32_t count = args.isPresent(2) ? args.integer(2) : 1;
        if (count < 1 || count > 255) failWith(E_INVALIDARG);
        if (args.isPresent(3) && args.integer(3) != kWorksheetType)
            applicationError("Only worksheets can be added to a workbook here.");
        checkWritable(backend(), book);
        // A workbook of more sheets could not be saved to open again.
        const std::size_t present = backend().sheetCount(book);
        if (present + static_cast<std::size_t>(count) > backend().mostSheets())
            applicationError("A workbook holds at most " + std::to_string(backend().mostSheets()) +
                             " sheets; this one has " + std::to_string(present) + ".");
        SheetPtr added;
        for (std::int32_t i = 0; i < count; ++i) added = backend().addSheet(book_, at);
        backend().activateSheet(added);
        return object(makeWorksheetObject(front_, added));
    }

    BookPtr book_;
};

}  // namespace

ComPtr<IDispatch> makeApplicationObject(const std::shared_ptr<Front>& front) {
    auto application = platform::makeCom<ApplicationObject>(front);
    return ComPtr<IDispatch>(static_cast<IDispatch*>(application.get()));
}
ComPtr<IDispatch> makeWorkbooksObject(const std::shared_ptr<Front>& front) {
    return ComPtr<IDispatch>(platform::makeCom<WorkbooksObject>(front).get());
}
ComPtr<IDispatch> makeWorkbookObject(const std::shared_ptr<Front>& front, const BookPtr& book) {
    return ComPtr<IDispatch>(platform::makeCom<WorkbookObject>(front, book).get());
}
ComPtr<IDispatch> makeWorksheetsObject(const std::shared_ptr<Front>& front, const BookPtr& book) {
    return ComPtr<IDispatch>(platform::makeCom<WorksheetsObject>(front, book).get());
}

}  // namespace automation
