#include "sheet/DateFormat.h"

#include "platform/Variant.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace sheet {
namespace {

// 1904-01-01 as an automation date.
constexpr double kDay1904 = 1462;
// The first serial past 9999-12-31 in the 1900 system (where serials from 61 on are
// automation dates).
constexpr double kSerialEnd1900 = platform::kDateEnd;

enum class Part : std::uint8_t {
    Literal,
    Year,
    Month,
    Day,
    Hour,
    Minute,
    Second,
    ElapsedHours,
    ElapsedMinutes,
    ElapsedSeconds,
    AmPm,
    Fraction,  // of a second: ".0", ".00", ".000"
};

struct Token {
    Part part = Part::Literal;
    int count = 0;     // letters (or zeros of a fraction)
    std::string text;  // a literal; for AM/PM the spelling in the code
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool isAll(std::string_view text, char letter) {
    if (text.empty()) return false;
    for (char c : text)
        if (lower(c) != letter) return false;
    return true;
}

// The tokens of a code's first section (the one for positive numbers, which dates
// and times are).
std::vector<Token> tokenize(std::string_view code) {
    std::vector<Token> tokens;
    auto literal = [&](std::string_view text) { tokens.push_back(Token{Part::Literal, 0, std::string(text)}); };
    for (std::size_t i = 0; i < code.size();) {
        const char c = code[i];
        const char l = lower(c);
        if (c == '"') {
            const std::size_t end = code.find('"', i + 1);
            literal(code.substr(i + 1, (end == std::string_view::npos ? code.size() : end) - i - 1));
            i = end == std::string_view::npos ? code.size() : end + 1;
        } else if (c == '\\') {
            if (i + 1 < code.size()) literal(code.substr(i + 1, 1));
            i += 2;
        } else if (c == '_') {
            literal(" ");  // the width of the next character, blank
            i += 2;
        } else if (c == '*') {
            i += 2;  // a fill to the cell's width, which the text does not carry
        } else if (c == '[') {
            const std::size_t end = code.find(']', i + 1);
            const std::string_view inside =
                code.substr(i + 1, (end == std::string_view::npos ? code.size() : end) - i - 1);
            if (isAll(inside, 'h'))
                tokens.push_back(Token{Part::ElapsedHours, static_cast<int>(inside.size()), {}});
            else if (isAll(inside, 'm'))
                tokens.push_back(Token{Part::ElapsedMinutes, static_cast<int>(inside.size()), {}});
            else if (isAll(inside, 's'))
                tokens.push_back(Token{Part::ElapsedSeconds, static_cast<int>(inside.size()), {}});
            else if (!inside.empty() && inside[0] == '$')
                literal(
                    inside.substr(1, inside.find('-') == std::string_view::npos ? inside.npos : inside.find('-') - 1));
            // Colors and conditions show nothing.
            i = end == std::string_view::npos ? code.size() : end + 1;
        } else if (c == ';') {
            break;
        } else if (l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 's') {
            std::size_t end = i;
            while (end < code.size() && lower(code[end]) == l) ++end;
            const Part part = l == 'y'   ? Part::Year
                              : l == 'm' ? Part::Month
                              : l == 'd' ? Part::Day
                              : l == 'h' ? Part::Hour
                                         : Part::Second;
            tokens.push_back(Token{part, static_cast<int>(end - i), {}});
            i = end;
        } else if (l == 'a' && code.size() - i >= 5 && lower(code[i + 1]) == 'm' && code[i + 2] == '/' &&
                   lower(code[i + 3]) == 'p' && lower(code[i + 4]) == 'm') {
            tokens.push_back(Token{Part::AmPm, 2, std::string(code.substr(i, 5))});
            i += 5;
        } else if (l == 'a' && code.size() - i >= 3 && code[i + 1] == '/' && lower(code[i + 2]) == 'p') {
            tokens.push_back(Token{Part::AmPm, 1, std::string(code.substr(i, 3))});
            i += 3;
        } else if (c == '.' && i + 1 < code.size() && code[i + 1] == '0' && !tokens.empty() &&
                   (tokens.back().part == Part::Second || tokens.back().part == Part::ElapsedSeconds)) {
            std::size_t end = i + 1;
            while (end < code.size() && code[end] == '0') ++end;
            tokens.push_back(Token{Part::Fraction, static_cast<int>(end - i - 1), {}});
            i = end;
        } else {
            literal(code.substr(i, 1));
            ++i;
        }
    }
    // "m" and "mm" are minutes right after hours or right before seconds, literals
    // between them not counting; months otherwise.
    auto neighbour = [&](std::size_t at, int step) -> const Token* {
        for (auto j = static_cast<std::ptrdiff_t>(at) + step; j >= 0 && j < static_cast<std::ptrdiff_t>(tokens.size());
             j += step)
            if (tokens[static_cast<std::size_t>(j)].part != Part::Literal) return &tokens[static_cast<std::size_t>(j)];
        return nullptr;
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].part != Part::Month || tokens[i].count > 2) continue;
        const Token* before = neighbour(i, -1);
        const Token* after = neighbour(i, 1);
        if ((before && (before->part == Part::Hour || before->part == Part::ElapsedHours)) ||
            (after && (after->part == Part::Second || after->part == Part::ElapsedSeconds)))
            tokens[i].part = Part::Minute;
    }
    return tokens;
}

