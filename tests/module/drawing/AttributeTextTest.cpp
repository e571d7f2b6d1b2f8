// A cell's text as multi-line attribute contents: what the host reads back as the
// same text, whatever characters the cell holds.
#include "module/drawing/AttributeText.h"

#include "host/db/AcDbEntities.h"

#include <gtest/gtest.h>

namespace {

TEST(AttributeText, CellTextsBecomeContentsThatReadBackAsThemselves) {
    const struct {
        const char* cell;
        const char* contents;
    } cases[] = {
        {"plain", "plain"},
        {"First\nSecond", "First\\PSecond"},
        {"First\r\nSecond\rThird", "First\\PSecond\\PThird"},
        {"\n\nafter two", "\\P\\Pafter two"},
        {"C:\\dwg\\{draft}", "C:\\\\dwg\\\\\\{draft\\}"},
        {"\\P is no break", "\\\\P is no break"},
        {"Ünïcode ⌀ 50", "Ünïcode ⌀ 50"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cell);
        EXPECT_EQ(tabro::mtextContentsOf(c.cell), c.contents);
        // What the host reads of those contents is the cell again (its line ends
        // as line feeds): an unedited cell then reads as unedited.
        std::string cell = c.cell;
        for (std::size_t at; (at = cell.find("\r\n")) != std::string::npos;) cell.erase(at, 1);
        for (char& ch : cell)
            if (ch == '\r') ch = '\n';
        AcDbMText mtext(c.contents);
        AcutString read(mtext.text());
        EXPECT_EQ(std::string(read.get()), cell);
    }
}

}  // namespace
