#include "sheet/xlsx/XmlReader.h"

#include "sheet/xlsx/XlsxError.h"

#include <expat.h>

#include <exception>
#include <memory>

namespace sheet::xlsx {
namespace {

constexpr char kSeparator = '\x01';

struct Name {
    std::string_view ns, local, prefix;
};

// expat hands "uri SEP local SEP prefix" (or just "local" without a namespace).
Name splitName(const char* text) {
    std::string_view s(text);
    auto a = s.find(kSeparator);
    if (a == std::string_view::npos) return {{}, s, {}};
    auto b = s.find(kSeparator, a + 1);
    if (b == std::string_view::npos) return {s.substr(0, a), s.substr(a + 1), {}};
    return {s.substr(0, a), s.substr(a + 1, b - a - 1), s.substr(b + 1)};
}

struct ParserDeleter {
    void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};

}  // namespace

const std::string_view* XmlElement::attr(std::string_view attrName, std::string_view attrNs) const {
    for (const auto& a : *attributes)
        if (a.name == attrName && a.ns == attrNs) return &a.value;
    return nullptr;
}

struct XmlCallbacks {
    XmlReader* reader = nullptr;
    int depth = 0;
    int maxDepth = 0;
    std::string error;
    std::exception_ptr exception;
    std::vector<XmlAttribute> attributes;
    std::vector<std::size_t> startEnds;  // per open element: end of its start tag

    XML_Parser parser() const { return static_cast<XML_Parser>(reader->parser_); }
    void stop(std::string message) {
        if (error.empty() && !exception) error = std::move(message);
        XML_StopParser(parser(), XML_FALSE);
    }

    static void start(void* data, const XML_Char* name, const XML_Char** atts) {
        auto* self = static_cast<XmlCallbacks*>(data);
        if (!self->error.empty() || self->exception) return;
        if (++self->depth > self->maxDepth) {
            self->stop("elements are nested deeper than " + std::to_string(self->maxDepth) + " levels");
            return;
        }
        try {
            self->attributes.clear();
            for (int i = 0; atts[i]; i += 2) {
                Name n = splitName(atts[i]);
                self->attributes.push_back({n.ns, n.local, n.prefix, atts[i + 1]});
            }
            Name n = splitName(name);
            auto offset = static_cast<std::size_t>(XML_GetCurrentByteIndex(self->parser()));
            std::size_t startTagEnd = offset + static_cast<std::size_t>(XML_GetCurrentByteCount(self->parser()));
            self->startEnds.push_back(startTagEnd);
            XmlElement e{n.ns, n.local, n.prefix, &self->attributes, self->depth, offset, startTagEnd};
            self->reader->onStart(e);
        } catch (...) {
            self->exception = std::current_exception();
            XML_StopParser(self->parser(), XML_FALSE);
        }
    }
    static void end(void* data, const XML_Char* name) {
        auto* self = static_cast<XmlCallbacks*>(data);
        if (!self->error.empty() || self->exception) return;
        try {
            Name n = splitName(name);
            auto index = static_cast<std::size_t>(XML_GetCurrentByteIndex(self->parser()));
            auto count = static_cast<std::size_t>(XML_GetCurrentByteCount(self->parser()));
            // An empty-element tag reports its end with no bytes of its own.
            std::size_t endOffset = count == 0 ? self->startEnds.back() : index + count;
            self->startEnds.pop_back();
            self->reader->onEnd(n.ns, n.local, self->depth, endOffset);
            --self->depth;
        } catch (...) {
            self->exception = std::current_exception();
            XML_StopParser(self->parser(), XML_FALSE);
        }
    }
    static void text(void* data, const XML_Char* s, int len) {
        auto* self = static_cast<XmlCallbacks*>(data);
        if (!self->reader->collectText || !self->error.empty() || self->exception) return;
        try {
            self->reader->onText(std::string_view(s, static_cast<std::size_t>(len)));
        } catch (...) {
            self->exception = std::current_exception();
            XML_StopParser(self->parser(), XML_FALSE);
        }
    }
    // Package parts never need a DTD; refusing it shuts out entity expansion and
    // external entities altogether.
    static void doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<XmlCallbacks*>(data)->stop("a document type declaration is not allowed");
    }
    static void entity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                       const XML_Char*, const XML_Char*) {
        static_cast<XmlCallbacks*>(data)->stop("entity declarations are not allowed");
    }
};

