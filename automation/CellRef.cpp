#include "automation/CellRef.h"

#include <charconv>

namespace automation {

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
    // Digits to the end, read here: a workbook's reader asks this of every cell.
    std::int32_t row = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        row = row * 10 + (c - '0');
        if (row > kMaxRows) return std::nullopt;
    }
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

char* putCellRef(char* out, std::int32_t row, std::int32_t column) {
    char letters[3];
    int n = 0;
    for (; column > 0 && n < 3; ++n) {
        letters[n] = static_cast<char>('A' + (column - 1) % 26);
        column = (column - 1) / 26;
    }
    while (n > 0) *out++ = letters[--n];
    return std::to_chars(out, out + 10, row).ptr;
}

void appendCellRef(std::string& out, std::int32_t row, std::int32_t column) {
    char buffer[kMaxCellRefChars];
    out.append(buffer, putCellRef(buffer, row, column));
}

std::string cellRefText(std::int32_t row, std::int32_t column) {
    std::string out;
    appendCellRef(out, row, column);
    return out;
}

}  // namespace automation
