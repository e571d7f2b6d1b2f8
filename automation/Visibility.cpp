#include "automation/Visibility.h"

#include "automation/DispatchSupport.h"
#include "platform/Variant.h"

#include <span>
#include <string>

namespace automation {

LONG automationValue(Visibility visibility) {
    switch (visibility) {
    case Visibility::Hidden:
        return kSheetHidden;
    case Visibility::VeryHidden:
        return kSheetVeryHidden;
    case Visibility::Visible:
        break;
    }
    return kSheetVisible;
}

Visibility visibilityArgument(const platform::Variant& value) {
    // Read as an index is: a Boolean becomes -1 or 0, a whole double its number.
    const std::int32_t n = Args(std::span<const platform::Variant>(&value, 1)).integer(0);
    switch (n) {
    case kSheetVisible:
        return Visibility::Visible;
    case kSheetHidden:
        return Visibility::Hidden;
    case kSheetVeryHidden:
        return Visibility::VeryHidden;
    default:
        applicationError("A sheet's Visible is xlSheetVisible (-1), xlSheetHidden (0) or xlSheetVeryHidden (2), not " +
                         std::to_string(n) + ".");
    }
}

}  // namespace automation
