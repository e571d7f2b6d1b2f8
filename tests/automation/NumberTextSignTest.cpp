// Numbers stored in files carry one sign at most, and a lone sign is no number.
#include "automation/NumberText.h"

#include <gtest/gtest.h>

#include <string_view>

namespace automation {
namespace {

TEST(NumberTextSign, StoredNumbersTakeOneSignAtMost) {
    EXPECT_FALSE(parseStoredNumber("+-0"));
    EXPECT_FALSE(parseStoredNumber("+-5"));
    EXPECT_FALSE(parseStoredNumber("+"));
    // A view of a longer text: the reader looks at nothing past the view's end.
    EXPECT_FALSE(parseStoredNumber(std::string_view("+5", 1)));
    EXPECT_EQ(parseStoredNumber("+5"), 5.0);
    EXPECT_EQ(parseStoredNumber("-5"), -5.0);
    EXPECT_EQ(parseStoredNumber("-.5"), -0.5);
}

}  // namespace
}  // namespace automation
