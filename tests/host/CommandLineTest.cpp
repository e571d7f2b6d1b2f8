// The command line: commands by name, the host's messages, strings sent for
// execution, queued expressions, the hooks after each command, timers served while
// waiting.
#include "host/AcEdCommandStack.h"
#include "host/AcRxDynamicLinker.h"
#include "host/AcedCommand.h"
#include "host/AutoLisp.h"
#include "platform/Timer.h"
#include "tests/host/HostTestSupport.h"

namespace {

std::vector<std::string> ran;

void recordAlpha() { ran.push_back("alpha"); }
void recordBeta() { ran.push_back("beta"); }
void askAndRecord() {
    char answer[ADS_INPUT_BUFFER];
    if (acedGetString(1, "\nAnswer: ", answer) == RTNORM) ran.push_back(std::string("answer:") + answer);
}
void throwing() { throw std::runtime_error("boom"); }

class CommandLineTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        ran.clear();
        acedRegCmds->addCommand("TESTS", "alpha", "alfa", ACRX_CMD_MODAL, recordAlpha);
        acedRegCmds->addCommand("TESTS", "beta", "beta", ACRX_CMD_MODAL, recordBeta);
        acedRegCmds->addCommand("TESTS", "ask", "ask", ACRX_CMD_MODAL, askAndRecord);
        acedRegCmds->addCommand("TESTS", "throwing", "throwing", ACRX_CMD_MODAL, throwing);
    }
    void TearDown() override {
        acedRegCmds->removeGroup("TESTS");
        HostTest::TearDown();
    }
};

TEST_F(CommandLineTest, CommandsRunByAnyOfTheirNamesInAnyCase) {
    feed({"ALPHA", "alfa", "_alpha", "Beta", "_alfa", "xyz", "  ", "QUIT", "alpha"});
    host::runCommandLoop();
    EXPECT_EQ(ran, (std::vector<std::string>{"alpha", "alpha", "alpha", "beta"}));
    std::string out = output_.text();
    // "_alfa" asks for the global name "alfa", which no command has.
    EXPECT_NE(out.find("Unknown command \"_ALFA\".  Press F1 for help."), std::string::npos) << out;
    EXPECT_NE(out.find("Unknown command \"XYZ\".  Press F1 for help."), std::string::npos) << out;
    EXPECT_EQ(unreadLines(), 1u) << "QUIT ends the loop";
}

TEST_F(CommandLineTest, ScriptTranscriptEchoesInputAfterThePrompt) {
    feed({"ask", "hello there"});
    host::runCommandLoop();
    EXPECT_EQ(output_.text(), "\nCommand: ask\nAnswer: hello there\nCommand: ");
    EXPECT_EQ(ran, (std::vector<std::string>{"answer:hello there"}));
}

TEST_F(CommandLineTest, AnswersMayFollowTheCommandNameOnItsLine) {
    feed({"ask yes", "beta"});
    host::runCommandLoop();
    EXPECT_EQ(ran, (std::vector<std::string>{"answer:yes", "beta"}));
}

TEST_F(CommandLineTest, AFailingCommandLeavesTheHostRunning) {
    feed({"throwing", "beta"});
    host::runCommandLoop();
    EXPECT_EQ(ran, (std::vector<std::string>{"beta"}));
    EXPECT_NE(output_.text().find("Unhandled exception in command THROWING."), std::string::npos);
}

TEST_F(CommandLineTest, EndOfCommandHooksRunAfterEveryCommandHoweverItEnds) {
    int calls = 0;
    int id = host::addCommandEndHook([&] { ++calls; });
    feed({"alpha", "throwing", "xyz", "ask", "^C"});
    host::runCommandLoop();
    host::removeCommandEndHook(id);
    EXPECT_EQ(calls, 3) << "alpha, throwing and the cancelled ask; not the unknown command";
    feed({"alpha"});
    host::runCommandLoop();
    EXPECT_EQ(calls, 3) << "a removed hook is not called";
}

