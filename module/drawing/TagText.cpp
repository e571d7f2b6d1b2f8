// Tag comparison with an ASCII fast path: a row of a long import compares every
// column's tag with every attribute's, so decoding each time would dominate.
#include "module/drawing/TagText.h"

#include "platform/Text.h"

namespace tabro {

bool sameTagText(const char* a, const char* b) {
    const auto* p = reinterpret_cast<const unsigned char*>(a);
    const auto* q = reinterpret_cast<const unsigned char*>(b);
    for (;; ++p, ++q) {
        unsigned char c = *p, d = *q;
        if ((c | d) & 0x80) break;  // a multibyte character: let the locale decide
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        if (d >= 'A' && d <= 'Z') d += 'a' - 'A';
        if (c != d) return false;
        if (c == 0) return true;
    }
    return _mbsicmp(p, q) == 0;
}

}  // namespace tabro
