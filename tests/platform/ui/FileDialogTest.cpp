// File dialogs answered by a presenter: the default extension, the question before
// replacing a file, Cancel, and the filter text.
#include "platform/MessageBox.h"
#include "platform/ui/FileDialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>

namespace {

class Answers {
public:
    explicit Answers(std::deque<std::optional<std::string>> answers) : answers_(std::move(answers)) {
        previous_ = platform::ui::setFileDialogPresenter([this](const platform::ui::FileDialogRequest& r) {
            requests.push_back(r);
            if (answers_.empty()) return std::optional<std::string>();
            auto a = answers_.front();
            answers_.pop_front();
            return a;
        });
    }
    ~Answers() { platform::ui::setFileDialogPresenter(std::move(previous_)); }
    std::vector<platform::ui::FileDialogRequest> requests;

private:
    std::deque<std::optional<std::string>> answers_;
    platform::ui::FileDialogPresenter previous_;
};

TEST(FileDialogTest, TheFilterTextBecomesPairs) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(platform::ui::parseFileFilter("Settings (*.ini)|*.ini|All files (*.*)|*.*||"),
              (Pairs{{"Settings (*.ini)", "*.ini"}, {"All files (*.*)", "*.*"}}));
    EXPECT_EQ(platform::ui::parseFileFilter(""), Pairs{});
    EXPECT_EQ(platform::ui::parseFileFilter("Only a description"), Pairs{});
}

TEST(FileDialogTest, ANameWithoutExtensionGetsTheDefault) {
    Answers answers({"/tmp/settings", "/tmp/other.cfg"});
    CFileDialog open(TRUE, "ini", "Tablora.ini", OFN_HIDEREADONLY, "Settings|*.ini||");
    ASSERT_EQ(open.DoModal(), IDOK);
    EXPECT_EQ(open.GetPathName(), "/tmp/settings.ini");
    ASSERT_EQ(open.DoModal(), IDOK);
    EXPECT_EQ(open.GetPathName(), "/tmp/other.cfg");
    ASSERT_EQ(answers.requests.size(), 2u);
    EXPECT_TRUE(answers.requests[0].isOpen);
    EXPECT_EQ(answers.requests[0].initialName, "Tablora.ini");
    EXPECT_EQ(open.DoModal(), IDCANCEL) << "no answer is Cancel";
}

TEST(FileDialogTest, ARelativeNameComesBackAsAFullPath) {
    Answers answers({"sub/../settings"});
    CFileDialog open(TRUE, "ini", nullptr, OFN_HIDEREADONLY);
    ASSERT_EQ(open.DoModal(), IDOK);
    EXPECT_EQ(open.GetPathName(), (std::filesystem::current_path() / "settings.ini").string())
        << "the caller may read the file after changing folders";
}

TEST(FileDialogTest, SavingOverAFileAsksFirst) {
    const std::string folder = ::testing::TempDir();
    const std::string existing = folder + "/tabro-file-dialog-existing.ini";
    std::ofstream(existing) << "[Export]\n";
    {
        platform::MessageBoxRecorder boxes;
        boxes.answerNext(IDNO);
        boxes.answerNext(IDYES);
        Answers answers({existing, existing});
        CFileDialog save(FALSE, "ini", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
        ASSERT_EQ(save.DoModal(), IDOK);
        EXPECT_EQ(save.GetPathName(), std::filesystem::path(existing).lexically_normal().string());
        EXPECT_EQ(answers.requests.size(), 2u) << "No went back to the choice";
        ASSERT_EQ(boxes.count(), 2u);
        EXPECT_EQ(boxes.last().type & MB_TYPEMASK, MB_YESNO);
    }
    {
        platform::MessageBoxRecorder boxes;
        Answers answers({existing});
        CFileDialog save(FALSE, "ini", nullptr, OFN_HIDEREADONLY);
        EXPECT_EQ(save.DoModal(), IDOK);
        EXPECT_EQ(boxes.count(), 0u) << "without OFN_OVERWRITEPROMPT nobody is asked";
    }
    std::filesystem::remove(existing);
}

TEST(FileDialogTest, WithoutAPresenterTheDialogIsCancelled) {
    CFileDialog open(TRUE);
    EXPECT_EQ(open.DoModal(), IDCANCEL);
}

}  // namespace
