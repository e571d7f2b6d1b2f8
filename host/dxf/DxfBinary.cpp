#include "host/dxf/DxfBinary.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace dxf {

namespace {

BinaryValue computeBinaryValue(int code) {
    auto in = [code](int lo, int hi) { return code >= lo && code <= hi; };
    if (in(10, 59) || in(110, 149) || in(210, 239) || in(460, 469) || in(1010, 1059)) return BinaryValue::Real;
    if (in(60, 79) || in(170, 179) || in(270, 289) || in(370, 389) || in(400, 409) || in(1060, 1070))
        return BinaryValue::Int16;
    if (in(90, 99) || in(420, 429) || in(440, 459) || code == 1071) return BinaryValue::Int32;
    if (in(160, 169)) return BinaryValue::Int64;
    if (in(290, 299)) return BinaryValue::Byte;
    if (in(310, 319) || code == 1004) return BinaryValue::Bytes;
    return BinaryValue::Text;
}

// Every tag of a file asks for its code's value type; a table answers at once.
struct CodeTable {
    BinaryValue value[kMaxGroupCode - kMinGroupCode + 1];
    CodeTable() {
        for (int c = kMinGroupCode; c <= kMaxGroupCode; ++c) value[c - kMinGroupCode] = computeBinaryValue(c);
    }
};
const CodeTable kCodes;

}  // namespace

BinaryValue binaryValueOf(int code) {
    return code >= kMinGroupCode && code <= kMaxGroupCode ? kCodes.value[code - kMinGroupCode] : BinaryValue::Text;
}

int binaryCodeBytesFor(std::string_view acadVer) {
    // Release 13 (AC1012) widened the group codes; earlier files escape the wide ones.
    return acadVer.size() == 6 && acadVer.substr(0, 2) == "AC" && acadVer >= "AC1012" ? 2 : 1;
}

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::uint64_t readLittle(const unsigned char* p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void appendLittle(std::string& out, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i, v >>= 8) out += static_cast<char>(v & 0xFF);
}

// The text of a real that reads back as the same bits (a negative zero included).
// Most coordinates in drawings have a few decimals: the real times a power of ten is
// then a whole number that divided by it gives the real again, and so does the
// decimal text of that quotient when read. That is far cheaper than the shortest
// text in general, which the rest get.
template <class Out>
void appendReal(Out& out, double d) {
    char* const p = out.room(40);
    char* e = p;
    if (d == 0) {
        if (std::signbit(d)) *e++ = '-';
        std::memcpy(e, "0.0", 3);
        out.advance(e + 3);
        return;
    }
    static constexpr double kTens[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    for (int k = 0; k < 9; ++k) {
        const double m = d * kTens[k];
        if (!(std::fabs(m) < 1e15)) break;
        if (m != std::trunc(m) || m / kTens[k] != d) continue;
        if (m < 0) *e++ = '-';
        char digits[24];
        char* const dEnd = std::to_chars(digits, digits + sizeof digits, static_cast<std::int64_t>(std::fabs(m))).ptr;
        const int n = static_cast<int>(dEnd - digits);
        if (k == 0) {
            std::memcpy(e, digits, static_cast<std::size_t>(n));
            e += n;
            *e++ = '.', *e++ = '0';
        } else if (n > k) {
            std::memcpy(e, digits, static_cast<std::size_t>(n - k));
            e += n - k;
            *e++ = '.';
            std::memcpy(e, digits + n - k, static_cast<std::size_t>(k));
            e += k;
        } else {
            *e++ = '0', *e++ = '.';
            for (int z = n; z < k; ++z) *e++ = '0';
            std::memcpy(e, digits, static_cast<std::size_t>(n));
            e += n;
        }
        out.advance(e);
        return;
    }
    auto r = std::to_chars(p, p + 38, d);
    e = r.ptr;
    if (std::find_if(p, e, [](char c) { return c == '.' || c == 'e'; }) == e) *e++ = '.', *e++ = '0';
    out.advance(e);
}

// A line break in a binary text (multi-line text has them) would end the tag early
// in the text the database reads: it becomes the escape an ASCII file spells it with,
// which means the same character to the code page layer, and the same byte again when
// written as binary. A backslash that would begin one of these escapes is itself
// escaped, so that a text holding such letters comes back as it was.
constexpr std::string_view kEscapedLf = "\\U+000A", kEscapedCr = "\\U+000D", kEscapedBackslash = "\\U+005C";

bool beginsEscape(std::string_view text) {
    return text.substr(0, 7) == kEscapedLf || text.substr(0, 7) == kEscapedCr || text.substr(0, 7) == kEscapedBackslash;
}

template <class Out>
void appendText(Out& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n')
            out.put(kEscapedLf);
        else if (c == '\r')
            out.put(kEscapedCr);
        else if (c == '\\' && beginsEscape(text.substr(i)))
            out.put(kEscapedBackslash);
        else
            out.put(c);
    }
}

