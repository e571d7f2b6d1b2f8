#include "host/db/AcUnits.h"

#include "host/db/AcDbDatabase.h"
#include "host/db/UnitFormat.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>

namespace units {

namespace {

constexpr double kPi = std::numbers::pi;

// "%.*f" as the C locale writes it, whatever the process locale says, and without
// the formatted-output machinery a drawing's every coordinate would pass through.
std::string fixed(double v, int prec) {
    char buf[400];  // the largest double written in full with up to 16 decimals
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, prec);
    if (r.ec != std::errc()) return "0";
    return std::string(buf, r.ptr);
}

std::string suppressDecimalZeros(std::string s, int dimzin) {
    if ((dimzin & 8) && s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (dimzin & 4) {
        if (s.rfind("0.", 0) == 0)
            s.erase(0, 1);
        else if (s.rfind("-0.", 0) == 0)
            s.erase(1, 1);
    }
    return s;
}

int gcdInt(long a, long b) {
    while (b) {
        long t = a % b;
        a = b;
        b = t;
    }
    return static_cast<int>(a);
}

// Whole and fraction "3 1/2", "1/2", "3", "0". The whole part is a double holding an
// integer, so that a distance beyond the range of long is still written in full.
std::string wholeAndFraction(double whole, long num, long den) {
    std::string s;
    if (num) {
        int g = gcdInt(num, den);
        num /= g;
        den /= g;
    }
    if (whole != 0 || !num) s = fixed(whole, 0);
    if (num) {
        if (!s.empty()) s += ' ';
        s += std::to_string(num) + "/" + std::to_string(den);
    }
    return s;
}

// Feet and inches under the zero suppression of DIMZIN's two low bits.
std::string feetInches(double feet, const std::string& inches, bool inchesZero, int dimzin) {
    int mode = dimzin & 3;
    bool showFeet = feet != 0 || mode == 1 || mode == 2;
    bool showInches = !inchesZero || mode == 1 || mode == 3 || feet == 0;
    std::string s;
    if (showFeet) s = fixed(feet, 0) + "'";
    if (showFeet && showInches) s += "-";
    if (showInches) s += inches + "\"";
    return s;
}

double normalizeAngle(double a) {
    a = std::fmod(a, 2 * kPi);
    if (a < 0) a += 2 * kPi;
    return a;
}

// Degrees as "45d", "45d30'", "45d30'15\"" or "45d30'15.25\"" by precision.
std::string dms(double degrees, int prec) {
    char buf[96];
    if (prec <= 0) {
        std::snprintf(buf, sizeof buf, "%.0fd", std::round(degrees));
        return buf;
    }
    if (prec <= 2) {
        long total = std::lround(degrees * 60);
        std::snprintf(buf, sizeof buf, "%ldd%ld'", total / 60, total % 60);
        return buf;
    }
    int decimals = prec <= 4 ? 0 : prec - 4;
    double scale = std::pow(10.0, decimals);
    long long total = std::llround(degrees * 3600 * scale);  // in units of the last decimal
    long long perMinute = static_cast<long long>(60 * scale);
    long long d = total / (3600 * static_cast<long long>(scale));
    long long rest = total % (3600 * static_cast<long long>(scale));
    long long m = rest / perMinute;
    double sec = static_cast<double>(rest % perMinute) / scale;
    std::snprintf(buf, sizeof buf, "%lldd%lld'%.*f\"", d, m, decimals, sec);
    return buf;
}

const char* skipSpaces(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// Reads "D d M ' S \"" (each part optional after the first); nullptr when malformed.
const char* readDms(const char* p, double& degrees) {
    char* end = nullptr;
    degrees = 0;
    double d = std::strtod(p, &end);
    if (end == p) return nullptr;
    p = end;
    if (*p == 'd' || *p == 'D') {
        ++p;
        double m = std::strtod(p, &end);
        if (end != p && *end == '\'') {
            p = end + 1;
            double s = std::strtod(p, &end);
            if (end != p && *end == '"')
                p = end + 1;
            else
                s = 0;
            d += (d < 0 ? -1 : 1) * (m / 60 + s / 3600);
        } else if (end != p) {
            return nullptr;
        }
    }
    degrees = d;
    return p;
}

}  // namespace

UnitSettings settingsOf(const AcDbDatabase& db) {
    return {db.lunits(), db.luprec(), db.aunits(), db.auprec(), db.dimzin()};
}

UnitSettings workingSettings() {
    AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
    return db ? settingsOf(*db) : UnitSettings{};
}

std::string formatDistance(double v, int lunits, int prec, int dimzin) {
    if (prec < 0) prec = 0;
    if (prec > 8) prec = 8;
    if (!std::isfinite(v)) return std::isnan(v) ? "nan" : v < 0 ? "-inf" : "inf";
    bool negative = v < 0;
    double a = std::fabs(v);
    std::string s;
    switch (lunits) {
    case 1: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*E", prec, a);
        s = buf;
        break;
    }
    // Feet and whole units are split off before rounding: the distance counted in
    // units of the last decimal (or fraction) would overflow an integer for distances
    // a drawing can hold (1e11 inches at 8 decimals), and fmod splits exactly.
    case 3: {
        double scale = std::pow(10.0, prec);
        double inches = std::fmod(a, 12.0);
        double feet = (a - inches) / 12;
        double steps = std::round(inches * scale);  // inches in units of the last decimal
        if (steps >= 12 * scale) {
            feet += 1;
            steps = 0;
        }
        s = feetInches(feet, fixed(steps / scale, prec), steps == 0, dimzin);
        break;
    }
    case 4:
    case 5: {
        long den = 1L << prec;
        if (lunits == 5) {
            double whole = std::floor(a);
            long n = std::lround((a - whole) * static_cast<double>(den));
            if (n >= den) {
                whole += 1;
                n = 0;
            }
            s = wholeAndFraction(whole, n, den);
            break;
        }
        double inches = std::fmod(a, 12.0);
        double feet = (a - inches) / 12;
        long rest = std::lround(inches * static_cast<double>(den));  // in units of 1/den inch
        if (rest >= 12 * den) {
            feet += 1;
            rest = 0;
        }
        s = feetInches(feet, wholeAndFraction(static_cast<double>(rest / den), rest % den, den), rest == 0, dimzin);
        break;
    }
    default:
        s = suppressDecimalZeros(fixed(a, prec), dimzin);
        break;
    }
    // No sign on a value that rounds to zero.
    bool allZero = s.find_first_of("123456789") == std::string::npos;
    return negative && !allZero ? "-" + s : s;
}

std::string formatAngle(double radians, int aunits, int prec) {
    if (prec < 0) prec = 0;
    if (prec > 8) prec = 8;
    if (!std::isfinite(radians)) return "nan";
    double a = normalizeAngle(radians);
    double deg = a * 180 / kPi;
    switch (aunits) {
    case 1: {
        std::string s = dms(deg, prec);
        return s.rfind("360d", 0) == 0 ? dms(0, prec) : s;
    }
    case 2: {
        std::string s = fixed(a * 200 / kPi, prec);
        return (std::stod(s) >= 400 ? fixed(0, prec) : s) + "g";
    }
    case 3: {
        std::string s = fixed(a, prec);
        return (std::stod(s) >= 2 * kPi && std::stod(fixed(0, prec)) == 0 &&
                        std::stod(s) == std::stod(fixed(2 * kPi, prec))
                    ? fixed(0, prec)
                    : s) +
               "r";
    }
    case 4: {
        // Bearings: an angle off north or south toward east or west.
        const char* ns;
        const char* ew;
        double off;
        if (deg <= 180) {
            ns = "N";
            off = std::fabs(90 - deg);
            ew = deg < 90 ? "E" : "W";
        } else {
            ns = "S";
            off = std::fabs(270 - deg);
            ew = deg > 270 ? "E" : "W";
        }
        std::string d = dms(off, prec);
        std::string zero = dms(0, prec), ninety = dms(90, prec);
        if (d == zero) return ns;
        if (d == ninety) return deg < 90 || deg > 270 ? "E" : "W";
        return std::string(ns) + " " + d + " " + ew;
    }
    default: {
        std::string s = fixed(deg, prec);
        return std::stod(s) >= 360 ? fixed(0, prec) : s;
    }
    }
}

std::optional<double> parseAngle(std::string_view text, int aunits) {
    std::string s(text);
    const char* p = skipSpaces(s.c_str());
    char* end = nullptr;
    double v = 0;
    switch (aunits) {
    case 1:
        if (!(p = readDms(p, v))) return std::nullopt;
        v = v * kPi / 180;
        break;
    case 2:
        v = std::strtod(p, &end);
        if (end == p) return std::nullopt;
        p = end;
        if (*p == 'g' || *p == 'G') ++p;
        v = v * kPi / 200;
        break;
    case 3:
        v = std::strtod(p, &end);
        if (end == p) return std::nullopt;
        p = end;
        if (*p == 'r' || *p == 'R') ++p;
        break;
    case 4: {
        char first = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        if (first != 'N' && first != 'S' && first != 'E' && first != 'W') return std::nullopt;
        ++p;
        p = skipSpaces(p);
        if (*p == '\0') {
            v = first == 'E' ? 0 : first == 'N' ? kPi / 2 : first == 'W' ? kPi : 3 * kPi / 2;
            break;
        }
        if (first != 'N' && first != 'S') return std::nullopt;
        double off = 0;
        if (!(p = readDms(p, off))) return std::nullopt;
        p = skipSpaces(p);
        char second = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        if (second != 'E' && second != 'W') return std::nullopt;
        ++p;
        double deg = first == 'N' ? (second == 'E' ? 90 - off : 90 + off) : (second == 'E' ? 270 + off : 270 - off);
        v = normalizeAngle(deg * kPi / 180);
        break;
    }
    default:
        v = std::strtod(p, &end);
        if (end == p) return std::nullopt;
        p = end;
        if (*p == 'd' || *p == 'D') ++p;
        v = v * kPi / 180;
        break;
    }
    p = skipSpaces(p);
    if (*p != '\0' || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<double> parseDistance(std::string_view text, int lunits) {
    std::string s(text);
    const char* p = skipSpaces(s.c_str());
    char* end = nullptr;
    if (lunits == 1 || lunits == 2) {
        double v = std::strtod(p, &end);
        if (end == p || *skipSpaces(end) != '\0' || !std::isfinite(v)) return std::nullopt;
        return v;
    }
    // Feet, inches and fractions: [-][F'][-][W][ N/D]["]
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    double total = 0;
    const char* q = p;
    while (*q && *q != '\'') ++q;
    if (*q == '\'') {
        double feet = std::strtod(p, &end);
        if (end != q) return std::nullopt;
        total += feet * 12;
        p = q + 1;
        if (*p == '-') ++p;
        p = skipSpaces(p);
    }
    if (*p) {
        double whole = std::strtod(p, &end);
        if (end == p) return std::nullopt;
        p = end;
        if (*p == '/') {  // "1/2" alone
            double den = std::strtod(p + 1, &end);
            if (end == p + 1 || den == 0) return std::nullopt;
            whole /= den;
            p = end;
        } else if (*p == ' ' || *p == '-') {
            const char* r = skipSpaces(p + 1);
            double num = std::strtod(r, &end);
            if (end != r && *end == '/') {
                const char* dp = end + 1;
                double den = std::strtod(dp, &end);
                if (end == dp || den == 0) return std::nullopt;
                whole += num / den;
                p = end;
            }
        }
        total += whole;
        if (*p == '"') ++p;
    }
    // strtod takes "inf" and "nan", and feet of 1e308 overflow: no distance either way.
    if (*skipSpaces(p) != '\0' || !std::isfinite(total)) return std::nullopt;
    return negative ? -total : total;
}

}  // namespace units

namespace {

int copyOut(const std::string& s, char* str, std::size_t size) {
    if (!str || size <= s.size()) return RTERROR;
    std::memcpy(str, s.c_str(), s.size() + 1);
    return RTNORM;
}

}  // namespace

int acdbRToS(double value, int unit, int prec, char* str, std::size_t size) {
    units::UnitSettings u = units::workingSettings();
    if (unit == -1) unit = u.lunits;
    if (prec == -1) prec = u.luprec;
    if (unit < 1 || unit > 5 || prec < 0 || prec > 8) return RTERROR;
    return copyOut(units::formatDistance(value, unit, prec, u.dimzin), str, size);
}

int acdbAngToS(double angle, int unit, int prec, char* str, std::size_t size) {
    units::UnitSettings u = units::workingSettings();
    if (unit == -1) unit = u.aunits;
    if (prec == -1) prec = u.auprec;
    if (unit < 0 || unit > 4 || prec < 0 || prec > 8) return RTERROR;
    return copyOut(units::formatAngle(angle, unit, prec), str, size);
}

int acdbAngToF(const char* str, int unit, double* value) {
    if (!str || !value) return RTERROR;
    if (unit == -1) unit = units::workingSettings().aunits;
    if (unit < 0 || unit > 4) return RTERROR;
    auto v = units::parseAngle(str, unit);
    if (!v) return RTERROR;
    *value = *v;
    return RTNORM;
}

int acdbDisToF(const char* str, int unit, double* value) {
    if (!str || !value) return RTERROR;
    if (unit == -1) unit = units::workingSettings().lunits;
    if (unit < 1 || unit > 5) return RTERROR;
    auto v = units::parseDistance(str, unit);
    if (!v) return RTERROR;
    *value = *v;
    return RTNORM;
}
