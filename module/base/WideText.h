// UTF-16 <-> multibyte text of the system code page: the spreadsheet's text and
// the drawing's.
#pragma once

#include <string>
#include <string_view>

namespace tabro {

// The whole string. A conversion that fails throws _com_error with the system error
// folded into a result code; running out of memory throws E_OUTOFMEMORY.
std::string toMultibyte(std::u16string_view text);
std::u16string toWide(std::string_view text);

}  // namespace tabro