constexpr const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

void appendNumber(std::string& out, long long value, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", digits, value);
    out += buffer;
}

}  // namespace

bool isDateTimeCode(std::string_view code) {
    // The tokenizer's rules without its tokens: cells ask this of their format
    // whenever a number is read or shown.
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        const char l = lower(c);
        if (c == '"') {
            i = code.find('"', i + 1);
            if (i == std::string_view::npos) return false;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;
        } else if (c == '[') {
            const std::size_t end = code.find(']', i + 1);
            const std::string_view inside =
                code.substr(i + 1, (end == std::string_view::npos ? code.size() : end) - i - 1);
            if (isAll(inside, 'h') || isAll(inside, 'm') || isAll(inside, 's')) return true;
            if (end == std::string_view::npos) return false;
            i = end;
        } else if (l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 's') {
            return true;
        } else if (l == 'a' && ((code.size() - i >= 5 && lower(code[i + 1]) == 'm' && code[i + 2] == '/' &&
                                 lower(code[i + 3]) == 'p' && lower(code[i + 4]) == 'm') ||
                                (code.size() - i >= 3 && code[i + 1] == '/' && lower(code[i + 2]) == 'p'))) {
            return true;
        }
    }
    return false;
}

bool isDateTimeFormatId(std::uint32_t id) { return (id >= 14 && id <= 22) || (id >= 45 && id <= 47); }

