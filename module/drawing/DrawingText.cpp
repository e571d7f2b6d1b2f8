#include "module/drawing/DrawingText.h"

#include "host/db/AcDbDatabase.h"

#include <cstdio>
#include <string_view>
#include <vector>

namespace tabro {
namespace {

// How many of the replaced characters a message names.
constexpr std::size_t kMostNamed = 5;

// The length of the UTF-8 character at text[i]; 1 for a byte that begins none.
std::size_t characterLength(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80                ? 1
                          : c >= 0xC2 && c < 0xE0 ? 2
                          : c >= 0xE0 && c < 0xF0 ? 3
                          : c >= 0xF0 && c < 0xF5 ? 4
                                                  : 0;
    if (n == 0 || i + n > text.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 1;
    return n;
}

// A character as a message shows it: a byte that is no UTF-8 by its value.
std::string shown(std::string_view character) {
    if (character.size() > 1 || static_cast<unsigned char>(character[0]) < 0x80) return std::string(character);
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "<%02X>", static_cast<unsigned>(static_cast<unsigned char>(character[0])));
    return buffer;
}

}  // namespace

TextFit fitAttributeText(const std::string& text, std::string* stored) {
    TextFit fit;
    const AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
    std::string held;
    const std::size_t bytes = db ? db->textInFile(text, &held) : 0;
    if (!db || (held == text && bytes <= AcDbDatabase::kMostTextBytes)) {
        if (stored) *stored = text;
        return fit;
    }
    // Character by character: the file's encoding is a code page or UTF-8, so a
    // text takes as many bytes as its characters do one by one, and a character
    // comes back alike wherever it stands.
    const std::string_view whole(text);
    const bool isTooLong = bytes > AcDbDatabase::kMostTextBytes;
    std::size_t used = 0, kept = 0, end = 0;
    std::vector<std::string> named;
    std::string piece;
    for (std::size_t i = 0; i < whole.size();) {
        const std::string_view character = whole.substr(i, characterLength(whole, i));
        const std::size_t size = db->textInFile(character, &piece);
        if (isTooLong && used + size > AcDbDatabase::kMostTextBytes) break;
        used += size;
        ++kept;
        i += character.size();
        end = i;
        if (piece == character) continue;
        fit.isReplaced = true;
        std::string name = shown(character);
        bool isNamed = false;
        for (const std::string& n : named) isNamed = isNamed || n == name;
        if (!isNamed && named.size() < kMostNamed) {
            fit.replaced += name;
            named.push_back(std::move(name));
        }
    }
    if (isTooLong) {
        fit.isCut = true;
        fit.keptCharacters = kept;
        if (stored) (void)db->textInFile(whole.substr(0, end), stored);
    } else if (stored) {
        *stored = std::move(held);
    }
    return fit;
}

}  // namespace tabro