void appendBinaryText(std::string& out, std::string_view text) {
    if (text.find("\\U+00") == std::string_view::npos) {
        out.append(text);
        return;
    }
    while (!text.empty()) {
        if (text.substr(0, 7) == kEscapedLf) {
            out += '\n';
        } else if (text.substr(0, 7) == kEscapedCr) {
            out += '\r';
        } else if (text.substr(0, 7) == kEscapedBackslash) {
            out += '\\';
        } else {
            out += text.front();
            text.remove_prefix(1);
            continue;
        }
        text.remove_prefix(7);
    }
}

// The text being made, written through a raw pointer: a file has millions of tags,
// and a string's checks on every append would cost more than the conversion.
class TextOut {
public:
    // Reserves `capacity` (address space only) and makes it usable a step at a time,
    // so that only pages the text needs are touched.
    explicit TextOut(std::string& s, std::size_t capacity) : s_(s) {
        s_.clear();
        s_.reserve(capacity);
        p_ = end_ = s_.data();
    }
    // Room for `n` more bytes.
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n) {
            const std::size_t used = size();
            constexpr std::size_t kStep = std::size_t{4} << 20;
            std::size_t grown = used + std::max(n, kStep);
            // Past the reservation, doubling keeps the copies few.
            if (grown > s_.capacity()) grown = std::max(grown, s_.capacity() * 2);
            s_.resize(grown);
            p_ = s_.data() + used;
            end_ = s_.data() + s_.size();
        }
        return p_;
    }
    void advance(char* to) { p_ = to; }
    void put(std::string_view v) {
        std::memcpy(room(v.size()), v.data(), v.size());
        p_ += v.size();
    }
    void put(char c) { *room(1) = c, ++p_; }
    std::size_t size() const { return static_cast<std::size_t>(p_ - s_.data()); }
    std::string_view since(std::size_t at) const { return std::string_view(s_.data() + at, size() - at); }
    void finish() { s_.resize(size()); }

private:
    std::string& s_;
    char* p_;
    char* end_;
};

// Walks the tags of a binary file.
class BinaryReader {
public:
    BinaryReader(std::string_view bytes, int codeBytes, std::size_t pos)
        : p_(reinterpret_cast<const unsigned char*>(bytes.data())),
          n_(bytes.size()),
          pos_(pos),
          codeBytes_(codeBytes) {}
    bool atEnd() const { return pos_ >= n_; }
    std::size_t offset() const { return pos_; }

    int code() {
        const std::size_t at = pos_;
        int c = 0;
        if (codeBytes_ == 1) {
            need(1, at, "a group code");
            c = p_[pos_++];
            if (c != 255) return c;
        }
        need(2, at, "a group code");
        c = static_cast<std::int16_t>(readLittle(p_ + pos_, 2));
        pos_ += 2;
        if (c < kMinGroupCode || c > kMaxGroupCode)
            throw DxfError(BytePlace{at}, "group code " + std::to_string(c) + " is out of the range of group codes");
        return c;
    }