void XmlReader::parse(std::string_view document, const std::string& partName, int maxDepth) {
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreateNS("UTF-8", kSeparator));
    if (!parser) throw XlsxError(partName + ": out of memory for the XML parser");
    XML_SetReturnNSTriplet(parser.get(), 1);
    document_ = document;
    partName_ = partName;
    parser_ = parser.get();
    XmlCallbacks callbacks;
    callbacks.reader = this;
    callbacks.maxDepth = maxDepth;
    XML_SetUserData(parser.get(), &callbacks);
    XML_SetElementHandler(parser.get(), &XmlCallbacks::start, &XmlCallbacks::end);
    XML_SetCharacterDataHandler(parser.get(), &XmlCallbacks::text);
    XML_SetStartDoctypeDeclHandler(parser.get(), &XmlCallbacks::doctype);
    XML_SetEntityDeclHandler(parser.get(), &XmlCallbacks::entity);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

    // One call over the whole document keeps byte indices absolute. expat takes an
    // int length, so larger documents are fed in slices.
    constexpr std::size_t kSlice = 1u << 30;
    XML_Status status = XML_STATUS_OK;
    std::size_t done = 0;
    do {
        std::size_t n = std::min(kSlice, document.size() - done);
        bool isFinal = done + n == document.size();
        status = XML_Parse(parser.get(), document.data() + done, static_cast<int>(n), isFinal);
        done += n;
    } while (status == XML_STATUS_OK && done < document.size());
    auto line = XML_GetCurrentLineNumber(parser.get());
    parser_ = nullptr;
    if (callbacks.exception) std::rethrow_exception(callbacks.exception);
    if (!callbacks.error.empty())
        throw XlsxError(partName + " line " + std::to_string(line) + ": " + callbacks.error);
    if (status != XML_STATUS_OK)
        throw XlsxError(partName + " line " + std::to_string(line) + ": " +
                        XML_ErrorString(XML_GetErrorCode(parser.get())));
}

void XmlReader::fail(const std::string& message) {
    auto line = parser_ ? XML_GetCurrentLineNumber(static_cast<XML_Parser>(parser_)) : 0;
    throw XlsxError(partName_ + " line " + std::to_string(line) + ": " + message);
}

namespace {
bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isEscapeAt(std::string_view t, std::size_t i) {
    return i + 7 <= t.size() && t[i] == '_' && t[i + 1] == 'x' && isHex(t[i + 2]) && isHex(t[i + 3]) &&
           isHex(t[i + 4]) && isHex(t[i + 5]) && t[i + 6] == '_';
}
}  // namespace

void appendEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '\r': out += "&#13;"; break;
        case '_':
            // A literal "_xHHHH_" would read back as an escape; escape its underscore.
            if (isEscapeAt(text, i)) out += "_x005F";
            out.push_back(c);
            break;
        default:
            // Control characters cannot appear in XML 1.0; the file format spells
            // them _xHHHH_.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
                out += "_x00";
                out.push_back(kHex[(c >> 4) & 0xF]);
                out.push_back(kHex[c & 0xF]);
                out.push_back('_');
            } else {
                out.push_back(c);
            }
        }
    }
}

void decodeEscapes(std::string& text) {
    if (text.find("_x") == std::string::npos) return;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isEscapeAt(text, i)) {
            unsigned value = std::stoul(text.substr(i + 2, 4), nullptr, 16);
            if (value < 0x80) {
                out.push_back(static_cast<char>(value));
            } else if (value < 0x800) {
                out.push_back(static_cast<char>(0xC0 | (value >> 6)));
                out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
            } else {
                out.push_back(static_cast<char>(0xE0 | (value >> 12)));
                out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
            }
            i += 6;
        } else {
            out.push_back(text[i]);
        }
    }
    text.swap(out);
}

void appendEscapedAttribute(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        case '\t': out += "&#9;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) out += "?";
            else out.push_back(c);
        }
    }
}

}  // namespace sheet::xlsx
