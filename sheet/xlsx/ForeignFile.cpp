#include "sheet/xlsx/ForeignFile.h"

#include "platform/Text.h"

#include <algorithm>
#include <cctype>

namespace sheet::xlsx {
namespace {

// Enough of a file to tell text from binary, and to find an XML document's root
// element after its declaration and comments.
constexpr std::size_t kSampleBytes = 64 << 10;

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// Text as a spreadsheet program saves it: no control characters but tab, line
// feed, carriage return and form feed (and the end-of-file mark some programs still
// append). Bytes from 0x80 on are the code page's or UTF-8's, whichever it is.
bool isText(std::string_view sample) {
    for (std::size_t i = 0; i < sample.size(); ++i) {
        auto c = static_cast<unsigned char>(sample[i]);
        if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\f') continue;
        if (c == 0x1A && i + 1 == sample.size()) continue;
        return false;
    }
    return true;
}

// The root element's start tag of an XML or HTML document: what follows the
// declaration, processing instructions, comments and a document type, up to the
// tag's end (or the sample's end). Empty for text that is no markup.
std::string_view rootTag(std::string_view text, std::string_view* prolog) {
    std::size_t at = 0;
    for (;;) {
        at = text.find_first_not_of(" \t\r\n", at);
        if (at == std::string_view::npos || text[at] != '<') return {};
        std::string_view rest = text.substr(at);
        std::string_view close;
        if (rest.starts_with("<?"))
            close = "?>";
        else if (rest.starts_with("<!--"))
            close = "-->";
        else if (rest.starts_with("<!") && !startsWithNoCase(rest, "<!doctype html"))
            close = ">";
        else
            break;
        std::size_t end = text.find(close, at);
        if (end == std::string_view::npos) return {};
        at = end + close.size();
    }
    if (prolog) *prolog = text.substr(0, at);
    std::size_t end = text.find('>', at);
    return text.substr(at, end == std::string_view::npos ? std::string_view::npos : end + 1 - at);
}

void refuseMarkup(std::string_view prolog, std::string_view root) {
    constexpr std::string_view kOdfSpreadsheet = "application/vnd.oasis.opendocument.spreadsheet";
    // A flat OpenDocument file names its type on the root element, as a package
    // does in its mimetype entry.
    if (root.starts_with("<office:document") && root.find(kOdfSpreadsheet) != std::string_view::npos)
        throw ForeignFileError("an OpenDocument spreadsheet (flat XML)", true);
    if (root.starts_with("<office:document"))
        throw ForeignFileError("an OpenDocument document of another kind (flat XML), not a workbook", false);
    // The single-file XML format of 2002-2003, still offered as "XML Spreadsheet".
    if (prolog.find("progid=\"Excel.Sheet\"") != std::string_view::npos ||
        root.find("urn:schemas-microsoft-com:office:spreadsheet") != std::string_view::npos)
        throw ForeignFileError("a workbook in the XML Spreadsheet 2003 format", true);
    // A sheet saved "as a web page", often under an .xls name.
    if (startsWithNoCase(root, "<html") || startsWithNoCase(root, "<!doctype html"))
        throw ForeignFileError("a web page (HTML), not a workbook", false);
    throw ForeignFileError("an XML document, not a workbook", false);
}

// An ASCII DXF file: group code and value lines, comments (999) first, then the
// first section's 0/SECTION.
bool isAsciiDrawing(std::string_view text) {
    auto line = [&text]() {
        const std::size_t end = text.find('\n');
        const std::string_view piece = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        return platform::trim(piece, " \t\r");
    };
    for (int group = 0; group < 64 && !text.empty(); ++group) {
        const std::string_view code = line();
        const std::string_view value = line();
        if (code == "999") continue;
        return code == "0" && value == "SECTION";
    }
    return false;
}

}  // namespace

ForeignFileError::ForeignFileError(std::string kind, bool isWorkbook, bool isDrawing)
    : XlsxError("the file is " + kind + (isWorkbook ? ", not an .xlsx workbook" : "")),
      kind_(std::move(kind)),
      isDrawing_(isDrawing) {}

void refuseForeignFile(std::string_view bytes) {
    // A password-protected workbook is kept in a compound file (the container of the
    // older binary formats) holding the encrypted package: telling which is more
    // use than "not a zip archive".
    constexpr std::string_view kCompoundFile("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (bytes.starts_with(kCompoundFile)) {
        constexpr std::string_view kEncryptedPackage("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
        if (bytes.find(kEncryptedPackage) != std::string_view::npos)
            throw XlsxError(
                "the workbook is encrypted (protected by a password to open); remove the password in "
                "the spreadsheet program and save it again");
        throw ForeignFileError("a workbook in the older binary format (.xls)", true);
    }
    // The binary form's sentinel, as the host's DXF reader knows it; the workbook
    // layer sits below the host and cannot include its reader.
    constexpr std::string_view kBinaryDrawing("AutoCAD Binary DXF\r\n\x1A\0", 22);
    if (bytes.starts_with(kBinaryDrawing)) throw ForeignFileError("a drawing (DXF), not a workbook", false, true);
    // "Unicode text" as spreadsheet programs save it: UTF-16 behind its byte order
    // mark, tab-separated.
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))
        throw ForeignFileError("a text (CSV) file, not a workbook", false);
    std::string_view sample = bytes.substr(0, kSampleBytes);
    if (sample.starts_with("\xEF\xBB\xBF")) sample.remove_prefix(3);
    if (!isText(sample)) return;
    if (isAsciiDrawing(sample)) throw ForeignFileError("a drawing (DXF), not a workbook", false, true);
    std::string_view prolog;
    if (std::string_view root = rootTag(sample, &prolog); !root.empty()) refuseMarkup(prolog, root);
    throw ForeignFileError("a text (CSV) file, not a workbook", false);
}

void refuseOpenDocument(std::string_view mimetype) {
    while (!mimetype.empty() && std::isspace(static_cast<unsigned char>(mimetype.back()))) mimetype.remove_suffix(1);
    constexpr std::string_view kOdf = "application/vnd.oasis.opendocument.";
    if (!mimetype.starts_with(kOdf))
        throw ForeignFileError("a zip package of type " + quotedInput(mimetype) + ", not a workbook", false);
    std::string_view type = mimetype.substr(kOdf.size());
    // A template opens as the document it makes.
    if (type == "spreadsheet" || type == "spreadsheet-template")
        throw ForeignFileError("an OpenDocument spreadsheet", true);
    std::string kind = type.starts_with("text")           ? "an OpenDocument text document"
                       : type.starts_with("presentation") ? "an OpenDocument presentation"
                       : type.starts_with("graphics")     ? "an OpenDocument drawing"
                                                          : "an OpenDocument document (" + quotedInput(type) + ")";
    throw ForeignFileError(kind + ", not a workbook", false);
}

}  // namespace sheet::xlsx
