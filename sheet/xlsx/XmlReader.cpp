#include "sheet/xlsx/XmlReader.h"

#include "platform/Text.h"
#include "sheet/Automation.h"
#include "sheet/xlsx/XlsxError.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>

namespace sheet::xlsx {

// The package's parts are plain XML 1.0 in UTF-8 written by programs: elements,
// attributes, namespaces, text with character and the five predefined entity
// references, CDATA, comments and processing instructions. A document type
// declaration is refused outright, which shuts out entity expansion and external
// entities; everything else that is not well-formed is an error naming its line.
// Reading is one pass over the bytes with no copies but for the values that hold
// references or whitespace to normalise.
class XmlScanner {
public:
    XmlScanner(XmlReader& reader, std::string_view doc, int maxDepth)
        : reader_(reader), doc_(doc), maxDepth_(maxDepth) {}

    void run() {
        checkCharacters();
        pos_ = 0;
        if (doc_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        bool rootSeen = false;
        while (true) {
            skipSpace();
            if (pos_ >= doc_.size()) break;
            mark(pos_);
            if (doc_[pos_] != '<') fail(rootSeen ? "junk after document element" : "text outside the root element");
            if (startsWith("<?")) {
                skipProcessingInstruction();
                continue;
            }
            if (startsWith("<!--")) {
                skipComment();
                continue;
            }
            if (startsWith("<!DOCTYPE")) fail("a document type declaration is not allowed");
            if (startsWith("<!") || startsWith("</")) fail("not well-formed (invalid token)");
            if (rootSeen) fail("junk after document element");
            rootSeen = true;
            if (startElement()) content();
        }
        if (!rootSeen) fail("no element found");
    }

    // Line of the event being handled, for messages.
    std::string prefixDeclarationsInScope() const {
        std::string out;
        // Innermost first: a prefix declared again further in hides the outer one.
        std::vector<std::string_view> seen;
        for (std::size_t i = bindings_.size(); i-- > 0;) {
            const Binding& b = bindings_[i];
            if (b.prefix.empty() || std::find(seen.begin(), seen.end(), b.prefix) != seen.end()) continue;
            seen.push_back(b.prefix);
            out.append(" xmlns:").append(b.prefix).append("=\"");
            appendEscapedAttribute(out, b.uri);
            out += '"';
        }
        return out;
    }

    std::size_t line() const {
        std::size_t end = std::min(mark_, doc_.size());
        return 1 + static_cast<std::size_t>(
                       std::count(doc_.begin(), doc_.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
    }

private:
    struct Binding {
        std::string_view prefix, uri;
    };
    struct Open {
        std::string_view qname, ns, local, prefix;
        std::size_t startTagEnd;
        std::size_t bindingsBefore;
    };
    struct RawAttribute {
        std::string_view qname, value;
        std::size_t begin;  // of the value in the document
        std::size_t colon;  // in qname; npos for none
    };

    [[noreturn]] void fail(const std::string& message) {
        throw XlsxError(partName() + " line " + std::to_string(line()) + ": " + message);
    }
    std::string partName() const { return reader_.partName_; }
    void mark(std::size_t at) { mark_ = at; }

    bool startsWith(std::string_view s) const { return doc_.compare(pos_, s.size(), s) == 0; }
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    void skipSpace() {
        while (pos_ < doc_.size() && isSpace(doc_[pos_])) ++pos_;
    }
    // Byte classes, looked up once per byte on the hot paths.
    enum : unsigned char { kSpace = 1, kNameEnd = 2, kValueSpecial = 4, kTextSpecial = 8 };
    static constexpr std::array<unsigned char, 256> kClass = [] {
        std::array<unsigned char, 256> t{};
        for (unsigned char c : {' ', '\t', '\n', '\r'}) t[c] |= kSpace | kNameEnd;
        for (unsigned char c : {'>', '/', '=', '<'}) t[c] |= kNameEnd;
        for (unsigned char c : {'&', '\t', '\n', '\r', '<'}) t[c] |= kValueSpecial;
        for (unsigned char c : {'&', '<', ']'}) t[c] |= kTextSpecial;
        return t;
    }();
    static bool is(char c, unsigned char cls) { return kClass[static_cast<unsigned char>(c)] & cls; }
    static bool isNameEnd(char c) { return is(c, kNameEnd); }

    // Every byte once: UTF-8 that decodes, and only the characters XML 1.0 allows.
    void checkCharacters() {
        const auto* p = reinterpret_cast<const unsigned char*>(doc_.data());
        std::size_t n = doc_.size();
        for (std::size_t i = 0; i < n;) {
            // Eight printable ASCII bytes at a time: no high bit, none below 0x20.
            if (i + 8 <= n) {
                std::uint64_t w;
                std::memcpy(&w, p + i, 8);
                constexpr std::uint64_t kHigh = 0x8080808080808080ull, kSpaces = 0x2020202020202020ull;
                if (((w | (w - kSpaces)) & kHigh) == 0) {
                    i += 8;
                    continue;
                }
            }
            unsigned c = p[i];
            if (c < 0x80) {
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') badCharacter(i);
                hasCarriageReturn_ = hasCarriageReturn_ || c == '\r';
                ++i;
                continue;
            }
            unsigned cp;
            std::size_t len;
            if (c >= 0xC2 && c <= 0xDF) {
                cp = c & 0x1F;
                len = 2;
            } else if (c >= 0xE0 && c <= 0xEF) {
                cp = c & 0x0F;
                len = 3;
            } else if (c >= 0xF0 && c <= 0xF4) {
                cp = c & 0x07;
                len = 4;
            } else
                badCharacter(i);
            if (i + len > n) badCharacter(i);
            for (std::size_t k = 1; k < len; ++k) {
                if ((p[i + k] & 0xC0) != 0x80) badCharacter(i);
                cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
            if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF)
                badCharacter(i);
            i += len;
        }
    }
    [[noreturn]] void badCharacter(std::size_t at) {
        mark(at);
        fail("not well-formed (invalid token)");
    }

    // A processing instruction names its target; "xml" in any case is the XML
    // declaration's and stands only at the very start of the document.
    void skipProcessingInstruction() {
        const std::size_t start = pos_;
        std::size_t end = doc_.find("?>", pos_ + 2);
        if (end == std::string_view::npos) fail("unclosed token");
        std::size_t nameEnd = pos_ + 2;
        while (nameEnd < end && !isSpace(doc_[nameEnd])) ++nameEnd;
        std::string_view target = doc_.substr(pos_ + 2, nameEnd - pos_ - 2);
        bool nameOk = !target.empty() && target.find_first_of("<>/=?&\"'") == std::string_view::npos;
        for (std::size_t i = 0; nameOk && i < target.size(); ++i) {
            auto c = static_cast<unsigned char>(target[i]);
            bool letter = ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_' || c >= 0x80;
            nameOk = letter || (i > 0 && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
        }
        if (!nameOk) fail("not well-formed (invalid token)");
        const bool atStart = start == (doc_.substr(0, 3) == "\xEF\xBB\xBF" ? 3u : 0u);
        if (target == "xml" && atStart && !xmlDeclaration(doc_.substr(nameEnd, end - nameEnd)))
            fail("XML declaration not well-formed");
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l' &&
            !(atStart && target == "xml"))
            fail("XML or text declaration not at start of entity");
        pos_ = end + 2;
    }
    // The XML declaration after its "xml": version, then optionally encoding and
    // standalone, each as name="value" after white space.
    static bool xmlDeclaration(std::string_view d) {
        std::size_t i = 0;
        auto spaces = [&] {
            std::size_t from = i;
            while (i < d.size() && isSpace(d[i])) ++i;
            return i > from;
        };
        // A pseudo-attribute that is named but not given a quoted value spoils the
        // whole declaration; it is not merely absent.
        bool malformed = false;
        auto pseudo = [&](std::string_view name, std::string_view& value) {
            std::size_t save = i;
            if (!spaces() || d.compare(i, name.size(), name) != 0) return (i = save), false;
            i += name.size();
            spaces();
            if (i >= d.size() || d[i] != '=') return (malformed = true), false;
            ++i;
            spaces();
            if (i >= d.size() || (d[i] != '"' && d[i] != '\'')) return (malformed = true), false;
            std::size_t close = d.find(d[i], i + 1);
            if (close == std::string_view::npos) return (malformed = true), false;
            value = d.substr(i + 1, close - i - 1);
            i = close + 1;
            return true;
        };
        std::string_view version, encoding, standalone;
        // Any version number of name characters, as the earlier editions of XML allow,
        // but for the colon, which the common parsers refuse there.
        if (!pseudo("version", version) || version.empty() ||
            version.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-") !=
                std::string_view::npos)
            return false;
        if (pseudo("encoding", encoding)) {
            bool ok = !encoding.empty() && ((encoding[0] | 0x20) >= 'a' && (encoding[0] | 0x20) <= 'z');
            for (char c : encoding)
                ok = ok && (((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                            c == '_' || c == '-');
            if (!ok) return false;
        }
        if (pseudo("standalone", standalone) && standalone != "yes" && standalone != "no") return false;
        spaces();
        return !malformed && i == d.size();
    }
    // "--" may not stand inside a comment, nor may it end in "-".
    void skipComment() {
        std::size_t end = doc_.find("--", pos_ + 4);
        if (end == std::string_view::npos) fail("unclosed token");
        if (doc_.compare(end, 3, "-->") != 0) {
            mark(end);
            fail("not well-formed (invalid token)");
        }
        pos_ = end + 3;
    }

    // A qualified name: a name, or prefix:name. ASCII name characters are checked
    // exactly; any other character is taken as a name character. Where its colon
    // stands (npos for none) is left in lastColon_, found in the same pass.
    std::string_view readName() {
        std::size_t b = pos_;
        while (pos_ < doc_.size() && !isNameEnd(doc_[pos_])) ++pos_;
        if (pos_ >= doc_.size()) fail("unclosed token");
        std::string_view name = doc_.substr(b, pos_ - b);
        std::size_t colon = std::string_view::npos;
        bool valid = !name.empty();
        for (std::size_t i = 0; valid && i < name.size(); ++i) {
            auto c = static_cast<unsigned char>(name[i]);
            if (c == ':') {
                // One colon, with a name on either side.
                valid = colon == std::string_view::npos && i != 0 && i + 1 != name.size();
                colon = i;
                continue;
            }
            bool start = (c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? true : c == '_' || c >= 0x80;
            bool inner = start || (c >= '0' && c <= '9') || c == '-' || c == '.';
            valid = i == 0 || name[i - 1] == ':' ? start : inner;
        }
        if (!valid) {
            mark(b);
            fail("not well-formed (invalid token)");
        }
        lastColon_ = colon;
        return name;
    }

    static std::string_view prefixOf(std::string_view qname, std::size_t colon) {
        return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
    }
    static std::string_view localOf(std::string_view qname, std::size_t colon) {
        return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
    }

    std::string_view uriOf(std::string_view prefix, bool isElement) {
        if (prefix.empty() && !isElement) return {};
        if (prefix == "xml") return kXmlNamespace;
        for (std::size_t i = bindings_.size(); i-- > 0;)
            if (bindings_[i].prefix == prefix) return bindings_[i].uri;
        if (!prefix.empty()) fail("unbound prefix");
        return {};
    }

    // Appends the text of a reference at pos_ ('&') and moves past it.
    void appendReference(std::string& out) {
        std::size_t semi = doc_.find(';', pos_);
        // Entity names are short; a character reference may carry any number of
        // leading zeros, and its digits are checked one by one below.
        if (semi == std::string_view::npos || (semi - pos_ > 12 && doc_.compare(pos_, 2, "&#") != 0))
            fail("not well-formed (invalid token)");
        std::string_view name = doc_.substr(pos_ + 1, semi - pos_ - 1);
        pos_ = semi + 1;
        if (name == "lt") {
            out += '<';
            return;
        }
        if (name == "gt") {
            out += '>';
            return;
        }
        if (name == "amp") {
            out += '&';
            return;
        }
        if (name == "quot") {
            out += '"';
            return;
        }
        if (name == "apos") {
            out += '\'';
            return;
        }
        if (name.size() < 2 || name[0] != '#') fail("undefined entity");
        unsigned long cp = 0;
        bool hex = name[1] == 'x';
        std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) fail("not well-formed (invalid token)");
        for (char c : digits) {
            int d = c >= '0' && c <= '9'          ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
            if (d < 0) fail("not well-formed (invalid token)");
            cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(d);
            if (cp > 0x10FFFF) fail("reference to invalid character number");
        }
        bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                       (cp >= 0xE000 && cp <= 0xFFFD) || cp >= 0x10000;
        if (!allowed) fail("reference to invalid character number");
        platform::appendUtf8(out, static_cast<char32_t>(cp));
    }

    // An attribute value as XML reads it: references replaced, each whitespace
    // character (a CR LF pair counting as one) a space.
    std::string_view attributeValue(std::string_view raw, std::size_t rawBegin, std::string& scratch) {
        if (std::none_of(raw.begin(), raw.end(), [](char c) { return is(c, kValueSpecial); })) return raw;
        scratch.clear();
        std::size_t saved = pos_;
        std::size_t end = rawBegin + raw.size();
        for (pos_ = rawBegin; pos_ < end;) {
            char c = doc_[pos_];
            if (c == '<') fail("not well-formed (invalid token)");
            if (c == '&') {
                appendReference(scratch);
                if (pos_ > end) fail("not well-formed (invalid token)");
                continue;
            }
            if (c == '\r' && pos_ + 1 < end && doc_[pos_ + 1] == '\n') ++pos_;
            scratch += isSpace(c) ? ' ' : c;
            ++pos_;
        }
        pos_ = saved;
        return scratch;
    }

    // Reads a start tag at pos_; true when the element has content to read.
    bool startElement() {
        std::size_t offset = pos_;
        mark(offset);
        ++pos_;
        std::string_view qname = readName();
        const std::size_t qnameColon = lastColon_;
        raw_.clear();
        bool empty = false;
        // Namespace declarations stand on a few elements near the root; the others
        // skip their handling.
        bool declares = false;
        while (true) {
            bool spaced = pos_ < doc_.size() && isSpace(doc_[pos_]);
            skipSpace();
            if (pos_ >= doc_.size()) fail("unclosed token");
            char c = doc_[pos_];
            if (c == '>') {
                ++pos_;
                break;
            }
            if (c == '/') {
                if (pos_ + 1 >= doc_.size() || doc_[pos_ + 1] != '>') fail("not well-formed (invalid token)");
                pos_ += 2;
                empty = true;
                break;
            }
            if (!spaced) fail("not well-formed (invalid token)");
            std::string_view name = readName();
            const std::size_t nameColon = lastColon_;
            skipSpace();
            if (pos_ >= doc_.size() || doc_[pos_] != '=') fail("not well-formed (invalid token)");
            ++pos_;
            skipSpace();
            if (pos_ >= doc_.size()) fail("unclosed token");
            char quote = doc_[pos_];
            if (quote != '"' && quote != '\'') fail("not well-formed (invalid token)");
            // Values are short: a plain loop beats a library search call here.
            std::size_t close = pos_ + 1;
            while (close < doc_.size() && doc_[close] != quote) ++close;
            if (close >= doc_.size()) fail("unclosed token");
            std::string_view value = doc_.substr(pos_ + 1, close - pos_ - 1);
            declares = declares || (name.size() >= 5 && name.compare(0, 5, "xmlns") == 0);
            raw_.push_back({name, value, pos_ + 1, nameColon});
            pos_ = close + 1;
        }
        std::size_t startTagEnd = pos_;
        if (static_cast<int>(open_.size()) + 1 > maxDepth_)
            fail("elements are nested deeper than " + std::to_string(maxDepth_) + " levels");

        // Values first (their storage must not move once views are taken), then the
        // namespace declarations, then names resolved against them.
        if (scratch_.size() < raw_.size()) scratch_.resize(raw_.size());
        for (std::size_t i = 0; i < raw_.size(); ++i)
            raw_[i].value = attributeValue(raw_[i].value, raw_[i].begin, scratch_[i]);
        std::size_t bindingsBefore = bindings_.size();
        for (const auto& a : raw_) {
            if (!declares) break;
            bool isDefault = a.qname == "xmlns";
            if (!isDefault && a.qname.substr(0, 6) != "xmlns:") continue;
            if (!isDefault && a.value.empty()) fail("unbound prefix");
            // The two reserved prefixes keep their own namespaces, and no other prefix
            // may take those.
            std::string_view bound = isDefault ? std::string_view() : a.qname.substr(6);
            const bool xmlUri = a.value == kXmlNamespace, xmlnsUri = a.value == kXmlnsNamespace;
            if (bound == "xml" ? !xmlUri : (bound == "xmlns" || xmlUri || xmlnsUri))
                fail("reserved prefix or namespace name");
            // A name that needed decoding lives in scratch space the next element reuses.
            std::string_view uri = a.value;
            if (uri.data() < doc_.data() || uri.data() >= doc_.data() + doc_.size()) uri = uris_.emplace_back(uri);
            bindings_.push_back({isDefault ? std::string_view() : a.qname.substr(6), uri});
            // Names are looked up through the declarations in scope, so their number is
            // bounded; documents written by programs use a dozen or so.
            if (bindings_.size() > kMaxBindings)
                fail("more than " + std::to_string(kMaxBindings) + " namespace declarations are in scope");
        }
        checkDuplicateDeclarations(bindingsBefore);
        attributes_.clear();
        for (const auto& a : raw_) {
            if (declares && (a.qname == "xmlns" || a.qname.substr(0, 6) == "xmlns:")) continue;
            std::string_view prefix = prefixOf(a.qname, a.colon);
            attributes_.push_back({uriOf(prefix, false), localOf(a.qname, a.colon), prefix, a.value});
        }
        checkDuplicates();
        std::string_view prefix = prefixOf(qname, qnameColon);
        Open element{qname, uriOf(prefix, true), localOf(qname, qnameColon), prefix, startTagEnd, bindingsBefore};
        open_.push_back(element);
        XmlElement e{element.ns, element.local, element.prefix, &attributes_, static_cast<int>(open_.size()),
                     offset,     startTagEnd};
        reader_.onStart(e);
        if (empty) {
            endElement(startTagEnd, startTagEnd);
            return false;
        }
        return true;
    }

    // Elements carry a handful of attributes; a hostile one with very many must not
    // make the check quadratic.
    void checkDuplicates() {
        // Names mostly differ in length or in their first letter; only those that
        // do not are compared whole.
        auto same = [](const XmlAttribute& x, const XmlAttribute& y) {
            return x.name.size() == y.name.size() && (x.name.empty() || x.name[0] == y.name[0]) && x.name == y.name &&
                   x.ns == y.ns;
        };
        if (attributes_.size() <= 16) {
            for (std::size_t i = 0; i < attributes_.size(); ++i)
                for (std::size_t j = 0; j < i; ++j)
                    if (same(attributes_[i], attributes_[j])) fail("duplicate attribute");
            return;
        }
        sorted_.assign(attributes_.begin(), attributes_.end());
        std::sort(sorted_.begin(), sorted_.end(), [](const XmlAttribute& x, const XmlAttribute& y) {
            return x.name != y.name ? x.name < y.name : x.ns < y.ns;
        });
        if (std::adjacent_find(sorted_.begin(), sorted_.end(), same) != sorted_.end()) fail("duplicate attribute");
    }

    // Declaring one prefix twice on an element is a duplicate attribute like any
    // other: which of the two namespaces would its names be in?
    void checkDuplicateDeclarations(std::size_t from) {
        const std::size_t n = bindings_.size() - from;
        if (n <= 16) {
            for (std::size_t i = from; i < bindings_.size(); ++i)
                for (std::size_t j = from; j < i; ++j)
                    if (bindings_[i].prefix == bindings_[j].prefix) fail("duplicate attribute");
            return;
        }
        declared_.clear();
        for (std::size_t i = from; i < bindings_.size(); ++i) declared_.push_back(bindings_[i].prefix);
        std::sort(declared_.begin(), declared_.end());
        if (std::adjacent_find(declared_.begin(), declared_.end()) != declared_.end()) fail("duplicate attribute");
    }

    void endElement(std::size_t contentEnd, std::size_t endOffset) {
        Open element = open_.back();
        reader_.contentEnd_ = contentEnd;
        reader_.onEnd(element.ns, element.local, static_cast<int>(open_.size()), endOffset);
        open_.pop_back();
        bindings_.resize(element.bindingsBefore);
    }

    void deliverText(std::size_t b, std::size_t e) {
        if (b == e || !reader_.collectText) return;
        std::string_view text = doc_.substr(b, e - b);
        // Line ends read as LF, as XML defines them; most documents have none but
        // LFs, which the check of every byte found out.
        if (!hasCarriageReturn_ || text.find('\r') == std::string_view::npos) {
            reader_.onText(text);
            return;
        }
        text_.clear();
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                text_ += '\n';
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            } else {
                text_ += text[i];
            }
        }
        reader_.onText(text_);
    }

    // The content of the element just started, up to and including its end tag.
    void content() {
        std::size_t depth = open_.size();
        while (open_.size() >= depth) {
            std::size_t textBegin = pos_;
            // Text runs to the next markup; references inside it are read in place.
            while (true) {
                std::size_t at = pos_;
                while (true) {
                    while (at < doc_.size() && !is(doc_[at], kTextSpecial)) ++at;
                    if (at >= doc_.size() || doc_[at] != ']') break;
                    // "]]>" may not stand in text.
                    if (doc_.compare(at, 3, "]]>") == 0) {
                        mark(at);
                        fail("not well-formed (invalid token)");
                    }
                    ++at;
                }
                deliverText(textBegin, at);
                pos_ = at;
                if (at >= doc_.size() || doc_[at] == '<') break;
                mark(at);
                text_.clear();
                appendReference(text_);
                if (reader_.collectText) reader_.onText(text_);
                textBegin = pos_;
            }
            if (pos_ >= doc_.size()) {
                mark(doc_.size());
                fail("no element found");
            }
            mark(pos_);
            char next = pos_ + 1 < doc_.size() ? doc_[pos_ + 1] : '\0';
            if (next != '/' && next != '!' && next != '?') {
                startElement();
            } else if (next == '/') {
                const std::size_t endTag = pos_;
                pos_ += 2;
                std::string_view name = readName();
                skipSpace();
                if (pos_ >= doc_.size() || doc_[pos_] != '>') fail("not well-formed (invalid token)");
                ++pos_;
                if (name != open_.back().qname) fail("mismatched tag");
                endElement(endTag, pos_);
            } else if (startsWith("<!--")) {
                skipComment();
            } else if (startsWith("<![CDATA[")) {
                std::size_t end = doc_.find("]]>", pos_ + 9);
                if (end == std::string_view::npos) fail("unclosed CDATA section");
                deliverText(pos_ + 9, end);
                pos_ = end + 3;
            } else if (startsWith("<?")) {
                skipProcessingInstruction();
            } else {
                fail(startsWith("<!DOCTYPE") ? "a document type declaration is not allowed"
                                             : "not well-formed (invalid token)");
            }
        }
    }

    static constexpr std::size_t kMaxBindings = 256;
    static constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
    static constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

    XmlReader& reader_;
    std::string_view doc_;
    int maxDepth_;
    std::size_t pos_ = 0;
    std::size_t mark_ = 0;
    std::vector<Binding> bindings_;
    std::vector<Open> open_;
    std::vector<RawAttribute> raw_;
    std::deque<std::string> uris_;
    std::vector<std::string> scratch_;
    std::vector<XmlAttribute> attributes_;
    std::vector<XmlAttribute> sorted_;
    std::vector<std::string_view> declared_;
    std::string text_;
    bool hasCarriageReturn_ = false;
    std::size_t lastColon_ = std::string_view::npos;
};

const std::string_view* XmlElement::attr(std::string_view attrName, std::string_view attrNs) const {
    for (const auto& a : *attributes)
        if (a.name == attrName && a.ns == attrNs) return &a.value;
    return nullptr;
}

void XmlReader::parse(std::string_view document, const std::string& partName, int maxDepth) {
    document_ = document;
    partName_ = partName;
    XmlScanner scanner(*this, document, maxDepth);
    scanner_ = &scanner;
    try {
        scanner.run();
    } catch (...) {
        scanner_ = nullptr;
        throw;
    }
    scanner_ = nullptr;
}

std::string XmlReader::prefixDeclarationsInScope() const {
    return scanner_ ? scanner_->prefixDeclarationsInScope() : std::string();
}

void XmlReader::fail(const std::string& message) {
    std::size_t line = scanner_ ? scanner_->line() : 0;
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
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '_':
            // A literal "_xHHHH_" would read back as an escape; escape its underscore.
            if (isEscapeAt(text, i)) out += "_x005F";
            out.push_back(c);
            break;
        default:
            // Control characters cannot appear in XML 1.0, and a carriage return
            // would be read back as a line feed: the file format spells them
            // _xHHHH_, as the spreadsheet program writes them.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
                out += "_x00";
                out.push_back(kHex[(c >> 4) & 0xF]);
                out.push_back(kHex[c & 0xF]);
                out.push_back('_');
            } else if (c == '\xEF' && i + 2 < text.size() && text[i + 1] == '\xBF' &&
                       (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
                // U+FFFE and U+FFFF are no XML characters either.
                out += text[i + 2] == '\xBE' ? "_xFFFE_" : "_xFFFF_";
                i += 2;
            } else {
                out.push_back(c);
            }
        }
    }
}

void appendEscapedText(std::string& out, std::u16string_view text) {
    // Most texts are plain printable ASCII with nothing to escape: copied across as
    // they are, without the conversion and the escaping pass.
    bool isPlain = true;
    for (char16_t c : text)
        if (c < 0x20 || c >= 0x7F || c == u'<' || c == u'>' || c == u'&' || c == u'_') {
            isPlain = false;
            break;
        }
    if (isPlain) {
        const std::size_t at = out.size();
        out.resize(at + text.size());
        char* p = out.data() + at;
        for (char16_t c : text) *p++ = static_cast<char>(c);
        return;
    }
    std::string utf8;
    appendUtf8(utf8, text);
    appendEscaped(out, utf8);
}

void decodeEscapes(std::string& text) {
    if (text.find("_x") == std::string::npos) return;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isEscapeAt(text, i)) {
            unsigned value = std::stoul(text.substr(i + 2, 4), nullptr, 16);
            platform::appendUtf8(out, static_cast<char32_t>(value));
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
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        case '\t':
            out += "&#9;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += "?";
            else
                out.push_back(c);
        }
    }
}

}  // namespace sheet::xlsx
