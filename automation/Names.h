// Sheet and workbook names as the application compares and allows them, whichever
// spreadsheet keeps them.
#pragma once

#include <string>
#include <string_view>

namespace automation {

// Sheet naming rules: 1 to 31 characters, none of : \ / ? * [ ], not starting or
// ending with an apostrophe, not "History". Returns what is wrong, empty when the
// name is fine. Uniqueness is the workbook's business (findSheet).
std::string sheetNameProblem(std::u16string_view name);
// Case-insensitive equality as the application compares sheet names (simple case
// folding of Latin, Greek and Cyrillic letters).
bool sameNameIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace automation
