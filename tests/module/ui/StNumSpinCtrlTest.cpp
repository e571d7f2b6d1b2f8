// The numeric spin control: the number in the buddy stepped within its range, the
// decimals that only grow, atof reading of typed text, and a spin without buddy.
#include "module/ui/StNumSpinCtrl.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <string>

namespace {

class NumSpinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(page_.CreateEx(0, "", 0, RECT{0, 0, 300, 200}, nullptr, 0));
        ASSERT_TRUE(edit_.Create(WS_CHILD, RECT{10, 10, 80, 30}, &page_, 1001));
        ASSERT_TRUE(spin_.Create(WS_CHILD, RECT{80, 10, 96, 30}, &page_, 1002));
        spin_.SetBuddy(&edit_);
    }
    void type(const char* text) { edit_.SetWindowTextA(text); }
    std::string shown() const { return edit_.windowText(); }

    CWnd page_;
    CEdit edit_;
    CStNumSpinCtrl spin_;
};

TEST_F(NumSpinTest, DefaultsKeepTheNumberAtOrAboveTheSmallestPositiveDouble) {
    double low = 0, high = 0;
    spin_.GetRange(low, high);
    EXPECT_EQ(low, std::numeric_limits<double>::min());
    EXPECT_EQ(high, std::numeric_limits<double>::max());
    EXPECT_EQ(spin_.GetDelta(), 1.0);
    type("0.5");
    spin_.stepArrow(-1);
    // The smallest positive double prints in exponent form; only its fraction digits
    // count as decimals, and in fixed form with five of them it shows as zero.
    EXPECT_EQ(shown(), "0.00000") << "the default range does not go below zero";
}

TEST_F(NumSpinTest, SetRangeSpansTheIntegerPositionAndLeavesTheTextAlone) {
    type("99999");
    spin_.SetRange(1, 65536);
    int lower = -1, upper = -1;
    spin_.GetRange32(lower, upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 1000);
    EXPECT_EQ(shown(), "99999");
    spin_.SetPos(70000);
    EXPECT_EQ(shown(), "70000") << "SetPos does not clamp either";
    EXPECT_EQ(spin_.GetPos32(), 500);
}

TEST_F(NumSpinTest, StepsStopAtBothEndsOfTheRange) {
    spin_.SetRange(1, 65536);
    spin_.SetDelta(1);
    struct Case {
        const char* typed;
        int delta;
        const char* after;
    } cases[] = {
        {"65536", +1, "65536"}, {"65535", +1, "65536"}, {"1", -1, "1"},   {"2", -1, "1"},       {"12abc", +1, "13"},
        {"abc", +1, "1"},       {"  7", -1, "6"},       {"-40", +1, "1"}, {"1e9", -1, "65536"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        type(c.typed);
        EXPECT_TRUE(spin_.stepArrow(c.delta));
        EXPECT_EQ(shown(), c.after);
    }
}

TEST_F(NumSpinTest, TheMaximumIsAppliedBeforeTheMinimum) {
    // With the bounds crossed, a value above the maximum ends at the minimum.
    spin_.SetRange(10, 5);
    type("20");
    spin_.stepArrow(+1);
    EXPECT_EQ(shown(), "10");
}

TEST_F(NumSpinTest, DecimalsOnlyGrow) {
    spin_.SetPos(2.5);
    EXPECT_EQ(shown(), "2.5");
    spin_.SetPos(3);
    EXPECT_EQ(shown(), "3.0");
    spin_.SetPos(1.25);
    EXPECT_EQ(shown(), "1.25");
    spin_.SetPos(2.5);
    EXPECT_EQ(shown(), "2.50");
    EXPECT_EQ(spin_.maxDecimals(), 2);
}

TEST_F(NumSpinTest, StepsShowTheDecimalsOfTheStep) {
    spin_.SetRange(0, 10);
    spin_.SetDelta(0.25);
    type("1");
    spin_.stepArrow(+1);
    EXPECT_EQ(shown(), "1.25");
    spin_.stepArrow(+1);
    EXPECT_EQ(shown(), "1.50");
    spin_.SetDelta(1);
    spin_.SetPos(4);
    EXPECT_EQ(shown(), "4.00");
}

TEST_F(NumSpinTest, WholeNumbersStayWhole) {
    spin_.SetRange(1, 256);
    spin_.SetPos(12);
    EXPECT_EQ(shown(), "12");
    spin_.stepArrow(+1);
    EXPECT_EQ(shown(), "13");
    EXPECT_EQ(spin_.GetPos(), 13.0);
}

TEST_F(NumSpinTest, TheExponentIsNoDecimal) {
    spin_.SetPos(1.5e-7);
    EXPECT_EQ(spin_.maxDecimals(), 1);
}

TEST_F(NumSpinTest, TheIntegerPositionNeverReachesAnEnd) {
    spin_.SetRange(-1e9, 1e9);
    spin_.SetPos(0);
    for (int i = 0; i < 1500; ++i) spin_.stepArrow(-1);
    EXPECT_EQ(shown(), "-1500");
    EXPECT_GE(spin_.GetPos32(), 1);
    for (int i = 0; i < 3000; ++i) spin_.stepArrow(+1);
    EXPECT_EQ(shown(), "1500");
    EXPECT_LE(spin_.GetPos32(), 999);
}

TEST_F(NumSpinTest, NumbersUseAPointWhateverTheLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    type("2.5");
    const double read = spin_.GetPos();
    type("2,5");
    const double readComma = spin_.GetPos();
    spin_.SetPos(1.5);
    const std::string written = shown();
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(read, 2.5);
    EXPECT_EQ(readComma, 2.0);
    EXPECT_EQ(written, "1.5");
}

TEST(NumSpinWithoutBuddyTest, ReadsZeroAndLeavesStepsToTheSpin) {
    CWnd page;
    page.CreateEx(0, "", 0, RECT{0, 0, 100, 100}, nullptr, 0);
    CStNumSpinCtrl spin;
    spin.Create(WS_CHILD, RECT{}, &page, 5);
    spin.SetRange(1, 10);
    spin.SetPos(7.5);
    EXPECT_EQ(spin.GetPos(), 0.0);
    EXPECT_EQ(spin.GetPos32(), 500);
    EXPECT_TRUE(spin.stepArrow(+1));
    EXPECT_EQ(spin.GetPos32(), 501) << "the notification went on untouched";
}

}  // namespace
