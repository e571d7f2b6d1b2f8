// Text values of one drawing between the file's encoding (its $DWGCODEPAGE up to
// AC1018, UTF-8 from AC1021) and the module's multibyte text (UTF-8 here).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace dxf {

// The iconv name of a $DWGCODEPAGE value ("ANSI_936" -> "CP936"); "" when unknown.
std::string iconvNameOf(std::string_view dwgCodePage);

class TextCodec {
public:
    // `acadVer` decides UTF-8 (AC1021 and later); otherwise `dwgCodePage` names the code
    // page, absent or unknown meaning ANSI_1252 as the host assumes.
    TextCodec(std::string_view acadVer, std::string_view dwgCodePage);
    ~TextCodec();
    TextCodec(const TextCodec&) = delete;
    TextCodec& operator=(const TextCodec&) = delete;

    // Whether the code page gives every ASCII character its own byte both ways, as
    // DXF needs: group codes, line ends and names are ASCII whatever the code page.
    // An EBCDIC page (ANSI_037) does not, and would let a text be written as bytes
    // holding a line end. UTF-8 does.
    bool keepsAscii() const noexcept { return keepsAscii_; }
    // False when the drawing names a code page this machine cannot convert: its texts
    // are then read as ANSI_1252, and written with every non-ASCII character as a
    // \U+XXXX escape, which means the same character in any code page.
    bool knowsCodePage() const noexcept { return knowsCodePage_; }

    // File bytes to module text; \U+XXXX escapes become their characters (a pair of
    // surrogates' escapes, one character beyond the BMP). Bytes the
    // code page does not define are taken as the Latin-1 character of that value.
    std::string decode(std::string_view raw) const;
    // Whether decode gives `raw` back as it is, whatever the code page: ASCII without
    // a backslash (which could begin an escape).
    static bool decodesToItself(std::string_view raw) noexcept;
    // Module text to file bytes; characters the code page lacks become \U+XXXX, those
    // beyond the BMP the escapes of their two surrogates.
    // Invalid UTF-8 input bytes are written as \U+FFFD.
    std::string encode(std::string_view text) const;

private:
    struct Converters;
    bool utf8_ = false;  // no converters then
    bool keepsAscii_ = true;
    bool knowsCodePage_ = true;
    std::unique_ptr<Converters> conv_;
};

}  // namespace dxf
