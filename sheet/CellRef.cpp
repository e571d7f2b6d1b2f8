#include "sheet/CellRef.h"

#include <charconv>

namespace sheet {

std::optional<CellRef> parseCellRef(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '$') ++i;
    std::int32_t column = 0;
    std::size_t letters = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') break;
        if (++letters > 3) return std::nullopt;
        column = column * 26 + (c - 'A' + 1);
        ++i;
    }
    if (letters == 0 || column > kMaxColumns) return std::nullopt;
    if (i < text.size() && text[i] == '$') ++i;
    if (i >= text.size() || text[i] < '1' || text[i] > '9') return std::nullopt;
    std::int32_t row = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), row);
    if (ec != std::errc() || end != text.data() + text.size() || row < 1 || row > kMaxRows) return std::nullopt;
    return CellRef{row, column};
}

std::string columnName(std::int32_t column) {
    char buffer[4];
    int n = 0;
    while (column > 0 && n < 3) {
        int digit = (column - 1) % 26;
        buffer[n++] = static_cast<char>('A' + digit);
        column = (column - 1) / 26;
    }
    return std::string(std::make_reverse_iterator(buffer + n), std::make_reverse_iterator(buffer));
}

void appendCellRef(std::string& out, std::int32_t row, std::int32_t column) {
    // Letters filled from the right, then the digits: one append per reference,
    // which a save makes for every cell.
    char buffer[16];
    char* letters = buffer + 3;
    for (int n = 0; column > 0 && n < 3; ++n) {
        *--letters = static_cast<char>('A' + (column - 1) % 26);
        column = (column - 1) / 26;
    }
    auto [end, ec] = std::to_chars(buffer + 3, buffer + sizeof buffer, row);
    (void)ec;
    out.append(letters, end);
}

std::string cellRefText(std::int32_t row, std::int32_t column) {
    std::string out;
    appendCellRef(out, row, column);
    return out;
}

}  // namespace sheet
