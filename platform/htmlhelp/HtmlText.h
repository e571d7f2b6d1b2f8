// HTML pages as readable text for a terminal: headings underlined, paragraphs
// wrapped, list items marked, table cells side by side, entities decoded. Tolerant
// of what pages hold (unknown tags are dropped, unclosed ones end with the page) and
// bounded: it only ever walks the page once.
#pragma once

#include <string>
#include <string_view>

namespace hhctrl {

// The page's text wrapped at `width` columns (at least 20), lines ended by "\n".
// Scripts, styles and the head are left out; a character reference names its
// character in UTF-8, and one that names no character stays as written.
std::string htmlToText(std::string_view html, int width);

}  // namespace hhctrl