    // Appends the value of group `code` as tag text, without its line end.
    template <class Out>
    void value(int code, Out& out) {
        const std::size_t at = pos_;
        switch (binaryValueOf(code)) {
        case BinaryValue::Text: {
            const std::size_t left = n_ - pos_;
            // Texts are mostly a few bytes: one pass finds the end and any line break.
            const unsigned char* const begin = p_ + pos_;
            const unsigned char* const stop = begin + std::min(left, kMaxLineBytes + 1);
            const unsigned char* q = begin;
            bool needsEscapes = false;
            for (; q < stop && *q != 0; ++q)
                if (*q <= '\r' || *q == '\\') needsEscapes = needsEscapes || *q == '\n' || *q == '\r' || *q == '\\';
            const void* nul = q < stop ? q : nullptr;
            if (!nul) {
                if (left > kMaxLineBytes)
                    throw DxfError(BytePlace{at}, "the text of group code " + std::to_string(code) +
                                                      " is longer than " + std::to_string(kMaxLineBytes) +
                                                      " bytes, more than any drawing has");
                throw DxfError(BytePlace{at}, "the file ends inside the text of group code " + std::to_string(code));
            }
            std::string_view text(reinterpret_cast<const char*>(p_ + pos_),
                                  static_cast<const unsigned char*>(nul) - (p_ + pos_));
            if (needsEscapes)
                appendText(out, text);
            else
                out.put(text);
            pos_ += text.size() + 1;
            return;
        }
        case BinaryValue::Real: {
            need(8, at, "a real");
            const double d = std::bit_cast<double>(readLittle(p_ + pos_, 8));
            if (!std::isfinite(d))
                throw DxfError(BytePlace{at}, "group code " + std::to_string(code) + " holds a real that is no number");
            pos_ += 8;
            appendReal(out, d);
            return;
        }
        case BinaryValue::Int16:
            return integer(2, at, out, static_cast<std::int16_t>(readLittleChecked(2, at)));
        case BinaryValue::Int32:
            return integer(4, at, out, static_cast<std::int32_t>(readLittleChecked(4, at)));
        case BinaryValue::Int64:
            return integer(8, at, out, static_cast<std::int64_t>(readLittleChecked(8, at)));
        case BinaryValue::Byte:
            return integer(1, at, out, static_cast<std::int64_t>(readLittleChecked(1, at)));
        case BinaryValue::Bytes: {
            need(1, at, "binary data");
            const std::size_t count = p_[pos_];
            need(1 + count, at, "binary data");
            char* h = out.room(2 * count);
            for (std::size_t i = 0; i < count; ++i) {
                const unsigned char b = p_[pos_ + 1 + i];
                *h++ = kHex[b >> 4];
                *h++ = kHex[b & 15];
            }
            out.advance(h);
            pos_ += 1 + count;
            return;
        }
        }
    }

private:
    void need(std::size_t bytes, std::size_t at, const char* what) const {
        if (n_ - pos_ < bytes) throw DxfError(BytePlace{at}, std::string("the file ends inside ") + what);
    }
    std::uint64_t readLittleChecked(int bytes, std::size_t at) const {
        need(static_cast<std::size_t>(bytes), at, "a number");
        return readLittle(p_ + pos_, bytes);
    }
    template <class Out>
    void integer(int bytes, std::size_t, Out& out, std::int64_t v) {
        pos_ += static_cast<std::size_t>(bytes);
        char* const p = out.room(24);
        out.advance(std::to_chars(p, p + 24, v).ptr);
    }

    const unsigned char* p_;
    std::size_t n_;
    std::size_t pos_;
    int codeBytes_;
};

// The group code width of a file, from its first tag: with two-byte codes a 0 is two
// zero bytes, with one-byte codes the zero is followed by text (or 255 escapes a wide
// code such as a 999 comment).
int detectCodeBytes(std::string_view bytes) {
    if (bytes.size() < kBinarySentinel.size() + 2) return 2;
    const auto b0 = static_cast<unsigned char>(bytes[kBinarySentinel.size()]);
    const auto b1 = static_cast<unsigned char>(bytes[kBinarySentinel.size() + 1]);
    if (b0 == 255) return 1;
    if (b0 == 0) return b1 == 0 ? 2 : 1;
    return 2;
}

}  // namespace

std::string binaryToText(std::string_view bytes, BinarySource& source) {
    if (bytes.substr(0, kBinarySentinel.size()) != kBinarySentinel)
        throw DxfError(BytePlace{0}, "the file begins like a binary DXF file but its first 22 bytes are damaged");
    source.codeBytes = detectCodeBytes(bytes);
    source.objects.clear();
    source.tags = TagIndex{};
    // About one tag in ten bytes.
    source.tags.begins.reserve(bytes.size() / 8);
    std::string text;
    // Numbers take about twice their bytes as text, texts as many; the buffer grows
    // if a file has more numbers than most.
    TextOut out(text, bytes.size() + bytes.size() / 2 + 64);
    BinaryReader reader(bytes, source.codeBytes, kBinarySentinel.size());
    source.trailingAt = bytes.size();
    while (!reader.atEnd()) {
        const std::size_t tagAt = reader.offset();
        const int code = reader.code();
        if (code == 0) {
            if (out.size() >= UINT32_MAX || tagAt >= UINT32_MAX)
                throw DxfError(BytePlace{tagAt}, "the drawing is larger than 4 GB as text");
            source.objects.emplace_back(static_cast<std::uint32_t>(out.size()), static_cast<std::uint32_t>(tagAt));
        }
        source.tags.begins.push_back(static_cast<std::uint32_t>(out.size()));
        char* const c = out.room(8);
        char* e = std::to_chars(c, c + 7, code).ptr;
        *e++ = '\n';
        out.advance(e);
        const std::size_t valueAt = out.size();
        reader.value(code, out);
        // A code that binary files keep as text but ASCII ones as an integer must
        // hold one, or the drawing saved as ASCII would not read back.
        if (code >= 80 && code <= 89 && binaryValueOf(code) == BinaryValue::Text &&
            valueType(code) == ValueType::Integer) {
            // As the ASCII reader takes it: a value it wrote right-aligned reads back.
            std::string_view v = out.since(valueAt);
            if (!isIntegerText(v))
                throw DxfError(BytePlace{tagAt},
                               "group code " + std::to_string(code) + " expects an integer, got " + quoteInput(v));
        }
        const bool isEof = code == 0 && out.since(valueAt) == "EOF";
        out.put('\n');
        if (isEof) {
            source.trailingAt = reader.offset();
            break;
        }
    }
    out.finish();
    return text;
}

