// Distances and angles as text in every unit format and precision, and back.
#include "host/db/AcDbDatabase.h"
#include "host/db/AcUnits.h"
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

std::string rtos(double v, int unit, int prec) {
    char buf[512];
    EXPECT_EQ(acdbRToS(v, unit, prec, buf, sizeof buf), RTNORM);
    return buf;
}

std::string angtos(double a, int unit, int prec) {
    char buf[512];
    EXPECT_EQ(acdbAngToS(a, unit, prec, buf, sizeof buf), RTNORM);
    return buf;
}

}  // namespace

TEST(UnitFormat, DistancesInEveryFormat) {
    AcDbDatabase db;  // DIMZIN 0
    WorkingDatabaseScope scope(&db);
    struct Case {
        double value;
        int unit, prec;
        const char* text;
    } cases[] = {
        {15.5, 1, 4, "1.5500E+01"}, {-0.00012, 1, 2, "-1.20E-04"}, {15.5, 2, 4, "15.5000"},       {-2.0, 2, 0, "-2"},
        {-0.00001, 2, 2, "0.00"},   {17.5, 3, 2, "1'-5.50\""},     {6.25, 3, 2, "6.25\""},        {24, 3, 1, "2'"},
        {17.5, 4, 2, "1'-5 1/2\""}, {0.0625, 4, 4, "1/16\""},      {-13.25, 4, 2, "-1'-1 1/4\""}, {36, 4, 4, "3'"},
        {11.99, 4, 2, "1'"},        {17.5, 5, 2, "17 1/2"},        {0.75, 5, 3, "3/4"},           {3, 5, 4, "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " unit " + std::to_string(c.unit) + " prec " + std::to_string(c.prec));
        EXPECT_EQ(rtos(c.value, c.unit, c.prec), c.text);
    }
}

TEST(UnitFormat, ZeroSuppressionFollowsDimzin) {
    AcDbDatabase db;
    WorkingDatabaseScope scope(&db);
    struct Case {
        int dimzin;
        double value;
        int unit, prec;
        const char* text;
    } cases[] = {
        {8, 2.5, 2, 4, "2.5"},  {8, 2.0, 2, 4, "2"},     {4, 0.5, 2, 3, ".500"}, {12, -0.5, 2, 3, "-.5"},
        {1, 6, 4, 0, "0'-6\""}, {1, 12, 4, 0, "1'-0\""}, {2, 12, 4, 0, "1'"},    {3, 6, 3, 1, "6.0\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("DIMZIN " + std::to_string(c.dimzin) + " " + c.text);
        ASSERT_EQ(db.setDimzin(c.dimzin), Acad::eOk);
        EXPECT_EQ(rtos(c.value, c.unit, c.prec), c.text);
    }
}

TEST(UnitFormat, MinusOneMeansTheDrawingsOwnUnits) {
    AcDbDatabase db;
    WorkingDatabaseScope scope(&db);
    EXPECT_EQ(rtos(10, -1, -1), "10.0000");
    EXPECT_EQ(angtos(M_PI / 2, -1, -1), "90");
    ASSERT_EQ(db.setLunits(4), Acad::eOk);
    ASSERT_EQ(db.setLuprec(3), Acad::eOk);
    ASSERT_EQ(db.setAunits(1), Acad::eOk);
    ASSERT_EQ(db.setAuprec(4), Acad::eOk);
    EXPECT_EQ(rtos(30.375, -1, -1), "2'-6 3/8\"");
    EXPECT_EQ(angtos(M_PI / 4, -1, -1), "45d0'0\"");
    char small[4];
    EXPECT_EQ(acdbRToS(30.375, -1, -1, small, sizeof small), RTERROR) << "a buffer too small is refused";
    EXPECT_EQ(acdbRToS(1, 6, 2, small, sizeof small), RTERROR);
}

// The drawing's units are read once and kept: every change, through the database or
// in place, and every other drawing made the working one formats with its own at once.
TEST(UnitFormat, TheDrawingsUnitsFollowEveryChangeAtOnce) {
    auto drawing = [](const char* lunits, const char* luprec, const char* aunits) {
        return std::string("0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$LUNITS\n70\n") + lunits +
               "\n9\n$LUPREC\n70\n" + luprec + "\n9\n$AUNITS\n70\n" + aunits +
               "\n9\n$AUPREC\n70\n0\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n";
    };
    auto first = openDrawingText(drawing("     3", "2", "1"));
    auto second = openDrawingText(drawing("2", "1", "0"));
    ASSERT_TRUE(first) << first.error;
    ASSERT_TRUE(second) << second.error;
    AcDbDatabase& db = *first.database;
    {
        WorkingDatabaseScope scope(&db);
        EXPECT_EQ(rtos(17.5, -1, -1), "1'-5.50\"");
        EXPECT_EQ(angtos(M_PI / 4, -1, -1), "45d");
        ASSERT_EQ(db.setLunits(2), Acad::eOk);
        EXPECT_EQ(rtos(17.5, -1, -1), "17.50");
        ASSERT_EQ(db.setLuprec(3), Acad::eOk);
        EXPECT_EQ(rtos(17.5, -1, -1), "17.500");
        ASSERT_EQ(db.setAunits(0), Acad::eOk);
        EXPECT_EQ(angtos(M_PI / 4, -1, -1), "45");
        db.store().header(hostdb::hLunits).value = "5";
        EXPECT_EQ(rtos(17.5, -1, -1), "17 1/2");
        // The value the drawing already has: no change, the same text.
        ASSERT_EQ(db.setLunits(5), Acad::eOk);
        EXPECT_EQ(rtos(17.5, -1, -1), "17 1/2");
    }
    {
        WorkingDatabaseScope scope(second.database.get());
        EXPECT_EQ(rtos(17.5, -1, -1), "17.5");
        EXPECT_EQ(angtos(M_PI / 4, -1, -1), "45");
    }
    // A drawing without the variables formats with the defaults, and with a value
    // once one is set.
    AcDbDatabase fresh;
    WorkingDatabaseScope scope(&fresh);
    EXPECT_EQ(rtos(17.5, -1, -1), "17.5000");
    ASSERT_EQ(fresh.setLuprec(1), Acad::eOk);
    EXPECT_EQ(rtos(17.5, -1, -1), "17.5");
    ASSERT_EQ(fresh.setLuprec(0), Acad::eOk);
    EXPECT_EQ(rtos(17.5, -1, -1), "18");
}

TEST(UnitFormat, AnglesInEveryFormat) {
    struct Case {
        double radians;
        int unit, prec;
        const char* text;
    } cases[] = {
        {M_PI / 2, 0, 0, "90"},
        {M_PI / 2, 0, 2, "90.00"},
        {-M_PI / 2, 0, 1, "270.0"},
        {2 * M_PI - 1e-12, 0, 2, "0.00"},
        {M_PI / 4 + M_PI / 720, 1, 4, "45d15'0\""},
        {M_PI / 4, 1, 0, "45d"},
        {M_PI / 4, 1, 2, "45d0'"},
        {M_PI / 2, 2, 1, "100.0g"},
        {1.0, 3, 4, "1.0000r"},
        {M_PI / 4, 4, 4, "N 45d0'0\" E"},
        {3 * M_PI / 4, 4, 2, "N 45d0' W"},
        {5 * M_PI / 4, 4, 0, "S 45d W"},
        {7 * M_PI / 4, 4, 0, "S 45d E"},
        {0, 4, 4, "E"},
        {M_PI / 2, 4, 4, "N"},
        {M_PI, 4, 0, "W"},
        {1.5 * M_PI, 4, 0, "S"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(angtos(c.radians, c.unit, c.prec), c.text);
    }
}

TEST(UnitFormat, AngToFReadsBackWhatAngToSWrites) {
    const double angles[] = {0, 0.1, 1.0, M_PI / 2, 2.5, M_PI, 4.0, 3 * M_PI / 2, 5.9, 6.28};
    for (int unit = 0; unit <= 4; ++unit) {
        for (int prec = 0; prec <= 8; ++prec) {
            for (double a : angles) {
                std::string text = angtos(a, unit, prec);
                SCOPED_TRACE("unit " + std::to_string(unit) + " prec " + std::to_string(prec) + ": " + text);
                double back = -1;
                ASSERT_EQ(acdbAngToF(text.c_str(), unit, &back), RTNORM);
                // The text carries the angle to its precision; compare on the circle.
                double tolerance = unit == 1 || unit == 4 ? (prec == 0   ? 0.5
                                                             : prec <= 2 ? 0.5 / 60
                                                             : prec <= 4 ? 0.5 / 3600
                                                                         : 0.5 / 3600 / std::pow(10, prec - 4)) *
                                                                M_PI / 180
                                   : unit == 2 ? 0.5 * std::pow(10, -prec) * M_PI / 200
                                   : unit == 3 ? 0.5 * std::pow(10, -prec)
                                               : 0.5 * std::pow(10, -prec) * M_PI / 180;
                double diff = std::remainder(back - a, 2 * M_PI);
                EXPECT_LE(std::fabs(diff), tolerance + 1e-12);
            }
        }
    }
    double v;
    for (const char* bad : {"", "abc", "N 45d", "12x", "Q 45d E"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(acdbAngToF(bad, 4, &v), RTERROR);
    }
}

TEST(UnitFormat, DisToFReadsBackWhatRToSWrites) {
    AcDbDatabase db;
    WorkingDatabaseScope scope(&db);
    const double values[] = {0, 0.5, 6.25, 17.5, 30.375, 144, -13.25, 1234.0625};
    for (int unit = 1; unit <= 5; ++unit)
        for (int prec = 0; prec <= 6; ++prec)
            for (double v : values) {
                std::string text = rtos(v, unit, prec);
                SCOPED_TRACE("unit " + std::to_string(unit) + " prec " + std::to_string(prec) + ": " + text);
                double back = 1e99;
                ASSERT_EQ(acdbDisToF(text.c_str(), unit, &back), RTNORM);
                double step = unit >= 4 ? 1.0 / (1 << prec) : std::pow(10, -prec);
                if (unit == 1) step *= std::pow(10, std::floor(std::log10(std::fabs(v) + 1e-300)) + 1);
                EXPECT_LE(std::fabs(back - v), step / 2 + 1e-9);
            }
}

// Decimal distances are written as the C library's "%.*f" writes them in the C
// locale — same rounding of halfway and long values — whatever the process locale.
TEST(UnitFormat, DecimalDistancesRoundAsTheCLibraryDoes) {
    AcDbDatabase db;
    WorkingDatabaseScope scope(&db);
    const double values[] = {
        0.125,  0.375,    2.5, 1.0005, 1234.56785, -0.0625, 1e15 + 0.5, 123456789.123456789, 1.7976931348623157e308,
        5e-324, 0.1 + 0.2};
    for (double v : values)
        for (int prec = 0; prec <= 8; ++prec) {
            char expected[512];
            std::snprintf(expected, sizeof expected, "%.*f", prec, v);
            std::string want = expected;
            // No sign on a value that rounds to zero.
            if (want.find_first_of("123456789") == std::string::npos && want[0] == '-') want.erase(0, 1);
            SCOPED_TRACE(std::to_string(v) + " at " + std::to_string(prec));
            EXPECT_EQ(rtos(v, 2, prec), want);
        }
}
