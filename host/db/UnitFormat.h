// Distances and angles as text in explicit units; the host's unit functions and the
// LIST report both format through here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class AcDbDatabase;

namespace units {

struct UnitSettings {
    int lunits = 2, luprec = 4, aunits = 0, auprec = 0, dimzin = 0;
};
UnitSettings settingsOf(const AcDbDatabase& db);
// The working drawing's settings, or the defaults of a new drawing when there is none.
UnitSettings workingSettings();

std::string formatDistance(double value, int lunits, int prec, int dimzin);
std::string formatAngle(double radians, int aunits, int prec);
std::optional<double> parseDistance(std::string_view text, int lunits);
std::optional<double> parseAngle(std::string_view text, int aunits);

}  // namespace units
