// Comment: Text (read, replaced, or changed from a start position), Author and
// Delete, on the comment of one cell.
#include "sheet/CommentObject.h"

#include "sheet/AutomationObject.h"
#include "sheet/CellRef.h"
#include "sheet/RangeObject.h"
#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/Package.h"

#include <algorithm>

using platform::Variant;

namespace sheet {
namespace {

class CommentObject final : public AutomationObject<ObjectClass::Comment> {
public:
    CommentObject(std::shared_ptr<AppState> app, std::shared_ptr<Sheet> sheet, std::int32_t row, std::int32_t column)
        : AutomationObject(std::move(app)), sheet_(std::move(sheet)), row_(row), column_(column) {}

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        const Comment* c = sheet_->comment(row_, column_);
        if (!c)
            applicationError("The comment of cell " + cellRefText(row_, column_) + " of sheet " +
                             quoted(sheet_->name()) + " has been deleted.");
        if (id == dispid::Text && isKind(flags, Kind::Method)) {
            args.expect(0, 3);
            if (args.isPresent(0)) {
                std::u16string text = args.text(0);
                std::u16string updated = text;
                if (args.isPresent(1)) {
                    // Start counts from 1; overwrite replaces from there, else inserts.
                    std::int32_t start = args.integer(1);
                    if (start < 1) failWith(E_INVALIDARG);
                    bool overwrite = args.isPresent(2) && args.boolean(2);
                    std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(start - 1), c->text.size());
                    updated = c->text.substr(0, at) + text + (overwrite ? std::u16string() : c->text.substr(at));
                }
                checkCommentsWritable(*sheet_);
                Comment changed = *c;
                changed.text = std::move(updated);
                sheet_->setComment(row_, column_, std::move(changed));
                c = sheet_->comment(row_, column_);
            }
            return Variant::bstr(c->text);
        }
        if (id == dispid::Delete && isKind(flags, Kind::Method)) {
            args.expect(0, 0);
            checkCommentsWritable(*sheet_);
            sheet_->removeComment(row_, column_);
            return {};
        }
        if (id == dispid::Author && isKind(flags, Kind::Get)) return Variant::bstr(c->author);
        if (id == dispid::Parent && isKind(flags, Kind::Get))
            return Variant::dispatch(makeRangeObject(app_, sheet_, Area{row_, column_, row_, column_}).get());
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    std::shared_ptr<Sheet> sheet_;
    std::int32_t row_, column_;
};

}  // namespace

platform::ComPtr<IDispatch> makeCommentObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Sheet>& sheet,
                                              std::int32_t row, std::int32_t column) {
    return platform::ComPtr<IDispatch>(platform::makeCom<CommentObject>(app, sheet, row, column).get());
}

void checkCommentsWritable(const Sheet& sheet) {
    AppState::checkWritable(sheet.book());
    if (sheet.carry) xlsx::checkCommentDrawing(sheet.book(), *sheet.carry);
    if (sheet.carry && !sheet.carry->commentsLockedReason.empty())
        applicationError("The comments of sheet " + quoted(sheet.name()) +
                         " cannot be changed: " + sheet.carry->commentsLockedReason + ", which would be lost.");
}

}  // namespace sheet
