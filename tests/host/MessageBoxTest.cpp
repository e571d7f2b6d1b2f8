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

// cadhost's exit status rests on this count: failures reported in a box make a
// script's run fail; questions and a dialog's input checks do not.
TEST(MessageBoxTest, FailureBoxesAreCountedAndOthersAreNot) {
    platform::MessageBoxRecorder recorder;
    auto owner = reinterpret_cast<HWND>(0x1234);
    const std::size_t before = platform::failureBoxCount();
    MessageBoxA(owner, "Save changes?", "T", MB_YESNO | MB_ICONQUESTION);
    MessageBoxA(owner, "Done.", "T", MB_OK | MB_ICONINFORMATION);
    MessageBoxA(nullptr, "Please enter an integer.", "", MB_OK | MB_ICONEXCLAMATION);
    MessageBoxA(owner, "Replace it?", "T", MB_YESNO | MB_ICONWARNING);
    EXPECT_EQ(platform::failureBoxCount(), before);
    MessageBoxA(nullptr, "Assertion failed", "T", MB_OK | MB_ICONERROR);
    EXPECT_EQ(platform::failureBoxCount(), before + 1);
    MessageBoxA(owner, "COM error!", "T", MB_OK | MB_ICONEXCLAMATION);  // the framework's error box
    EXPECT_EQ(platform::failureBoxCount(), before + 2);
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