TEST_F(CommandLineTest, SentStringsWaitUntilTheDocumentIsQuiescent) {
    // A command that sends a string while it runs: the string must not answer the
    // command's own prompt but run after it.
    static AcApDocument* target;
    target = document_;
    acedRegCmds->addCommand("TESTS", "sender", "sender", ACRX_CMD_MODAL, [] {
        EXPECT_FALSE(target->isQuiescent());
        acDocManager->sendStringToExecute(target, "ask\nfrom string\n");
        askAndRecord();
    });
    feed({"sender", "typed"});
    EXPECT_TRUE(document_->isQuiescent());
    host::runCommandLoop();
    EXPECT_EQ(ran, (std::vector<std::string>{"answer:typed", "answer:from string"}));
    EXPECT_TRUE(document_->isQuiescent());
}

TEST_F(CommandLineTest, DelayServesTimersAndRunsSentStrings) {
    static int ticks;
    static AcApDocument* target;
    ticks = 0;
    target = document_;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        if (++ticks == 1 && target->isQuiescent()) acDocManager->sendStringToExecute(target, "beta\n");
    });
    ASSERT_NE(timer, 0u);
    feed({"DELAY 200"});
    host::runCommandLoop();
    KillTimer(nullptr, timer);
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(ran, (std::vector<std::string>{"beta"})) << "DELAY leaves the drawing idle for the timer";
}

TEST_F(CommandLineTest, DelayRefusesWhatIsNotATime) {
    feed({"DELAY", "soon", "-5", "0"});
    host::runCommandLoop();
    std::string out = output_.text();
    std::size_t complaints = 0;
    for (std::size_t at = out.find("Requires an integer"); at != std::string::npos;
         at = out.find("Requires an integer", at + 1))
        ++complaints;
    EXPECT_EQ(complaints, 2u) << out;
    EXPECT_EQ(unreadLines(), 0u);
}

