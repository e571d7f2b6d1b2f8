// libFuzzer target for MText contents, which come from a drawing's multi-line texts:
// any bytes read as a text no longer than they are, and split into the pieces a
// file holds them in (in a UTF-8 drawing and in one of a code page), each at most
// 250 bytes, together the bytes of the whole.
#include "host/db/MTextContents.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view contents(reinterpret_cast<const char*>(data), size);
    if (hostdb::mtextPlainText(contents).size() > contents.size()) __builtin_trap();
    static const dxf::TextCodec utf8("AC1032", ""), codePage("AC1015", "ANSI_1252");
    for (const dxf::TextCodec* codec : {&utf8, &codePage}) {
        std::string joined;
        for (const std::string& piece : hostdb::mtextPieces(*codec, contents)) {
            if (piece.size() > hostdb::kMTextPieceBytes) __builtin_trap();
            joined += piece;
        }
        if (joined != codec->encode(contents)) __builtin_trap();
    }
    return 0;
}
