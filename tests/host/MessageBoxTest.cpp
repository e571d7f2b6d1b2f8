// Message boxes: default buttons, the recorder tests rely on, and the terminal
// presenter's answers.
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

namespace {

TEST(MessageBoxTest, DefaultButtonFollowsTheFlags) {
    struct {
        UINT type;
        int answer;
    } cases[] = {
        {MB_OK, IDOK},
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_YESNO | MB_DEFBUTTON3, IDYES},  // past the last button: the first
        {MB_ICONERROR, IDOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(platform::defaultMessageBoxAnswer(c.type), c.answer);
    }
}

// A script's cadhost ends with a failure when a box reported one: error boxes and
// plain OK warnings count, questions, information and a dialog's prompt to put a
// field right do not.
TEST(MessageBoxTest, FailureBoxesAreCountedAndPromptsAreNot) {
    platform::MessageBoxRecorder recorder;
    struct {
        UINT type;
        bool isPrompt;
        bool counts;
    } cases[] = {
        {MB_OK | MB_ICONERROR, false, true},        {MB_OK | MB_ICONEXCLAMATION, false, true},
        {MB_OK | MB_ICONEXCLAMATION, true, false},  {MB_YESNO | MB_ICONWARNING, false, false},
        {MB_OK | MB_ICONINFORMATION, false, false}, {MB_OK, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << (c.isPrompt ? " prompt" : ""));
        const std::size_t before = platform::failureBoxCount();
        if (c.isPrompt)
            platform::promptBox(nullptr, "Please enter an integer.", "", c.type);
        else
            MessageBoxA(nullptr, "text", "caption", c.type);
        EXPECT_EQ(platform::failureBoxCount() - before, c.counts ? 1u : 0u);
    }
    EXPECT_EQ(recorder.count(), std::size(cases)) << "every box is shown";
}

TEST(MessageBoxTest, RecorderRecordsEveryBoxAndAnswersAsTold) {
    platform::MessageBoxRecorder recorder;
    recorder.answerNext(IDNO);
    auto owner = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(MessageBoxA(owner, "Save?", "Title", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Again?", nullptr, MB_YESNO | MB_DEFBUTTON2), IDNO)
        << "default once told answers run out";
    // A box from another thread is recorded like any other.
    std::thread([] { MessageBoxA(nullptr, "from a thread", "T", MB_OK); }).join();
    auto boxes = recorder.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].owner, owner);
    EXPECT_EQ(boxes[0].text, "Save?");
    EXPECT_EQ(boxes[0].caption, "Title");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(boxes[1].caption, "Error") << "a null caption reads Error, as on the platform";
    EXPECT_EQ(boxes[2].text, "from a thread");
}

TEST(MessageBoxTest, RecordersNestAndRestoreThePresenterBefore) {
    platform::MessageBoxRecorder outer;
    {
        platform::MessageBoxRecorder inner;
        MessageBoxA(nullptr, "inner", "c", MB_OK);
        EXPECT_EQ(inner.count(), 1u);
    }
    MessageBoxA(nullptr, "outer", "c", MB_OK);
    ASSERT_EQ(outer.count(), 1u);
    EXPECT_EQ(outer.last().text, "outer");
}

TEST(MessageBoxTest, TerminalPresenterReadsAnswersUntilOneNamesAButton) {
    struct {
        std::vector<std::string> lines;
        UINT type;
        int answer;
    } cases[] = {
        {{"n"}, MB_YESNO, IDNO},
        {{"YES"}, MB_YESNO, IDYES},
        {{"maybe", "2"}, MB_YESNOCANCEL, IDNO},
        {{""}, MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {{}, MB_YESNO | MB_DEFBUTTON2, IDNO},  // end of input: the default
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.empty() ? "<end>" : c.lines.front());
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        std::size_t next = 0;
        platform::TerminalMessageBoxPresenter presenter(out, [&]() -> std::optional<std::string> {
            if (next >= c.lines.size()) return std::nullopt;
            return c.lines[next++];
        });
        EXPECT_EQ(presenter({nullptr, "Question text", "Caption", c.type}), c.answer);
        std::rewind(out);
        char printed[512] = {};
        std::fread(printed, 1, sizeof printed - 1, out);
        std::fclose(out);
        EXPECT_NE(std::string(printed).find("[Caption]"), std::string::npos);
        EXPECT_NE(std::string(printed).find("Question text"), std::string::npos);
    }
}

TEST(MessageBoxTest, ScriptedInputTakesTheDefaultButtonAndSaysSo) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    platform::TerminalMessageBoxPresenter presenter(out, nullptr);
    EXPECT_EQ(presenter({nullptr, "Broken", "Tablora", MB_OK | MB_ICONERROR}), IDOK);
    std::rewind(out);
    char printed[256] = {};
    std::fread(printed, 1, sizeof printed - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(printed), "\n[Tablora] (Error)\nBroken\n[OK]\n");
}

}  // namespace