TEST_F(CommandLineTest, QueuedExpressionsCallTheirFunctionWhenTheDocumentIsReady) {
    static int calls;
    calls = 0;
    ASSERT_EQ(acedDefun("probe", 7), RTNORM);
    ASSERT_EQ(acedRegFunc(
                  +[] {
                      ++calls;
                      EXPECT_EQ(acedGetFunCode(), 7);
                      EXPECT_FALSE(acDocManager->curDocument()->isQuiescent());
                      return RTNORM;
                  },
                  7),
              RTNORM);
    ASSERT_EQ(ads_queueexpr("(probe)"), RTNORM);
    EXPECT_FALSE(document_->isQuiescent()) << "a queued expression is pending work";
    EXPECT_EQ(host::runPendingWork(), 1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(acedGetFunCode(), RTERROR) << "outside an evaluation";

    feed({"(PROBE)", "( probe )", "(probe 1)", "(nothing)"});
    host::runCommandLoop();
    EXPECT_EQ(calls, 3);
    std::string out = output_.text();
    EXPECT_NE(out.find("no function definition: nothing"), std::string::npos) << out;
    EXPECT_EQ(acedUndef("probe", 7), RTNORM);
    EXPECT_EQ(acedUndef("probe", 7), RTERROR);
}

TEST_F(CommandLineTest, FunctionsBelongToTheirDocument) {
    ASSERT_EQ(acedDefun("mine", 0), RTNORM);
    AcApDocument* second = acDocManager->newDocument();
    EXPECT_EQ(acDocManager->curDocument(), second);
    EXPECT_EQ(host::lispFunctionsOf(second).count("mine"), 0u);
    EXPECT_EQ(host::lispFunctionsOf(document_).count("mine"), 1u);
    EXPECT_TRUE(acDocManager->closeDocument(second));
    EXPECT_EQ(acDocManager->curDocument(), document_);
}

TEST_F(CommandLineTest, CommandsRunFromCodeTakeOnlyTheirGivenAnswers) {
    feed({"typed later"});
    EXPECT_EQ(acedCommand(RTSTR, "ask", RTSTR, "given", 0), RTNORM);
    EXPECT_EQ(acedCommand(RTSTR, "_ask", 0), RTNORM) << "no answer left: the prompt is cancelled";
    EXPECT_EQ(acedCommand(RTSTR, "nosuchcommand", 0), RTERROR);
    EXPECT_EQ(acedCommand(RTSTR, "_.ask", 0), RTERROR) << "\".\" selects the host's own commands";
    EXPECT_EQ(acedCommand(RTSTR, "ask", 4711, "odd type", 0), RTERROR);
    EXPECT_EQ(ran, (std::vector<std::string>{"answer:given"}));
    EXPECT_EQ(unreadLines(), 1u) << "the user's input is left alone";

    resbuf echo{};
    echo.restype = RTSHORT;
    echo.resval.rint = 0;
    ASSERT_EQ(acedSetVar("CMDECHO", &echo), RTNORM);
    output_.clear();
    EXPECT_EQ(acedCommand(RTSTR, "ask", RTSTR, "quiet", 0), RTNORM);
    echo.resval.rint = 1;
    ASSERT_EQ(acedSetVar("CMDECHO", &echo), RTNORM);
    EXPECT_EQ(output_.text(), "") << "CMDECHO 0 hides the command's prompts";
    EXPECT_EQ(ran.back(), "answer:quiet");
}

// Every way out of a command run from code leaves the document's queued input, the
// answers-only state and the output as they were: a later prompt reads the user's
// input again, and CMDECHO 0 hides nothing afterwards.
TEST_F(CommandLineTest, CommandsRunFromCodePutBackWhatTheyChangedOnEveryWayOut) {
    host::addHostCommand("THROWSODDLY", [] {
        askAndRecord();
        throw 42;  // not a std::exception: the command line lets it through
    });
    host::addHostCommand("FAILS", [] { throw std::runtime_error("disk full"); });
    host::addHostCommand("CLOSESITSELF", [] {
        askAndRecord();
        acDocManager->closeDocument(acDocManager->curDocument());
    });
    resbuf echo{};
    echo.restype = RTSHORT;
    echo.resval.rint = 0;
    ASSERT_EQ(acedSetVar("CMDECHO", &echo), RTNORM);

    struct {
        const char* command;
        bool throws;
        bool ownDocument;  // run in a drawing of its own, which the command may close
    } cases[] = {
        {"ask", false, false},        {"_ask", false, false},        {"FAILS", false, false},
        {"THROWSODDLY", true, false}, {"CLOSESITSELF", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        AcApDocument* runIn = c.ownDocument ? acDocManager->newDocument() : document_;
        host::InputQueue& queue = host::inputQueueOf(runIn);
        queue.lines = {host::InputLine{host::InputLine::Kind::Text, "queued before", true}};
        feed({"typed by the user"});
        ran.clear();
        output_.clear();
        if (c.throws)
            EXPECT_THROW(acedCommand(RTSTR, c.command, RTSTR, "given", RTSTR, "unread", 0), int);
        else
            EXPECT_EQ(acedCommand(RTSTR, c.command, RTSTR, "given", RTSTR, "unread", 0), RTNORM);
        if (std::string(c.command) != "FAILS") {
            EXPECT_EQ(ran, (std::vector<std::string>{"answer:given"}));
        }
        EXPECT_EQ(output_.text(), "") << "CMDECHO 0 while it ran";

        if (acDocManager->isOpen(runIn)) {
            ASSERT_EQ(queue.lines.size(), 1u) << "the given answers it did not read are gone";
            EXPECT_EQ(queue.lines.front().text, "queued before");
            queue.lines.clear();
        }
        ASSERT_EQ(acDocManager->curDocument(), document_);
        ran.clear();
        askAndRecord();
        EXPECT_EQ(ran, (std::vector<std::string>{"answer:typed by the user"})) << "prompts ask the user again";
        host::writeOutput("shown");
        EXPECT_NE(output_.text().find("shown"), std::string::npos) << "output is no longer muted";
        if (runIn != document_) acDocManager->closeDocument(runIn);
        acDocManager->setCurDocument(document_);
    }
    ASSERT_EQ(acedGetVar("CMDECHO", &echo), RTNORM);
    EXPECT_EQ(echo.resval.rint, 0) << "CMDECHO itself is the caller's";
    echo.resval.rint = 1;
    ASSERT_EQ(acedSetVar("CMDECHO", &echo), RTNORM);
    for (const char* name : {"THROWSODDLY", "FAILS", "CLOSESITSELF"}) host::removeHostCommand(name);
}

TEST(CommandStackTest, NamesAreUniqueWithinAGroupAndFoundInAnyCase) {
    AcEdCommandStack* stack = acedRegCmds;
    EXPECT_EQ(stack->addCommand("G1", "one", "eins", 0, recordAlpha), Acad::eOk);
    EXPECT_EQ(stack->addCommand("g1", "ONE", "uno", 0, recordBeta), Acad::eDuplicateKey);
    EXPECT_EQ(stack->addCommand("G1", "two", "EINS", 0, recordBeta), Acad::eDuplicateKey);
    EXPECT_EQ(stack->addCommand("G1", "", "x", 0, recordBeta), Acad::eInvalidInput);
    EXPECT_EQ(stack->addCommand("G1", "three", "drei", 0, nullptr), Acad::eInvalidInput);
    EXPECT_EQ(stack->addCommand("G2", "one", "un", 0, recordBeta), Acad::eOk);

    ASSERT_NE(stack->lookup("EINS"), nullptr);
    EXPECT_EQ(stack->lookup("EINS")->function, recordAlpha);
    EXPECT_EQ(stack->lookup("One")->function, recordBeta) << "the latest added wins";
    EXPECT_EQ(stack->lookup("_eins"), nullptr) << "underscore asks for global names";
    EXPECT_EQ(stack->removeGroup("g2"), Acad::eOk);
    EXPECT_EQ(stack->lookup("one")->function, recordAlpha);
    EXPECT_EQ(stack->removeGroup("G1"), Acad::eOk);
    EXPECT_EQ(stack->removeGroup("G1"), Acad::eKeyNotFound);
    EXPECT_EQ(stack->lookup("one"), nullptr);
}

TEST(SystemRegistryTest, ServicesAreFoundByNameAndClass) {
    AcRxObject* stack = acrxSysRegistry()->at("ACAD_REGISTERED_COMMANDS");
    const AcRxClass* stackClass = acrxClassDictionary->at("AcEdCommandStack");
    ASSERT_NE(stack, nullptr);
    ASSERT_NE(stackClass, nullptr);
    EXPECT_TRUE(stack->isKindOf(stackClass));
    EXPECT_TRUE(stack->isKindOf(AcRxObject::desc()));
    AcRxObject* linker = acrxSysRegistry()->at("DynamicLinker");
    EXPECT_NE(AcRxDynamicLinker::cast(linker), nullptr);
    EXPECT_EQ(AcRxDynamicLinker::cast(stack), nullptr);
    EXPECT_FALSE(linker->isKindOf(stackClass));
}

TEST(SystemVariableTest, CmdechoIsAShortOfZeroOrOne) {
    resbuf value{};
    ASSERT_EQ(acedGetVar("cmdecho", &value), RTNORM);
    EXPECT_EQ(value.restype, RTSHORT);
    short before = value.resval.rint;
    resbuf set{};
    set.restype = RTSHORT;
    set.resval.rint = 0;
    EXPECT_EQ(acedSetVar("CMDECHO", &set), RTNORM);
    ASSERT_EQ(acedGetVar("CMDECHO", &value), RTNORM);
    EXPECT_EQ(value.resval.rint, 0);
    set.resval.rint = 7;
    EXPECT_EQ(acedSetVar("CMDECHO", &set), RTERROR);
    set.restype = RTREAL;
    set.resval.rreal = 1.0;
    EXPECT_EQ(acedSetVar("CMDECHO", &set), RTERROR);
    EXPECT_EQ(acedGetVar("NOSUCHVAR", &value), RTERROR);
    set.restype = RTSHORT;
    set.resval.rint = before;
    EXPECT_EQ(acedSetVar("CMDECHO", &set), RTNORM);
}

TEST_F(CommandLineTest, ResourceHandleStackPopsWhatWasPushed) {
    auto a = reinterpret_cast<HINSTANCE>(0x10);
    auto b = reinterpret_cast<HINSTANCE>(0x20);
    acDocManager->pushResourceHandle(a);
    acDocManager->pushResourceHandle(b);
    EXPECT_EQ(acDocManager->curResourceHandle(), b);
    acDocManager->popResourceHandle();
    EXPECT_EQ(acDocManager->curResourceHandle(), a);
    acDocManager->popResourceHandle();
    int before = acDocManager->unbalancedPops();
    acDocManager->popResourceHandle();
    EXPECT_EQ(acDocManager->unbalancedPops(), before + 1);
    EXPECT_EQ(acDocManager->curResourceHandle(), nullptr);
}

}  // namespace
