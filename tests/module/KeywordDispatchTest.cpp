// The TABRO keyword dispatch through the real editor, with the real keyword list
// (text 7) and a table that records which operations ran.
#include "module/base/ErrorGuard.h"
#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"
#include "module/cmd/cmdtabro.h"
#include "tests/module/ModuleTestSupport.h"

#include <cstring>
#include <stdexcept>

namespace {

std::vector<std::string> ran;

template <const char* Name>
bool record() {
    ran.push_back(Name);
    return true;
}

constexpr char kExport[] = "Export", kExport2[] = "Export2", kImport[] = "Import", kOptions[] = "Options",
               kConnect[] = "Connect", kDisconnect[] = "Disconnect", kImport2[] = "Import2", kToolbar[] = "Toolbar",
               kHelp[] = "Help";

const tabro::KeywordEntry kRecordingTable[] = {
    {"Export", record<kExport>},   {"Export2", record<kExport2>}, {"Import", record<kImport>},
    {"Options", record<kOptions>}, {"Connect", record<kConnect>}, {"Disconnect", record<kDisconnect>},
    {"Import2", record<kImport2>}, {"Toolbar", record<kToolbar>}, {"Help", record<kHelp>},
};

class KeywordDispatchTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        ran.clear();
    }
};

TEST_F(KeywordDispatchTest, EachAnswerRunsExactlyItsOperation) {
    struct {
        std::vector<std::string> input;
        std::vector<std::string> operations;
    } cases[] = {
        {{""}, {"Export"}},
        {{"EXPORT"}, {"Export"}},
        {{"export"}, {"Export"}},
        {{"e"}, {"Export"}},
        {{"Export2"}, {"Export2"}},
        {{"_EXPORT2"}, {"Export2"}},
        {{"imp"}, {"Import"}},
        {{"import2"}, {"Import2"}},
        {{"_import2"}, {"Import2"}},
        {{"o"}, {"Options"}},
        {{"c"}, {"Connect"}},
        {{"dis"}, {"Disconnect"}},
        {{"T"}, {"Toolbar"}},
        {{"help"}, {"Help"}},
        {{"^C"}, {}},
        {{"nothing", "^C"}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.empty() ? "<end of input>" : c.input.front());
        ran.clear();
        feed(c.input);
        bool result = tabro::dispatchKeyword(kRecordingTable);
        EXPECT_EQ(ran, c.operations);
        EXPECT_EQ(result, !c.operations.empty());
        EXPECT_EQ(acDocManager->resourceHandleDepth(), 0u);
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(KeywordDispatchTest, TheKeywordListYieldsEveryTableKeyword) {
    // Text 7 must hand back exactly the table's names, by full local name and by
    // global name.
    for (const tabro::KeywordEntry& entry : tabro::keywordTable()) {
        for (std::string typed : {std::string(entry.keyword), "_" + std::string(entry.keyword)}) {
            SCOPED_TRACE(typed);
            feed({typed});
            std::string list = text(tabro::kTextKeywordList);
            ASSERT_EQ(acedInitGet(0, list.c_str()), RTNORM);
            char answer[ADS_INPUT_BUFFER];
            ASSERT_EQ(acedGetKword("\n? ", answer), RTNORM);
            EXPECT_STREQ(answer, entry.keyword);
        }
    }
}

TEST_F(KeywordDispatchTest, PromptIsTextEightAndEscapeIsSilent) {
    feed({"^C"});
    EXPECT_FALSE(tabro::dispatchKeyword(kRecordingTable));
    EXPECT_NE(output_.text().find(text(tabro::kTextKeywordPrompt)), std::string::npos) << output_.text();
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(KeywordDispatchTest, AFailingOperationShowsTheGuardsBoxAndBalancesScopes) {
    static const tabro::KeywordEntry throwing[] = {
        {"Export", []() -> bool { throw std::runtime_error("disk on fire"); }},
    };
    feed({""});
    {
        tabro::ResourceScope outer;  // as the TABRO entry holds one
        tabro::commandGuard([] { tabro::dispatchKeyword(throwing); });
        EXPECT_EQ(acDocManager->resourceHandleDepth(), 1u);
    }
    EXPECT_EQ(acDocManager->resourceHandleDepth(), 0u);
    ASSERT_EQ(boxes_.count(), 1u);
    EXPECT_EQ(boxes_.last().text, text(tabro::kTextCommandFailed));
    EXPECT_EQ(boxes_.last().caption, text(tabro::kTextErrorCaption));
}

}  // namespace
