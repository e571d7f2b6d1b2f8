// What the live link tells the user once while it is connected rather than at every
// edit it cannot apply: each would otherwise fill the command line at every cell
// typed. Connecting again starts afresh, so that a user coming back to the link
// hears it again. Main thread only.
#pragma once

#include <set>
#include <string>

namespace tabro {

struct LinkNotices {
    // Workbooks named as exported from another drawing, by workbook name.
    std::set<std::u16string> otherDrawingBooks;
    // Property edits were said to be left alone, as the import applies attributes only.
    bool saidPropertiesIgnored = false;
};

LinkNotices& linkNotices();
// Everything said is forgotten: the link was connected (again).
void forgetLinkNotices();

}  // namespace tabro
