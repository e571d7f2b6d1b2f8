// A sheet's notes read and placed in one call each. The office's API reaches a
// note at a time (three round trips over the bridge for each), which for the
// ten thousand handle notes of an export costs seconds; a small Basic module run
// inside the office walks them there. The module lives in the application's Basic
// library container while this program is connected. Where the office will not
// run it (Basic removed, the library refused), the notes go one at a time.
#pragma once

#include "calc/Office.h"

#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/script/provider/XScript.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace calc {

class NoteScripts {
public:
    using Cell = std::pair<std::int32_t, std::int32_t>;  // (row, column) from 1

    // Every note of the sheet; none when the scripts cannot run in this office.
    std::optional<std::map<Cell, std::u16string>> read(OfficeLink& link,
                                                       const css::uno::Reference<css::sheet::XSpreadsheet>& sheet);
    // Places the notes; false when the scripts cannot run in this office (nothing
    // was placed then).
    bool place(OfficeLink& link, const css::uno::Reference<css::frame::XModel>& document,
               const css::uno::Reference<css::sheet::XSpreadsheet>& sheet,
               const std::vector<std::pair<Cell, std::u16string>>& notes);
    // Takes the module out of the office's library container (when the office is
    // still there).
    void remove(OfficeLink& link);

private:
    // The scripts of the current connection, installed on first use.
    bool ready(OfficeLink& link);
    css::uno::Any invoke(const css::uno::Reference<css::script::provider::XScript>& script,
                         const css::uno::Sequence<css::uno::Any>& arguments);

    std::uint64_t generation_ = 0;  // of the connection the scripts belong to
    bool isUnavailable_ = false;    // this connection's office refused them
    css::uno::Reference<css::script::provider::XScript> read_;
    css::uno::Reference<css::script::provider::XScript> place_;
};

}  // namespace calc
