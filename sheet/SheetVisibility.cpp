#include "sheet/SheetVisibility.h"

namespace sheet {

std::string_view stateAttribute(Visibility visibility) {
    switch (visibility) {
    case Visibility::Hidden:
        return "hidden";
    case Visibility::VeryHidden:
        return "veryHidden";
    case Visibility::Visible:
        break;
    }
    return "visible";
}

std::optional<Visibility> visibilityOfState(std::string_view state) {
    if (state == "visible") return Visibility::Visible;
    if (state == "hidden") return Visibility::Hidden;
    if (state == "veryHidden") return Visibility::VeryHidden;
    return std::nullopt;
}

}  // namespace sheet
