// Differential libFuzzer target for the package XML reader against expat (with
// namespace processing, the input taken as UTF-8): on the same bytes both accept,
// with the same elements (namespace, local name, prefix), attributes and text in
// the same order, or both refuse. Inputs where the two differ on purpose are left
// out explicitly, each for the reason given where it is skipped.
#include "sheet/xlsx/XlsxError.h"
#include "sheet/xlsx/XmlReader.h"

#include <expat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

constexpr int kMaxDepth = 64;

struct Attribute {
    std::string ns, name, value;
    friend bool operator<(const Attribute& a, const Attribute& b) {
        return std::tie(a.ns, a.name, a.value) < std::tie(b.ns, b.name, b.value);
    }
    friend bool operator==(const Attribute&, const Attribute&) = default;
};

// One event: a start tag with its attributes (in a fixed order: the two readers
// need not give them in document order), an end tag, or a run of text.
struct Event {
    enum Kind { start, end, text } kind;
    std::string ns, name, prefix;
    std::vector<Attribute> attributes;
    std::string data;
    friend bool operator==(const Event&, const Event&) = default;
};

struct Log {
    std::vector<Event> events;
    int depth = 0, maxDepth = 0;
    bool nonAsciiName = false;

    void appendText(std::string_view piece) {
        if (piece.empty()) return;
        if (events.empty() || events.back().kind != Event::text) events.push_back({Event::text, {}, {}, {}, {}, {}});
        events.back().data.append(piece);
    }
    void noteName(std::string_view name) {
        if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
            nonAsciiName = true;
    }
};

class Ours : public sheet::xlsx::XmlReader {
public:
    Ours() { collectText = true; }
    Log log;

private:
    void onStart(const sheet::xlsx::XmlElement& e) override {
        Event ev{Event::start, std::string(e.ns), std::string(e.name), std::string(e.prefix), {}, {}};
        for (const auto& a : *e.attributes)
            ev.attributes.push_back({std::string(a.ns), std::string(a.name), std::string(a.value)});
        std::sort(ev.attributes.begin(), ev.attributes.end());
        log.events.push_back(std::move(ev));
    }
    void onEnd(std::string_view ns, std::string_view name, int, std::size_t) override {
        log.events.push_back({Event::end, std::string(ns), std::string(name), {}, {}, {}});
    }
    void onText(std::string_view text) override { log.appendText(text); }
};

// expat names come as "uri\x01local\x01prefix" (the separator cannot occur in XML).
void split(const XML_Char* full, std::string& ns, std::string& local, std::string& prefix) {
    std::string_view s(full);
    std::size_t a = s.find('\x01');
    if (a == std::string_view::npos) {
        ns.clear();
        local = s;
        prefix.clear();
        return;
    }
    ns = s.substr(0, a);
    std::size_t b = s.find('\x01', a + 1);
    local = s.substr(a + 1, b == std::string_view::npos ? std::string_view::npos : b - a - 1);
    prefix = b == std::string_view::npos ? std::string() : std::string(s.substr(b + 1));
}

void XMLCALL expatStart(void* user, const XML_Char* name, const XML_Char** attrs) {
    Log& log = *static_cast<Log*>(user);
    Event ev{Event::start, {}, {}, {}, {}, {}};
    split(name, ev.ns, ev.name, ev.prefix);
    for (const XML_Char** a = attrs; *a; a += 2) {
        Attribute attr;
        std::string prefix;
        split(a[0], attr.ns, attr.name, prefix);
        attr.value = a[1];
        ev.attributes.push_back(std::move(attr));
    }
    std::sort(ev.attributes.begin(), ev.attributes.end());
    log.events.push_back(std::move(ev));
    log.maxDepth = std::max(log.maxDepth, ++log.depth);
}

void XMLCALL expatEnd(void* user, const XML_Char* name) {
    Log& log = *static_cast<Log*>(user);
    Event ev{Event::end, {}, {}, {}, {}, {}};
    std::string prefix;
    split(name, ev.ns, ev.name, prefix);
    log.events.push_back(std::move(ev));
    --log.depth;
}

