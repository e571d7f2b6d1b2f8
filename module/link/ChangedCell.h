// One queued cell edit of the live link: where it happened, not what was typed.
// The cell is read again when the record is handled, so a later edit of the same
// cell is never undone by an older queued value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tabro {

struct ChangedCell {
    // Counting from 1; for a range of several cells, its top-left cell.
    std::int32_t column = 0;
    std::int32_t row = 0;
    // Shared: a burst of edits on one sheet queues many records with the same two
    // names, and the link thread should not copy them for each.
    std::shared_ptr<const std::u16string> sheetName;
    std::shared_ptr<const std::u16string> workbookName;
};

}  // namespace tabro
