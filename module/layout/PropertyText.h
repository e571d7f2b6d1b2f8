// The text form of the property values a row carries, both ways: distances and
// angles as export writes them (the drawing's units and precision), read back as
// import reads a cell, and the survey-coordinate sign rule. Import's "is this cell
// unedited?" check is only right while it formats exactly as export does, so both
// go through here.
#pragma once

#include "platform/Variant.h"

#include <string>
#include <string_view>

namespace tabro {

// Formats the numbers of a row: distances and angles in the drawing's current units
// and precision. Replaceable so that the layout can be checked on its own.
struct NumberTexts {
    virtual ~NumberTexts() = default;
    virtual void distance(double value, std::string& out) const = 0;
    virtual void angle(double radians, std::string& out) const = 0;
};
// acdbRToS / acdbAngToS of the working drawing, unit mode and precision -1.
const NumberTexts& drawingNumberTexts();

// Survey coordinates of the local grid are positive while drawings keep them
// negative: with `jtsk` a negative coordinate is written as its magnitude.
double surveyCoordinate(double coordinate, bool jtsk);

// How a cell under a number column reads: a number, nothing (empty), something
// that is no number in the drawing's units, or no value at all (an error value, a
// formula without a result).
enum class CellNumber { Number, Empty, Unreadable, NoValue };
// Numbers as they are; a text read whole, in the drawing's units or as a plain
// decimal number ("12,5", "7 m" and "n/a" are no distance; nor is a number beyond
// a double). `out` is set only for Number.
CellNumber readDistanceCell(const platform::Variant& value, double& out);
// The same for a text (surrounding blanks ignored); never NoValue.
CellNumber readDistanceText(std::string_view text, double& out);

// The value a property cell asks for: the current value when the cell still reads
// as what export wrote for it (so the exact value is kept, not its rounded text),
// else the cell's. A coordinate exported as a survey coordinate goes back negative
// where the drawing's is negative.
double distanceFromCell(double cell, double current);
double coordinateFromCell(double cell, double current, bool jtsk);
double angleFromCell(double cell, double current);

}  // namespace tabro
