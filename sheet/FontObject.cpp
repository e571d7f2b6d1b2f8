// Font: Bold, set on every cell of the range (whole rows and columns as such) and
// read from its first cell.
#include "sheet/FontObject.h"

#include "sheet/AutomationObject.h"

using platform::Variant;

namespace sheet {
namespace {

class FontObject final : public AutomationObject<ObjectClass::Font> {
public:
    FontObject(std::shared_ptr<AppState> app, platform::ComPtr<IDispatch> range, std::shared_ptr<Sheet> sheet,
               Area area)
        : AutomationObject(std::move(app)), range_(std::move(range)), sheet_(std::move(sheet)), area_(area) {}

private:
    Variant dispatch(DISPID id, WORD flags, const Args& args) override {
        Sheet& s = *sheet_;
        const Area& area = area_;
        if (id == dispid::Bold && isKind(flags, Kind::Put)) {
            args.expect(1, 1);
            bool bold = args.boolean(0);
            AppState::checkWritable(s.book());
            checkFormatArea(area);
            Styles& styles = s.book().styles;
            s.restyle(area.top, area.left, area.bottom, area.right, area.isWholeRows(), area.isWholeColumns(),
                      [&](std::uint32_t old) { return styles.withBold(old, bold); });
            return {};
        }
        if (id == dispid::Bold && isKind(flags, Kind::Get)) {
            args.expect(0, 0);
            return Variant::boolean(s.book().styles.isBold(s.styleAt(area.top, area.left)));
        }
        if (id == dispid::Parent && isKind(flags, Kind::Get)) return Variant::dispatch(range_.get());
        failWith(DISP_E_MEMBERNOTFOUND);
    }

    platform::ComPtr<IDispatch> range_;
    std::shared_ptr<Sheet> sheet_;
    Area area_;
};

}  // namespace

platform::ComPtr<IDispatch> makeFontObject(const std::shared_ptr<AppState>& app, platform::ComPtr<IDispatch> range,
                                           const std::shared_ptr<Sheet>& sheet, Area area) {
    return platform::ComPtr<IDispatch>(platform::makeCom<FontObject>(app, std::move(range), sheet, area).get());
}

}  // namespace sheet
