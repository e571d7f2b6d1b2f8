// Worksheets: Count, Item by index (from 1) or by name, and Add, which puts new
// sheets before the active one unless told Before or After, up to the most sheets
// a workbook may have.
#include "sheet/WorksheetsObject.h"

#include "sheet/AutomationObject.h"
#include "sheet/WorkbookObject.h"
#include "sheet/WorksheetObject.h"
#include "sheet/xlsx/XlsxError.h"

#include <algorithm>
#include <string>

using platform::Variant;

namespace sheet {
namespace {

class WorksheetsObject final : public AutomationObject<ObjectClass::Worksheets> {
public:
    WorksheetsObject(std::shared_ptr<AppState> app, std::shared_ptr<Book> book)
        : AutomationObject(std::move(app)), book_(std::move(book)) {}

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        Book& book = *book_;
        auto& sheets = book.sheets();
        switch (id) {
        case dispid::Count:
            if (!isKind(flags, Kind::Get)) break;
            args.expect(0, 0);
            return Variant::i4(static_cast<LONG>(sheets.size()));
        case DISPID_VALUE:
        case dispid::Item: {
            if (!isKind(flags, Kind::Get)) break;
            args.expect(1, 1);
            if (args.at(0).vt() == VT_BSTR) {
                auto index = book.findSheet(args.at(0).bstrVal());
                if (!index) failWith(DISP_E_BADINDEX);
                return Variant::dispatch(makeWorksheetObject(app_, sheets[*index]).get());
            }
            std::int32_t index = args.integer(0);
            if (index < 1 || static_cast<std::size_t>(index) > sheets.size()) failWith(DISP_E_BADINDEX);
            return Variant::dispatch(makeWorksheetObject(app_, sheets[index - 1]).get());
        }
        case dispid::Add: {
            if (!isKind(flags, Kind::Method)) break;
            args.expect(0, 4);
            // Before, After, Count, Type; a sheet is added before the active one
            // unless a Before or After sheet says otherwise.
            std::size_t at = book.activeIndex();
            for (std::size_t i = 0; i < 2; ++i) {
                if (!args.isPresent(i)) continue;
                if (args.at(i).vt() != VT_DISPATCH) failWith(DISP_E_TYPEMISMATCH);
                auto target = sheetOf(args.at(i).pdispVal());
                auto it = std::find(sheets.begin(), sheets.end(), target);
                if (!target || it == sheets.end()) failWith(DISP_E_TYPEMISMATCH);
                at = static_cast<std::size_t>(it - sheets.begin()) + i;
            }
            std::int32_t count = args.isPresent(2) ? args.integer(2) : 1;
            if (count < 1 || count > 255) failWith(E_INVALIDARG);
            if (args.isPresent(3)) {
                // Only worksheets (xlWorksheet = -4167) exist here.
                if (args.integer(3) != -4167) applicationError("Only worksheets can be added to a workbook here.");
            }
            AppState::checkWritable(book);
            // A workbook of more sheets could not be saved to open again.
            if (sheets.size() + static_cast<std::size_t>(count) > xlsx::kMostSheets)
                applicationError("A workbook holds at most " + std::to_string(xlsx::kMostSheets) +
                                 " sheets; this one has " + std::to_string(sheets.size()) + ".");
            std::shared_ptr<Sheet> added;
            for (std::int32_t i = 0; i < count; ++i) added = book.insertSheet(at, book.nextSheetName());
            auto it = std::find(sheets.begin(), sheets.end(), added);
            book.setActiveIndex(static_cast<std::size_t>(it - sheets.begin()));
            return Variant::dispatch(makeWorksheetObject(app_, added).get());
        }
        case dispid::Parent:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(makeWorkbookObject(app_, book_).get());
        case dispid::Application:
            if (!isKind(flags, Kind::Get)) break;
            return Variant::dispatch(app_->application);
        default:
            break;
        }
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::shared_ptr<Book> book_;
};

}  // namespace

platform::ComPtr<IDispatch> makeWorksheetsObject(const std::shared_ptr<AppState>& app,
                                                 const std::shared_ptr<Book>& book) {
    return platform::ComPtr<IDispatch>(platform::makeCom<WorksheetsObject>(app, book).get());
}

}  // namespace sheet