void XMLCALL expatText(void* user, const XML_Char* s, int len) {
    static_cast<Log*>(user)->appendText(std::string_view(s, static_cast<std::size_t>(len)));
}

// Whether a name outside ASCII follows `marker` anywhere in the bytes, the name
// ending at white space or `end`. Two names never reach the event log: processing
// instructions are skipped by our reader without reporting them (their target after
// "<?"), and neither reader reports namespace declarations as attributes (the prefix
// after "xmlns:"). Outside ASCII they are the same lenient name rule as above, only
// out of sight. A match inside a comment, CDATA or text only skips an input; it
// never hides a difference in what both report.
bool hasNonAsciiNameAfter(std::string_view doc, std::string_view marker, char end) {
    for (std::size_t at = doc.find(marker); at != std::string_view::npos; at = doc.find(marker, at + marker.size())) {
        for (std::size_t i = at + marker.size(); i < doc.size(); ++i) {
            const auto c = static_cast<unsigned char>(doc[i]);
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == static_cast<unsigned char>(end)) break;
            if (c >= 0x80) return true;
        }
    }
    return false;
}

// Whether the XML declaration gives version as an empty value, with any white
// space around its "=".
bool hasEmptyVersion(std::string_view doc) {
    const std::string_view declaration = doc.substr(0, doc.find("?>"));
    const std::size_t at = declaration.find("version");
    if (at == std::string_view::npos) return false;
    std::size_t i = at + 7;
    auto spaces = [&] {
        while (i < declaration.size() && std::string_view(" \t\r\n").find(declaration[i]) != std::string_view::npos)
            ++i;
    };
    spaces();
    if (i >= declaration.size() || declaration[i] != '=') return false;
    ++i;
    spaces();
    return i + 1 < declaration.size() && (declaration[i] == '"' || declaration[i] == '\'') &&
           declaration[i + 1] == declaration[i];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view doc(reinterpret_cast<const char*>(data), size);

    Ours ours;
    bool oursOk = true;
    std::string oursError;
    try {
        ours.parse(doc, "fuzz.xml", kMaxDepth);
    } catch (const sheet::xlsx::XlsxError& e) {
        oursOk = false;
        oursError = e.what();
    }

    Log theirs;
    XML_Parser parser = XML_ParserCreateNS("UTF-8", '\x01');
    XML_SetReturnNSTriplet(parser, 1);
    XML_SetUserData(parser, &theirs);
    XML_SetElementHandler(parser, expatStart, expatEnd);
    XML_SetCharacterDataHandler(parser, expatText);
    const bool theirsOk = XML_Parse(parser, doc.data(), static_cast<int>(doc.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);

    // Document type declarations (and with them entity declarations and expansion) are
    // refused on purpose: a part never needs one and they open the door to entity
    // expansion attacks. expat reads them.
    if (!oursOk && oursError.find("document type declaration") != std::string::npos) return 0;
    // Nesting beyond the part readers' limit is refused on purpose; expat has none.
    if (!oursOk && theirs.maxDepth > kMaxDepth) return 0;
    if (!oursOk && oursError.find("namespace declarations are in scope") != std::string::npos) return 0;
    // A version number is at least one character; expat takes an empty one.
    if (!oursOk && theirsOk && oursError.find("XML declaration not well-formed") != std::string::npos &&
        hasEmptyVersion(doc))
        return 0;
    // Names outside ASCII are taken as name characters without looking them up in
    // XML's tables of name characters: a part's names are ASCII, and whether a name
    // is well-formed changes nothing the readers do with it. expat checks them.
    if (oursOk && !theirsOk) {
        for (const Event& e : ours.log.events) {
            ours.log.noteName(e.name);
            ours.log.noteName(e.prefix);
            for (const Attribute& a : e.attributes) ours.log.noteName(a.name);
        }
        if (ours.log.nonAsciiName || hasNonAsciiNameAfter(doc, "<?", '?') || hasNonAsciiNameAfter(doc, "xmlns:", '='))
            return 0;
    }
    if (oursOk != theirsOk) __builtin_trap();
    if (oursOk && ours.log.events != theirs.events) __builtin_trap();
    return 0;
}
