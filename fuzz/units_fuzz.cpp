// libFuzzer target for distances and angles as text: the input is a value, a unit
// mode, a precision, a zero suppression and a text. Any text reads in every unit or
// is refused, and what reads is a finite number. A distance or angle written in a
// unit at a precision reads back in that unit within half the precision's last step
// (an angle modulo a full turn), through the unit functions modules call and through
// the formatting they share with the LIST report.
#include "host/db/AcUnits.h"
#include "host/db/UnitFormat.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <optional>
#include <string>

namespace {

constexpr double kPi = std::numbers::pi;

// Rounding error of the arithmetic itself, on top of the text's own rounding.
double slack(double magnitude) { return std::max(magnitude, 1.0) * 1e-14; }

double distanceStep(int lunits, int prec, double magnitude) {
    switch (lunits) {
    case 1:  // scientific: prec decimals of the mantissa
        return magnitude * std::pow(10.0, -prec) * 10;
    case 4:
    case 5:  // fractions of an inch down to 1/2^prec
        return std::ldexp(1.0, -prec);
    default:  // decimal places (of inches for engineering units)
        return std::pow(10.0, -prec);
    }
}

void checkDistance(double value, int lunits, int prec, int dimzin) {
    std::string text = units::formatDistance(value, lunits, prec, dimzin);
    std::optional<double> back = units::parseDistance(text, lunits);
    if (!back) __builtin_trap();
    const double magnitude = std::fabs(value);
    double tolerance = distanceStep(lunits, prec, magnitude) / 2 + slack(magnitude);
    if (lunits == 1) tolerance = magnitude * 5 * std::pow(10.0, -prec - 1) + slack(magnitude);
    if (!(std::fabs(*back - value) <= tolerance)) __builtin_trap();
}

// Half a step of the angle's last written digit, in radians.
double angleTolerance(int aunits, int prec) {
    const double degree = kPi / 180;
    double step;
    switch (aunits) {
    case 1:
    case 4:  // degrees, minutes, seconds and decimals of seconds
        step = prec <= 0   ? degree
               : prec <= 2 ? degree / 60
                           : degree / 3600 * std::pow(10.0, -(prec <= 4 ? 0 : prec - 4));
        break;
    case 2:
        step = kPi / 200 * std::pow(10.0, -prec);
        break;
    case 3:
        step = std::pow(10.0, -prec);
        break;
    default:
        step = degree * std::pow(10.0, -prec);
        break;
    }
    return step / 2 + 1e-12;
}

void checkAngle(double value, int aunits, int prec) {
    std::string text = units::formatAngle(value, aunits, prec);
    std::optional<double> back = units::parseAngle(text, aunits);
    if (!back) __builtin_trap();
    double difference = std::remainder(*back - value, 2 * kPi);
    if (!(std::fabs(difference) <= angleTolerance(aunits, prec))) __builtin_trap();
}

void checkText(const std::string& text) {
    for (int unit = 1; unit <= 5; ++unit) {
        double v = 0;
        if (acdbDisToF(text.c_str(), unit, &v) == RTNORM && !std::isfinite(v)) __builtin_trap();
        if (std::optional<double> d = units::parseDistance(text, unit); d && !std::isfinite(*d)) __builtin_trap();
    }
    for (int unit = 0; unit <= 4; ++unit) {
        double v = 0;
        if (acdbAngToF(text.c_str(), unit, &v) == RTNORM && !std::isfinite(v)) __builtin_trap();
        if (std::optional<double> a = units::parseAngle(text, unit); a && !std::isfinite(*a)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    FuzzedDataProvider input(data, size);
    const double value = input.ConsumeFloatingPoint<double>();
    const double scale = std::ldexp(1.0, input.ConsumeIntegralInRange(-40, 40));
    const int lunits = input.ConsumeIntegralInRange(1, 5);
    const int aunits = input.ConsumeIntegralInRange(0, 4);
    const int prec = input.ConsumeIntegralInRange(0, 8);
    const int dimzin = input.ConsumeIntegralInRange(0, 15);
    const std::string text = input.ConsumeRemainingBytesAsString();

    checkText(text);

    // Distances a drawing holds: the value brought into a drawing's range of sizes.
    double distance = std::isfinite(value) ? std::fmod(value, 1e9) * scale : 0;
    if (std::fabs(distance) > 1e12) distance = std::fmod(distance, 1e12);
    checkDistance(distance, lunits, prec, dimzin);
    char buffer[512];
    if (acdbRToS(distance, lunits, prec, buffer) != RTNORM) __builtin_trap();
    double back = 0;
    if (acdbDisToF(buffer, lunits, &back) != RTNORM) __builtin_trap();
    if (!(std::fabs(back - distance) <=
          distanceStep(lunits, prec, std::fabs(distance)) / 2 + slack(std::fabs(distance))))
        __builtin_trap();

    if (std::isfinite(value)) {
        // A full turn taken off exactly, so that the comparison keeps its digits.
        const double angle = std::fmod(value, 2 * kPi);
        checkAngle(angle, aunits, prec);
        if (acdbAngToS(angle, aunits, prec, buffer) != RTNORM) __builtin_trap();
        if (acdbAngToF(buffer, aunits, &back) != RTNORM) __builtin_trap();
        if (!(std::fabs(std::remainder(back - angle, 2 * kPi)) <= angleTolerance(aunits, prec))) __builtin_trap();
    }
    return 0;
}
