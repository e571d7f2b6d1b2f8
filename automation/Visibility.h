// A worksheet's visibility: a tab the user sees, hidden (the user can show it again
// from the spreadsheet program's menus) or very hidden (only automation can show it
// again), and how automation spells the three states.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>

namespace platform {
class Variant;
}

namespace automation {

enum class Visibility : std::uint8_t { Visible, Hidden, VeryHidden };

// Worksheet.Visible as the application answers it (xlSheetVisible, xlSheetHidden,
// xlSheetVeryHidden).
constexpr LONG kSheetVisible = -1;
constexpr LONG kSheetHidden = 0;
constexpr LONG kSheetVeryHidden = 2;

LONG automationValue(Visibility visibility);
// The visibility a put of Worksheet.Visible asks for: one of the three values above,
// as any integer type, or a Boolean (true is xlSheetVisible, false xlSheetHidden, as
// automation converts them). Another number raises the application's error, a value
// that is no number DISP_E_TYPEMISMATCH.
Visibility visibilityArgument(const platform::Variant& value);

}  // namespace automation