std::optional<std::string> formatDateTime(double serial, std::string_view code, bool isDate1904) {
    if (!std::isfinite(serial) || serial < 0 || serial >= kSerialEnd1900 - (isDate1904 ? kDay1904 : 0))
        return std::nullopt;
    const std::vector<Token> tokens = tokenize(code);
    int fractionDigits = 0;
    bool twelveHours = false;
    for (const Token& t : tokens) {
        if (t.part == Part::Fraction) fractionDigits = std::max(fractionDigits, std::min(t.count, 3));
        if (t.part == Part::AmPm) twelveHours = true;
    }
    long long unitsPerSecond = 1;
    for (int i = 0; i < fractionDigits; ++i) unitsPerSecond *= 10;
    // The value is rounded to the smallest unit shown, as the application does
    // (12:29:59.99999 shows as 12:30:00), and only then split into its parts.
    const long long units = std::llround(serial * 86400.0 * static_cast<double>(unitsPerSecond));
    const long long unitsPerDay = 86400 * unitsPerSecond;
    const long long day = units / unitsPerDay;
    const long long fraction = units % unitsPerSecond;
    const long long totalSeconds = units / unitsPerSecond;
    const long long second = totalSeconds % 86400;

    platform::CivilDate date;
    int weekday = 0;  // Sunday
    if (isDate1904) {
        date = platform::civilDateOfDay(day + static_cast<long long>(kDay1904));
        weekday = static_cast<int>((day + static_cast<long long>(kDay1904) + 6) % 7);
    } else {
        // The 1900 system counts a 29 February 1900, and its weekdays follow its
        // own count (serial 1, 1900-01-01, is a Sunday there).
        if (day == 0)
            date = platform::CivilDate{1900, 1, 0};
        else if (day == 60)
            date = platform::CivilDate{1900, 2, 29};
        else
            date = platform::civilDateOfDay(day < 60 ? day + 1 : day);
        weekday = static_cast<int>((day + 6) % 7);
    }

    std::string out;
    for (const Token& t : tokens) {
        switch (t.part) {
        case Part::Literal:
            out += t.text;
            break;
        case Part::Year:
            if (t.count <= 2)
                appendNumber(out, date.year % 100, 2);
            else
                appendNumber(out, date.year, 4);
            break;
        case Part::Month:
            if (t.count <= 2)
                appendNumber(out, date.month, t.count);
            else if (t.count == 3)
                out.append(kMonths[date.month - 1], 3);
            else if (t.count == 4)
                out += kMonths[date.month - 1];
            else
                out += kMonths[date.month - 1][0];
            break;
        case Part::Day:
            if (t.count <= 2)
                appendNumber(out, date.day, t.count);
            else if (t.count == 3)
                out.append(kWeekdays[weekday], 3);
            else
                out += kWeekdays[weekday];
            break;
        case Part::Hour: {
            long long hour = second / 3600;
            if (twelveHours) hour = hour % 12 == 0 ? 12 : hour % 12;
            appendNumber(out, hour, std::min(t.count, 2));
            break;
        }
        case Part::Minute:
            appendNumber(out, second / 60 % 60, std::min(t.count, 2));
            break;
        case Part::Second:
            appendNumber(out, second % 60, std::min(t.count, 2));
            break;
        case Part::ElapsedHours:
            appendNumber(out, totalSeconds / 3600, t.count);
            break;
        case Part::ElapsedMinutes:
            appendNumber(out, totalSeconds / 60, t.count);
            break;
        case Part::ElapsedSeconds:
            appendNumber(out, totalSeconds, t.count);
            break;
        case Part::AmPm: {
            const bool pm = second >= 12 * 3600;
            if (t.count == 1) {
                out += t.text[pm ? 2 : 0];  // A/P keeps the case the code spells it in
            } else {
                const bool isLower = t.text[0] == 'a';
                out += pm ? (isLower ? "pm" : "PM") : (isLower ? "am" : "AM");
            }
            break;
        }
        case Part::Fraction: {
            out += '.';
            long long shown = fraction;
            for (int i = t.count; i < fractionDigits; ++i) shown /= 10;
            appendNumber(out, shown, std::min(t.count, fractionDigits));
            break;
        }
        }
    }
    return out;
}

std::optional<double> automationDateOfSerial(double serial, bool isDate1904) {
    if (!std::isfinite(serial) || serial < 0) return std::nullopt;
    const double date = isDate1904                   ? serial + kDay1904
                        : serial < 1 || serial >= 61 ? serial
                        : serial < 60                ? serial + 1
                                                     : -1;
    if (date < 0 || date >= platform::kDateEnd) return std::nullopt;
    return date;
}

std::optional<double> serialOfAutomationDate(double date, bool isDate1904) {
    if (!std::isfinite(date) || date < 0 || date >= platform::kDateEnd) return std::nullopt;
    if (isDate1904) {
        if (date < kDay1904) return std::nullopt;
        return date - kDay1904;
    }
    if (date < 1 || date >= 61) return date;
    if (date < 2) return std::nullopt;  // 1899-12-31
    return date - 1;
}

std::string_view formatCodeForAssignedDate(double date) {
    const double day = std::floor(date);
    if (day == 0) return "h:mm:ss AM/PM";
    return date == day ? "m/d/yyyy" : "m/d/yyyy h:mm";
}

}  // namespace sheet
