// The contents of multi-line text (an MTEXT, the text of a multi-line attribute):
// what a reader sees of them, and the pieces a DXF file holds them in.
#pragma once

#include "host/dxf/DxfCodePage.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hostdb {

// The text a reader sees of MText contents: each paragraph break (\P) and column
// break (\N) a line feed, \~ a no-break space, \\ \{ \} the character, grouping
// braces gone, format codes gone (those with an argument end at its ';': \A \C \c
// \f \F \H \p \Q \T \W; the toggles \L \l \O \o \K \k and \X have none), a stacked
// fraction (\Sa^b; \Sa/b; \Sa#b;) as "a/b", %%d %%p %%c %%% as ° ± Ø %, the file's
// caret notation of a line feed, tab and carriage return (^J ^I ^M; "^ " for '^')
// as what a reader sees of them, and \U+XXXX and \M+NXXXX as the characters they
// name. A backslash that begins no
// code (an unknown letter, a code whose ';' never comes, one at the end) is kept
// with what follows it as text. Linear in the length, whatever the input.
std::string mtextPlainText(std::string_view contents);

// The most bytes of MText contents one tag holds in a DXF file.
constexpr std::size_t kMTextPieceBytes = 250;

// Contents as the file's bytes (`codec`), in the pieces DXF holds them in: each at
// most kMTextPieceBytes, the last for group 1 and those before for group 3; one
// piece (maybe empty) when they fit. No piece ends inside a character, an escape
// (\U+XXXX, \M+NXXXX, a pair of surrogates' escapes) or a backslash or caret with
// the character it applies to, so that a reader that takes each tag apart still
// reads what was written.
std::vector<std::string> mtextPieces(const dxf::TextCodec& codec, std::string_view contents);

}  // namespace hostdb
