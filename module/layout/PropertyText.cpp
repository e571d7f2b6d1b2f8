#include "module/layout/PropertyText.h"

#include "host/db/AcUnits.h"
#include "module/drawing/TagText.h"
#include "module/spreadsheet/CellValue.h"

#include <cmath>
#include <limits>

namespace tabro {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

class DrawingNumberTexts final : public NumberTexts {
public:
    void distance(double value, std::string& out) const override {
        char buffer[512];
        if (acdbRToS(value, -1, -1, buffer, sizeof buffer) != RTNORM) buffer[0] = '\0';
        out.assign(buffer);
    }
    void angle(double radians, std::string& out) const override {
        char buffer[512];
        if (acdbAngToS(radians, -1, -1, buffer, sizeof buffer) != RTNORM) buffer[0] = '\0';
        out.assign(buffer);
    }
};

// A distance as the sheet shows it after export, read back as import reads a cell.
double distanceAsExported(double value) {
    std::string text;
    drawingNumberTexts().distance(value, text);
    double back = 0;
    if (readDistanceText(text, back) != CellNumber::Number) return kNotANumber;
    return back;
}

double angleAsExported(double radians) {
    std::string text;
    drawingNumberTexts().angle(radians, text);
    double back = 0;
    if (acdbAngToF(text.c_str(), -1, &back) != RTNORM) return kNotANumber;
    return back;
}

// A cell that holds the current value exactly needs no formatting to tell.
double editedOrCurrent(double cell, double current, double (*asExported)(double)) {
    if (cell == current) return current;
    return cell == asExported(current) ? current : cell;
}

}  // namespace

const NumberTexts& drawingNumberTexts() {
    static const DrawingNumberTexts texts;
    return texts;
}

double surveyCoordinate(double coordinate, bool jtsk) {
    return jtsk && coordinate < 0.0 ? coordinate * -1.0 : coordinate;
}

CellNumber readDistanceCell(const platform::Variant& value, double& out) {
    double number = 0;
    switch (value.vt()) {
    case VT_R8:
        number = value.dblVal();
        break;
    case VT_R4:
        number = static_cast<double>(value.fltVal());
        break;
    case VT_I2:
        number = static_cast<double>(value.iVal());
        break;
    case VT_I4:
        number = static_cast<double>(value.lVal());
        break;
    case VT_EMPTY:
        return CellNumber::Empty;
    case VT_ERROR:
        return CellNumber::NoValue;
    case VT_BSTR:
        return readDistanceText(toMultibyte(value.bstrVal()), out);
    default:
        return CellNumber::Unreadable;
    }
    if (!std::isfinite(number)) return CellNumber::Unreadable;
    out = number;
    return CellNumber::Number;
}

CellNumber readDistanceText(std::string_view text, double& out) {
    const std::string_view t = trimBlanks(text);
    if (t.empty()) return CellNumber::Empty;
    const std::string whole(t);
    double number = 0;
    // The drawing's own units first (feet and inches read back as export wrote
    // them), then a plain decimal number as a user may type it in any drawing.
    if (acdbDisToF(whole.c_str(), -1, &number) != RTNORM && acdbDisToF(whole.c_str(), 2, &number) != RTNORM)
        return CellNumber::Unreadable;
    if (!std::isfinite(number)) return CellNumber::Unreadable;
    out = number;
    return CellNumber::Number;
}

double distanceFromCell(double cell, double current) { return editedOrCurrent(cell, current, distanceAsExported); }

double coordinateFromCell(double cell, double current, bool jtsk) {
    if (!jtsk || !(current < 0.0)) return distanceFromCell(cell, current);
    const double shown = surveyCoordinate(current, jtsk);
    if (cell == shown || cell == distanceAsExported(shown)) return current;
    return cell * -1.0;
}

double angleFromCell(double cell, double current) { return editedOrCurrent(cell, current, angleAsExported); }

}  // namespace tabro