std::size_t BinarySource::byteOfLine(std::string_view text, std::size_t line) const {
    if (line == 0) return 0;
    // The offset of the line in the text, then the object it is in.
    std::size_t at = 0;
    for (std::size_t l = 1; l < line && at < text.size(); ++l) {
        const std::size_t nl = text.find('\n', at);
        if (nl == std::string_view::npos) {
            at = text.size();
            break;
        }
        at = nl + 1;
    }
    auto it =
        std::upper_bound(objects.begin(), objects.end(), at, [](std::size_t v, const auto& e) { return v < e.first; });
    if (it == objects.begin()) return kBinarySentinel.size();
    --it;
    // Tag by tag from there, in both forms at once.
    std::size_t textAt = it->first;
    BinaryReader reader(bytes, codeBytes, it->second);
    try {
        while (!reader.atEnd()) {
            const std::size_t tagAt = reader.offset();
            const std::size_t codeEnd = text.find('\n', textAt);
            const std::size_t valueEnd = codeEnd == std::string_view::npos ? codeEnd : text.find('\n', codeEnd + 1);
            if (valueEnd == std::string_view::npos || at <= valueEnd) return tagAt;
            const int code = reader.code();
            std::string scratchText;
            TextOut scratch(scratchText, 64);
            reader.value(code, scratch);
            textAt = valueEnd + 1;
        }
    } catch (const DxfError&) {
    }
    return reader.offset();
}

std::string BinarySource::placesInBytes(std::string_view text, std::string message) const {
    std::string out;
    std::size_t i = 0;
    while (true) {
        const std::size_t at = message.find("line ", i);
        if (at == std::string::npos) break;
        std::size_t end = at + 5;
        std::size_t line = 0;
        while (end < message.size() && message[end] >= '0' && message[end] <= '9')
            line = line * 10 + static_cast<std::size_t>(message[end++] - '0');
        out.append(message, i, at - i);
        if (end == at + 5)
            out.append("line ");
        else
            out += "byte " + std::to_string(byteOfLine(text, line));
        i = end;
    }
    out.append(message, i, std::string::npos);
    return out;
}

BinaryWriter::BinaryWriter(Sink sink, int codeBytes, const BinarySource* source, std::string_view sourceText)
    : sink_(std::move(sink)), codeBytes_(codeBytes), source_(source), sourceText_(sourceText) {
    out_.reserve(1 << 16);
    out_.append(source_ ? std::string_view(source_->bytes).substr(0, kBinarySentinel.size()) : kBinarySentinel);
}

void BinaryWriter::emit(std::string_view bytes) {
    if (bytes.size() >= (1 << 16)) {
        flush();
        sink_(bytes);
        return;
    }
    out_.append(bytes);
    if (out_.size() >= (1 << 16)) flush();
}

void BinaryWriter::flush() {
    if (out_.empty()) return;
    sink_(out_);
    out_.clear();
}

void BinaryWriter::put(std::string_view text) {
    const char* base = sourceText_.data();
    if (!source_ || text.empty() || text.data() < base || text.data() + text.size() > base + sourceText_.size()) {
        convert(text);
        return;
    }
    // A stretch of the source text: whole objects in it are the source's bytes.
    const auto& objects = source_->objects;
    const std::size_t a = static_cast<std::size_t>(text.data() - base), b = a + text.size();
    auto first =
        std::lower_bound(objects.begin(), objects.end(), a, [](const auto& e, std::size_t v) { return e.first < v; });
    auto last =
        std::upper_bound(objects.begin(), objects.end(), b, [](std::size_t v, const auto& e) { return v < e.first; });
    if (first == objects.end() || last == objects.begin() || --last <= first) {
        convert(text);
        return;
    }
    convert(text.substr(0, first->first - a));
    if (!partial_.empty() || haveCode_ || ended_) {
        // Not at a tag's start after all (a changed value ends on this stretch's first line).
        convert(text.substr(first->first - a));
        return;
    }
    started_ = true;
    emit(std::string_view(source_->bytes).substr(first->second, last->second - first->second));
    convert(text.substr(last->first - a));
}

