// Structure-aware libFuzzer target for workbooks: the first input byte picks a real
// workbook (the test fixtures, and one our own writer makes) and one of its parts,
// the rest of the input takes that part's place, and the entries are zipped again
// as the reader expects them. The package then reads or is refused with XlsxError;
// one that reads (and may be changed) is saved by our writer, with its sheets as
// read or rewritten from the cells, and the saved file reads back with the same
// sheets, cells (kind, value, formula) and comments.
#include "sheet/Book.h"
#include "sheet/xlsx/Package.h"
#include "sheet/xlsx/Zip.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifndef TABLORA_FIXTURES_DIR
#error "TABLORA_FIXTURES_DIR names the folder of the test fixtures"
#endif

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

sheet::xlsx::ReadLimits limits() {
    sheet::xlsx::ReadLimits l;
    l.maxFileBytes = 4 << 20;
    l.maxEntryBytes = 16 << 20;
    l.maxTotalBytes = 64 << 20;
    l.maxEntries = 512;
    l.maxSheets = 64;
    l.maxBookMemoryBytes = 256 << 20;
    return l;
}

Entries entriesOf(const std::string& bytes) {
    sheet::xlsx::ZipReader zip(bytes, sheet::xlsx::ReadLimits{});
    Entries out;
    for (const std::string& name : zip.names()) out.emplace_back(name, zip.read(name));
    return out;
}

// A workbook of our own writer's making: numbers, texts, Booleans, errors and
// comments on two sheets, so that the parts a fixture lacks have a shape to start from.
std::string ownWorkbook() {
    sheet::Book book(u"own.xlsx");
    auto first = book.insertSheet(0, u"Blocks");
    first->setText(1, 1, u"Block");
    first->setText(1, 2, u"TAG & <x>");
    first->setNumber(2, 1, 12.5);
    first->setNumber(2, 2, -1e-7);
    first->setText(2, 3, u"\u00dcn\u00efc\u00f6d\u00e9 \u2713\ttab");
    first->setBoolean(3, 1, true);
    first->setError(3, 2, 2007);
    first->setComment(2, 1, sheet::Comment{u"1F3", u"tabro"});
    first->setComment(1, 2, sheet::Comment{u"line\nbreak", u""});
    auto second = book.insertSheet(1, u"Second sheet");
    second->setNumber(100, 30, 42);
    second->setText(5, 5, u"_x000D_ literal");
    return sheet::xlsx::writePackage(book);
}

const std::vector<Entries>& bases() {
    static const std::vector<Entries> all = [] {
        std::vector<Entries> out;
        for (const auto& entry : std::filesystem::directory_iterator(std::string(TABLORA_FIXTURES_DIR) + "/xlsx")) {
            if (entry.path().extension() != ".xlsx") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            out.push_back(entriesOf(bytes.str()));
        }
        out.push_back(entriesOf(ownWorkbook()));
        return out;
    }();
    return all;
}

std::string cellText(const sheet::Book& book, const sheet::Cell& cell) {
    std::string out;
    out += static_cast<char>('0' + static_cast<int>(cell.kind));
    out += ':';
    switch (cell.kind) {
    case sheet::CellKind::Number:
    case sheet::CellKind::Boolean: {
        char bits[sizeof(double)];
        std::memcpy(bits, &cell.number, sizeof bits);
        out.append(bits, sizeof bits);
        break;
    }
    case sheet::CellKind::Text: {
        std::u16string_view t = book.strings.text(cell.text);
        for (char16_t c : t) {
            out += static_cast<char>(c & 0xFF);
            out += static_cast<char>(c >> 8);
        }
        break;
    }
    case sheet::CellKind::Error:
        out += std::to_string(cell.error);
        break;
    case sheet::CellKind::Empty:
        break;
    }
    return out;
}

// Everything the comparison looks at, as one text per sheet.
std::vector<std::string> describe(const sheet::Book& book) {
    std::vector<std::string> out;
    for (const auto& s : book.sheets()) {
        std::ostringstream d;
        for (char16_t c : s->name()) d << static_cast<unsigned>(c) << ',';
        d << '\n';
        for (const auto& row : s->rows())
            for (const sheet::Cell& cell : row.cells) {
                if (cell.kind == sheet::CellKind::Empty) continue;  // a format alone
                d << row.row << '/' << cell.column << '=' << cellText(book, cell);
                if (const sheet::Formula* f = s->formula(row.row, cell.column)) d << " f" << f->text;
                d << '\n';
            }
        std::vector<std::pair<std::uint64_t, const sheet::Comment*>> comments;
        for (const auto& [key, comment] : s->comments()) comments.emplace_back(key, &comment);
        std::sort(comments.begin(), comments.end());
        for (const auto& [key, comment] : comments) {
            d << "c" << key << ':';
            for (char16_t c : comment->text) d << static_cast<unsigned>(c) << ',';
            d << '|';
            for (char16_t c : comment->author) d << static_cast<unsigned>(c) << ',';
            d << '\n';
        }
        out.push_back(d.str());
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::vector<Entries>& all = bases();
    std::size_t parts = 0;
    for (const Entries& e : all) parts += e.size();
    // Bit 7 asks for every sheet to be written from its cells instead of as read.
    const bool rewrite = data[0] & 0x80;
    std::size_t pick = (data[0] & 0x7F) % parts;
    std::size_t base = 0;
    while (pick >= all[base].size()) pick -= all[base++].size();

    sheet::xlsx::ZipWriter zip;
    for (std::size_t i = 0; i < all[base].size(); ++i) {
        const auto& [name, content] = all[base][i];
        zip.add(name, i == pick ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1) : content);
    }
    const std::string package = zip.finish();

    std::unique_ptr<sheet::Book> book;
    try {
        book = sheet::xlsx::readPackage(package, u"fuzz.xlsx", limits());
    } catch (const sheet::xlsx::XlsxError&) {
        return 0;
    }
    if (!book->readOnlyReason.empty()) return 0;
    const std::vector<std::string> read = describe(*book);
    if (rewrite)
        for (const auto& s : book->sheets()) s->markChanged();
    std::string saved;
    try {
        saved = sheet::xlsx::writePackage(*book, limits());
    } catch (const sheet::xlsx::XlsxError&) {
        return 0;  // what the limits would refuse to read is never written
    }
    std::unique_ptr<sheet::Book> again;
    try {
        again = sheet::xlsx::readPackage(saved, u"fuzz.xlsx", limits());
    } catch (const sheet::xlsx::XlsxError&) {
        __builtin_trap();  // what we write must read
    }
    if (describe(*again) != read) __builtin_trap();
    return 0;
}
