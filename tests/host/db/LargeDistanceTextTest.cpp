// Distances far from the origin keep their feet and inches when written, and texts
// that strtod reads as infinite or not a number are no distance in any unit.
#include "host/db/AcDbDatabase.h"
#include "host/db/AcUnits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

std::string rtos(double v, int unit, int prec) {
    char buf[512];
    EXPECT_EQ(acdbRToS(v, unit, prec, buf, sizeof buf), RTNORM);
    return buf;
}

double distof(const std::string& text, int unit) {
    double v = 0;
    EXPECT_EQ(acdbDisToF(text.c_str(), unit, &v), RTNORM) << text;
    return v;
}

}  // namespace

TEST(LargeDistanceText, FeetAndInchesOfAFarDistanceReadBackWithinThePrecision) {
    AcDbDatabase db;  // DIMZIN 0
    WorkingDatabaseScope scope(&db);
    // 1e12 inches at 7 decimals counts 1e19 steps, past the range of a 64-bit integer.
    EXPECT_EQ(rtos(-992757399552.0, 3, 7), "-82729783296'");
    EXPECT_NEAR(distof(rtos(-992757399552.0, 3, 7), 3), -992757399552.0, 1e-3);
    EXPECT_NEAR(distof(rtos(123456789012.375, 4, 8), 4), 123456789012.375, 1e-3);
    EXPECT_NEAR(distof(rtos(123456789012345.5, 5, 8), 5), 123456789012345.5, 1e-1);
    EXPECT_EQ(rtos(123456789012345.5, 5, 8), "123456789012345 1/2");
    // Near distances are written as before.
    EXPECT_EQ(rtos(18.5, 3, 2), "1'-6.50\"");
    EXPECT_EQ(rtos(18.5, 4, 2), "1'-6 1/2\"");
    EXPECT_EQ(rtos(11.999, 4, 2), "1'");
}

TEST(LargeDistanceText, InfiniteOrNotANumberIsNoDistance) {
    for (const char* text : {"nan", "inf", "inf\"", "1e308'", "-nan", "1'-inf\""})
        for (int unit = 1; unit <= 5; ++unit) {
            double v = 7;
            EXPECT_EQ(acdbDisToF(text, unit, &v), RTERROR) << text << " in unit " << unit;
            EXPECT_EQ(v, 7);
        }
}
