// The Comment object of one cell: its text, author and deletion.
#pragma once

#include "platform/Dispatch.h"
#include "sheet/AppState.h"

#include <cstdint>
#include <memory>

namespace sheet {

// The comment of the cell; once deleted, every member raises the application error.
platform::ComPtr<IDispatch> makeCommentObject(const std::shared_ptr<AppState>& app, const std::shared_ptr<Sheet>& sheet,
                                              std::int32_t row, std::int32_t column);

// Throws the application error when the sheet's comments cannot change without
// losing content the workbook file holds. Lock held.
void checkCommentsWritable(const Sheet& sheet);

}  // namespace sheet