void BinaryWriter::convert(std::string_view text) {
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        if (nl == std::string_view::npos) {
            partial_.append(text);
            return;
        }
        if (partial_.empty()) {
            line(text.substr(0, nl));
        } else {
            partial_.append(text.substr(0, nl));
            line(partial_);
            partial_.clear();
        }
        text.remove_prefix(nl + 1);
    }
}

void BinaryWriter::line(std::string_view l) {
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    if (!started_) {
        started_ = true;
        if (l.substr(0, 3) == "\xEF\xBB\xBF") l.remove_prefix(3);  // no place for it in binary
    }
    if (ended_) return;
    if (haveCode_) {
        haveCode_ = false;
        tag(code_, l);
        return;
    }
    std::string_view c = l;
    while (!c.empty() && (c.front() == ' ' || c.front() == '\t')) c.remove_prefix(1);
    while (!c.empty() && (c.back() == ' ' || c.back() == '\t')) c.remove_suffix(1);
    if (c.empty() || c == "\x1a") return;  // blank lines after the last tag
    auto r = std::from_chars(c.data(), c.data() + c.size(), code_);
    if (r.ec != std::errc() || r.ptr != c.data() + c.size() || code_ < kMinGroupCode || code_ > kMaxGroupCode)
        throw BinaryWriteError("'" + std::string(c.substr(0, 20)) + "' is no group code");
    haveCode_ = true;
}

void BinaryWriter::tag(int code, std::string_view value) {
    std::string t;
    if (codeBytes_ == 1 && code >= 0 && code < 255) {
        t += static_cast<char>(code);
    } else {
        if (codeBytes_ == 1) t += static_cast<char>(255);
        appendLittle(t, static_cast<std::uint16_t>(static_cast<std::int16_t>(code)), 2);
    }
    auto fail = [&](const char* what) {
        throw BinaryWriteError("group code " + std::to_string(code) + " cannot hold '" +
                               std::string(value.substr(0, 40)) + "' in binary DXF: " + what);
    };
    auto trimmed = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        if (!s.empty() && s.front() == '+') s.remove_prefix(1);
        return s;
    };
    auto integer = [&](std::int64_t lo, std::int64_t hi, int bytes) {
        std::string_view s = trimmed(value);
        std::int64_t v = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) fail("not an integer");
        if (v < lo || v > hi) fail("out of its range");
        appendLittle(t, static_cast<std::uint64_t>(v), bytes);
    };
    switch (binaryValueOf(code)) {
    case BinaryValue::Text:
        if (value.find('\0') != std::string_view::npos) fail("a zero byte");
        appendBinaryText(t, value);
        t += '\0';
        break;
    case BinaryValue::Real: {
        std::string_view s = trimmed(value);
        double d = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), d);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(d)) fail("not a number");
        appendLittle(t, std::bit_cast<std::uint64_t>(d), 8);
        break;
    }
    case BinaryValue::Int16:
        integer(INT16_MIN, INT16_MAX, 2);
        break;
    case BinaryValue::Int32:
        integer(INT32_MIN, INT32_MAX, 4);
        break;
    case BinaryValue::Int64:
        integer(INT64_MIN, INT64_MAX, 8);
        break;
    case BinaryValue::Byte:
        integer(0, 255, 1);
        break;
    case BinaryValue::Bytes: {
        std::string_view s = trimmed(value);
        if (s.size() % 2 != 0 || s.size() / 2 > 255) fail("binary data of up to 255 bytes in hex");
        t += static_cast<char>(s.size() / 2);
        for (std::size_t i = 0; i < s.size(); i += 2) {
            auto hex = [&](char ch) {
                if (ch >= '0' && ch <= '9') return ch - '0';
                if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
                if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
                fail("binary data of up to 255 bytes in hex");
                return 0;
            };
            t += static_cast<char>(hex(s[i]) * 16 + hex(s[i + 1]));
        }
        break;
    }
    }
    emit(t);
    if (code == 0 && value == "EOF") ended_ = true;
}

void BinaryWriter::finish() {
    if (!partial_.empty()) {
        std::string last = std::move(partial_);
        partial_.clear();
        line(last);
    }
    if (haveCode_ && !ended_) throw BinaryWriteError("group code " + std::to_string(code_) + " has no value");
    if (source_) emit(std::string_view(source_->bytes).substr(source_->trailingAt));
    flush();
}

}  // namespace dxf
