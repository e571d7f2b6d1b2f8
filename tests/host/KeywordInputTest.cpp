// Keyword input through the real editor: the host's abbreviation, global-name,
// Enter and cancel rules.
#include "host/KeywordList.h"
#include "tests/host/HostTestSupport.h"

#include <cstring>

namespace {

constexpr const char* kList =
    "Export EXPORT2 Import Options Connect Disconnect IMPORT2 Toolbar Help "
    "_Export Export2 Import Options Connect Disconnect Import2 Toolbar Help";

struct KeywordCase {
    std::vector<std::string> input;
    int flags;
    int status;
    const char* result;
    bool complains;  // printed "Invalid option keyword."
};

class KeywordInputTest : public HostTest {
protected:
    int ask(const char* list, int flags, char* result) {
        EXPECT_EQ(acedInitGet(flags, list), RTNORM);
        return acedGetKword("\nChoose: ", result);
    }
};

TEST_F(KeywordInputTest, AnswersFollowTheHostsKeywordRules) {
    const KeywordCase cases[] = {
        {{""}, 0, RTNONE, "", false},
        {{"e"}, 0, RTNORM, "Export", false},
        {{"EXPORT"}, 0, RTNORM, "Export", false},
        {{"exp"}, 0, RTNORM, "Export", false},
        {{"export2"}, 0, RTNORM, "Export2", false},
        {{"i"}, 0, RTNORM, "Import", false},
        {{"import2"}, 0, RTNORM, "Import2", false},
        {{"_import2"}, 0, RTNORM, "Import2", false},
        {{"_IMP"}, 0, RTNORM, "Import", false},
        {{"  help  "}, 0, RTNORM, "Help", false},
        {{"d"}, 0, RTNORM, "Disconnect", false},
        {{"exports", "c"}, 0, RTNORM, "Connect", true},
        {{"zz", ""}, 0, RTNONE, "", true},
        {{"", "t"}, RSG_NONULL, RTNORM, "Toolbar", false},
        {{"anything"}, RSG_OTHER, RTNORM, "anything", false},
        {{"^C"}, 0, RTCAN, "", false},
        {{}, 0, RTCAN, "", false},  // input ended
    };
    for (const KeywordCase& c : cases) {
        std::string trace;
        for (const auto& line : c.input) trace += "[" + line + "]";
        SCOPED_TRACE(trace + " flags " + std::to_string(c.flags));
        feed(c.input);
        output_.clear();
        char result[ADS_INPUT_BUFFER];
        std::memset(result, 'x', sizeof result);
        EXPECT_EQ(ask(kList, c.flags, result), c.status);
        EXPECT_STREQ(result, c.result);
        EXPECT_EQ(output_.text().find("Invalid option keyword.") != std::string::npos, c.complains) << output_.text();
        EXPECT_EQ(unreadLines(), 0u);
    }
}

TEST_F(KeywordInputTest, LocalNamesAnswerWithTheirGlobalName) {
    const char* list = "Ja Nein _Yes No";
    struct {
        const char* typed;
        int status;
        const char* result;
    } cases[] = {{"j", RTNORM, "Yes"}, {"NEIN", RTNORM, "No"}, {"_yes", RTNORM, "Yes"}, {"_n", RTNORM, "No"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        feed({c.typed});
        char result[ADS_INPUT_BUFFER];
        EXPECT_EQ(ask(list, 0, result), c.status);
        EXPECT_STREQ(result, c.result);
    }
    // A local name typed where global names are meant is no answer.
    feed({"_ja", "^C"});
    char result[ADS_INPUT_BUFFER];
    EXPECT_EQ(ask(list, 0, result), RTCAN);
}

TEST_F(KeywordInputTest, AKeywordListIsUsedByOneInputOnly) {
    feed({"e", "e"});
    char result[ADS_INPUT_BUFFER];
    EXPECT_EQ(ask(kList, 0, result), RTNORM);
    // The second call has no keywords, so nothing can match.
    feed({"e", "^C"});
    EXPECT_EQ(acedGetKword("\nAgain: ", result), RTCAN);
}

TEST(KeywordListTest, UnbalancedOrOddListsAreRefused) {
    EXPECT_FALSE(host::parseKeywordList("A B _A"));
    EXPECT_FALSE(host::parseKeywordList("A _ B _ C"));
    EXPECT_FALSE(host::parseKeywordList("Y __"));
    EXPECT_FALSE(host::parseKeywordList("Y __Z"));
    EXPECT_EQ(acedInitGet(0, "One Two _Un"), RTERROR);
    auto keywords = host::parseKeywordList("eXit LType plain");
    ASSERT_TRUE(keywords);
    ASSERT_EQ(keywords->size(), 3u);
    EXPECT_EQ((*keywords)[0].minimumLength, 2u);  // up to the last capital
    EXPECT_EQ((*keywords)[1].minimumLength, 2u);
    EXPECT_EQ((*keywords)[2].minimumLength, 5u);  // no capitals: in full
    EXPECT_EQ(host::matchKeyword(*keywords, "e"), nullptr);
    EXPECT_EQ(host::matchKeyword(*keywords, "plai"), nullptr);
    EXPECT_EQ(host::matchKeyword(*keywords, "PLAIN"), &(*keywords)[2]);
}

TEST_F(KeywordInputTest, StringInputKeepsOrCutsBlanksAndBoundsLength) {
    struct {
        std::vector<std::string> input;
        int cronly;
        int status;
        std::string result;
    } cases[] = {
        {{"two words"}, 1, RTNORM, "two words"},
        {{"  two words"}, 0, RTNORM, "two"},
        {{""}, 1, RTNORM, ""},
        {{std::string(131, 'a')}, 1, RTNORM, std::string(131, 'a')},
        {{std::string(132, 'a'), "short"}, 1, RTNORM, "short"},
        {{"^C"}, 1, RTCAN, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.front().substr(0, 20) + " cronly " + std::to_string(c.cronly));
        feed(c.input);
        char result[ADS_INPUT_BUFFER];
        EXPECT_EQ(acedGetString(c.cronly, "\nText: ", result), c.status);
        EXPECT_EQ(std::string(result), c.result);
        EXPECT_EQ(unreadLines(), 0u);
    }
}

}  // namespace
