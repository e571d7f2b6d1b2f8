// What the working drawing makes of a text written into an attribute: a text longer
// than its file carries is cut, and a character its encoding cannot carry is
// replaced. Import asks before it writes a cell's text, so that such a cell is named
// rather than changed silently.
#pragma once

#include <cstddef>
#include <string>

namespace tabro {

struct TextFit {
    // The drawing keeps only the first keptCharacters characters (Unicode
    // characters, a byte that is no UTF-8 counting as one).
    bool isCut = false;
    std::size_t keptCharacters = 0;
    // Some characters come back as U+FFFD; `replaced` holds the first few of them,
    // as UTF-8 (a byte that is no UTF-8 as <XX>), each once.
    bool isReplaced = false;
    std::string replaced;
};

// The fit of `text` (module multibyte text, as an import row holds it) in the working
// drawing, by the drawing's own rules: its version and code page decide what its
// file can carry, and the host's longest line how long a text may be. `stored`, when
// given, receives the text as the drawing will hold it once saved. Without a working
// drawing the text is taken to fit.
TextFit fitAttributeText(const std::string& text, std::string* stored = nullptr);

}  // namespace tabro
