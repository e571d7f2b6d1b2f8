// HTML to terminal text in one pass over the page.
#include "platform/htmlhelp/HtmlText.h"
#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace hhctrl {
namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The character a reference names ("amp", "#38", "#x26"); 0 when it names none.
std::uint32_t referencedCharacter(std::string_view name) {
    if (name.size() > 1 && name[0] == '#') {
        bool hex = name[1] == 'x' || name[1] == 'X';
        std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8) return 0;
        std::uint32_t value = 0;
        for (char c : digits) {
            int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                    : hex && std::isxdigit(static_cast<unsigned char>(c))
                        ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                        : -1;
            if (d < 0) return 0;
            value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
        }
        // Surrogates, controls other than blanks and values beyond Unicode are no text.
        if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF) ||
            (value < 0x20 && value != '\t' && value != '\n'))
            return 0;
        return value;
    }
    static const struct {
        const char* name;
        std::uint32_t cp;
    } kNamed[] = {{"amp", '&'},      {"lt", '<'},        {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
                  {"nbsp", 0xA0},    {"copy", 0xA9},     {"reg", 0xAE},     {"deg", 0xB0},     {"middot", 0xB7},
                  {"ndash", 0x2013}, {"mdash", 0x2014},  {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
                  {"rdquo", 0x201D}, {"hellip", 0x2026}, {"rarr", 0x2192},  {"larr", 0x2190},  {"bull", 0x2022}};
    for (const auto& entry : kNamed)
        if (name == entry.name) return entry.cp;
    return 0;
}

// Builds the text: words are gathered into the current paragraph and wrapped when
// the paragraph ends.
class TextBuilder {
public:
    explicit TextBuilder(int width) : width_(std::max(width, 20)) {}

    void word(const std::string& text) {
        if (preformatted_) {
            paragraph_ += text;
            return;
        }
        if (text.empty()) return;
        if (pendingBlank_ && !paragraph_.empty()) paragraph_ += ' ';
        pendingBlank_ = false;
        paragraph_ += text;
    }
    void blank() {
        if (preformatted_)
            paragraph_ += ' ';
        else
            pendingBlank_ = true;
    }
    void newlineInPre() { paragraph_ += '\n'; }
    void lineBreak() {
        if (preformatted_) {
            paragraph_ += '\n';
            return;
        }
        paragraph_ += '\n';
        pendingBlank_ = false;
    }
    // Ends the paragraph; `gap` leaves an empty line before the next block.
    void endBlock(bool gap) {
        flush();
        if (gap) wantGap_ = true;
    }
    // Deeply nested lists indent no further than half the width: every line would
    // otherwise carry the whole nesting, and a page could blow up into blanks.
    void setIndent(int indent) { indent_ = std::clamp(indent, 0, width_ / 2); }
    int indent() const { return indent_; }
    void setPrefix(std::string prefix) { prefix_ = std::move(prefix); }
    void setPreformatted(bool on) {
        flush();
        preformatted_ = on;
    }
    void setUnderline(char c) { underline_ = c; }
    std::string finish() {
        flush();
        while (!out_.empty() && out_.back() == '\n') out_.pop_back();
        return out_.empty() ? out_ : out_ + "\n";
    }

private:
    static std::size_t columns(const std::string& s) {
        std::size_t n = 0;
        for (unsigned char c : s)
            if ((c & 0xC0) != 0x80) ++n;
        return n;
    }
    void emitLine(const std::string& line) {
        out_ += line;
        out_ += '\n';
    }
    void flush() {
        std::string text = std::move(paragraph_);
        paragraph_.clear();
        pendingBlank_ = false;
        bool hasText = text.find_first_not_of(" \n") != std::string::npos;
        if (!hasText) {
            prefix_.clear();
            return;
        }
        if (wantGap_ && !out_.empty()) emitLine("");
        wantGap_ = false;
        std::string margin(static_cast<std::size_t>(indent_), ' ');
        std::size_t widest = 0;
        if (preformatted_) {
            std::size_t start = 0;
            while (start < text.size()) {
                std::size_t end = text.find('\n', start);
                if (end == std::string::npos) end = text.size();
                emitLine(margin + text.substr(start, end - start));
                start = end + 1;
            }
        } else {
            std::string first = margin + prefix_;
            std::string rest = margin + std::string(columns(prefix_), ' ');
            std::size_t limit = static_cast<std::size_t>(width_);
            std::size_t start = 0;
            bool firstLine = true;
            while (start <= text.size()) {
                std::size_t end = text.find('\n', start);
                if (end == std::string::npos) end = text.size();
                std::string line = firstLine ? first : rest;
                std::size_t lineStart = line.size();
                std::size_t segmentStart = start;
                while (segmentStart < end) {
                    std::size_t space = text.find(' ', segmentStart);
                    if (space == std::string::npos || space > end) space = end;
                    std::string w = text.substr(segmentStart, space - segmentStart);
                    segmentStart = space + 1;
                    if (w.empty()) continue;
                    if (line.size() > lineStart && columns(line) + 1 + columns(w) > limit) {
                        widest = std::max(widest, columns(line));
                        emitLine(line);
                        firstLine = false;
                        line = rest;
                        lineStart = line.size();
                    }
                    if (line.size() > lineStart) line += ' ';
                    line += w;
                }
                widest = std::max(widest, columns(line));
                emitLine(line);
                firstLine = false;
                start = end + 1;
            }
        }
        if (underline_) emitLine(margin + std::string(widest > margin.size() ? widest - margin.size() : 0, underline_));
        underline_ = 0;
        prefix_.clear();
    }

    int width_;
    int indent_ = 0;
    std::string out_;
    std::string paragraph_;
    std::string prefix_;
    bool pendingBlank_ = false;
    bool preformatted_ = false;
    bool wantGap_ = false;
    char underline_ = 0;
};

struct Tag {
    std::string name;  // lower case, without "/"
    bool closing = false;
};

// Reads the tag whose "<" is at `at`; moves `at` past its ">" (or to the end).
Tag readTag(std::string_view html, std::size_t& at) {
    Tag tag;
    std::size_t i = at + 1;
    if (i < html.size() && html[i] == '/') {
        tag.closing = true;
        ++i;
    }
    std::size_t nameStart = i;
    while (i < html.size() && (std::isalnum(static_cast<unsigned char>(html[i])) || html[i] == '-')) ++i;
    tag.name = lower(html.substr(nameStart, i - nameStart));
    // Quoted attribute values may hold ">".
    char quote = 0;
    for (; i < html.size(); ++i) {
        char c = html[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    at = i < html.size() ? i + 1 : html.size();
    return tag;
}

bool isOneOf(const std::string& name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

}  // namespace

std::string htmlToText(std::string_view html, int width) {
    TextBuilder text(width);
    struct List {
        bool ordered;
        int next = 1;
    };
    std::vector<List> lists;
    std::string skipUntil;  // the closing tag that ends skipped content (script, style, head, title)
    bool inCell = false;
    std::string word;
    auto endWord = [&] {
        if (!word.empty()) text.word(word);
        word.clear();
    };
    std::size_t i = 0;
    bool pre = false;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                std::size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            if (i + 1 < html.size() && (html[i + 1] == '!' || html[i + 1] == '?')) {
                std::size_t end = html.find('>', i);
                i = end == std::string_view::npos ? html.size() : end + 1;
                continue;
            }
            if (i + 1 >= html.size() ||
                !(std::isalpha(static_cast<unsigned char>(html[i + 1])) || html[i + 1] == '/')) {
                if (skipUntil.empty()) word += c;  // a lone "<" is text
                ++i;
                continue;
            }
            Tag tag = readTag(html, i);
            if (!skipUntil.empty()) {
                if (tag.closing && tag.name == skipUntil) skipUntil.clear();
                continue;
            }
            const std::string& n = tag.name;
            if (!tag.closing && isOneOf(n, {"script", "style", "head", "title"})) {
                endWord();
                skipUntil = n;
                continue;
            }
            if (n == "br") {
                endWord();
                text.lineBreak();
            } else if (n == "pre") {
                endWord();
                pre = !tag.closing;
                text.setPreformatted(pre);
                text.endBlock(true);
            } else if (n.size() == 2 && n[0] == 'h' && n[1] >= '1' && n[1] <= '6') {
                endWord();
                text.endBlock(true);
                if (!tag.closing && n[1] <= '2') text.setUnderline(n[1] == '1' ? '=' : '-');
            } else if (n == "ul" || n == "ol") {
                endWord();
                text.endBlock(lists.empty());
                if (tag.closing) {
                    if (!lists.empty()) lists.pop_back();
                    text.setIndent(2 * static_cast<int>(lists.size()));
                } else {
                    lists.push_back(List{n == "ol"});
                    text.setIndent(2 * static_cast<int>(lists.size() - 1));
                }
            } else if (n == "li") {
                endWord();
                text.endBlock(false);
                if (!tag.closing) {
                    if (!lists.empty() && lists.back().ordered)
                        text.setPrefix(std::to_string(lists.back().next++) + ". ");
                    else
                        text.setPrefix("* ");
                    text.setIndent(2 * static_cast<int>(lists.empty() ? 0 : lists.size() - 1) + 2);
                }
            } else if (n == "dt") {
                endWord();
                text.endBlock(false);
                text.setIndent(2 * static_cast<int>(lists.size()));
            } else if (n == "dd") {
                endWord();
                text.endBlock(false);
                text.setIndent(2 * static_cast<int>(lists.size()) + (tag.closing ? 0 : 4));
            } else if (n == "tr") {
                endWord();
                text.endBlock(false);
                inCell = false;
            } else if (n == "td" || n == "th") {
                endWord();
                if (!tag.closing) {
                    if (inCell) {
                        text.blank();
                        text.word("|");
                        text.blank();
                    }
                    inCell = true;
                }
            } else if (isOneOf(n, {"p", "div", "table", "blockquote", "dl", "body", "html", "section", "header",
                                   "footer", "caption"})) {
                endWord();
                text.endBlock(true);
                if (n == "dl" || n == "table") text.setIndent(2 * static_cast<int>(lists.size()));
            } else if (n == "hr") {
                endWord();
                text.endBlock(true);
                text.word("----");
                text.endBlock(true);
            }
            // Inline tags (a, b, i, em, code, span, img ...) leave only their text.
            continue;
        }
        if (!skipUntil.empty()) {
            ++i;
            continue;
        }
        if (c == '&') {
            std::size_t end = i + 1;
            while (end < html.size() && end - i <= 10 &&
                   (std::isalnum(static_cast<unsigned char>(html[end])) || html[end] == '#'))
                ++end;
            if (end < html.size() && html[end] == ';') {
                if (std::uint32_t cp = referencedCharacter(html.substr(i + 1, end - i - 1))) {
                    platform::appendUtf8(word, static_cast<char32_t>(cp));  // a no-break space stays inside its word
                    i = end + 1;
                    continue;
                }
            }
            word += c;
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            if (pre) {
                endWord();
                if (c == '\n')
                    text.newlineInPre();
                else if (c != '\r')
                    text.blank();
            } else {
                endWord();
                text.blank();
            }
            ++i;
            continue;
        }
        word += c;
        ++i;
    }
    endWord();
    return text.finish();
}

}  // namespace hhctrl
