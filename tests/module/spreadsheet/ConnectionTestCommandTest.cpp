// The tbtest connection test: its trace lines on the command line and its error box.
#include "module/cmd/cmdtest.h"

#include "FakeSpreadsheet.h"
#include "host/Editor.h"
#include "platform/ComError.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using tabro::testing::FakeSpreadsheet;

std::string traces(std::initializer_list<int> points) {
    std::string out;
    for (int p : points) out += "\nDEBUG: cmd/cmdtest (" + std::to_string(p) + ")";
    return out;
}

class ConnectionTestCommand : public ::testing::Test {
protected:
    void SetUp() override {
        liveAtStart_ = platform::liveComObjects();
        fake_ = std::make_unique<FakeSpreadsheet>();
    }
    void TearDown() override {
        fake_.reset();
        EXPECT_EQ(platform::liveComObjects(), liveAtStart_) << "an automation reference was not released";
    }
    std::unique_ptr<FakeSpreadsheet> fake_;
    std::size_t liveAtStart_ = 0;
};

TEST_F(ConnectionTestCommand, NotRegisteredShowsTheErrorBox) {
    host::OutputCapture output;
    platform::MessageBoxRecorder boxes;
    EXPECT_FALSE(runConnectionTest());
    EXPECT_EQ(output.text(), traces({48, 50}));
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, "ERROR: Failed to to obtain Excel object.");
    EXPECT_EQ(boxes.last().caption, "Error");
    EXPECT_EQ(boxes.last().owner, adsw_acadMainWnd());
    EXPECT_EQ(boxes.last().type & MB_ICONMASK, MB_ICONERROR);
}

TEST_F(ConnectionTestCommand, NotRunningStartsOneAndAddsAWorkbook) {
    fake_->registerClass();
    host::OutputCapture output;
    platform::MessageBoxRecorder boxes;
    EXPECT_TRUE(runConnectionTest());
    EXPECT_EQ(output.text(), traces({48, 50, 64, 66, 68, 72, 74}));
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_TRUE(fake_->visible);
    EXPECT_TRUE(fake_->interactive);
    EXPECT_EQ(fake_->created, 1);
    ASSERT_EQ(fake_->books.size(), 1u);
    EXPECT_EQ(fake_->activeBook, fake_->books[0].get());
}

TEST_F(ConnectionTestCommand, RunningWithAWorkbookAddsNothing) {
    fake_->registerClass();
    fake_->run();
    fake_->addBook();
    FakeSpreadsheet::Book& second = fake_->addBook();
    fake_->activeBook = fake_->books[0].get();
    (void)second;
    host::OutputCapture output;
    EXPECT_TRUE(runConnectionTest());
    EXPECT_EQ(output.text(), traces({48, 64, 66, 68, 72, 74}));
    EXPECT_EQ(fake_->books.size(), 2u);
    EXPECT_EQ(fake_->activeBook, fake_->books[0].get());
    EXPECT_EQ(fake_->created, 0);
}

TEST_F(ConnectionTestCommand, AFailingMemberStopsTheTraceAndIsRaised) {
    fake_->registerClass();
    fake_->run();
    fake_->app->members.erase(tabro::xl::dispid::Visible);
    host::OutputCapture output;
    EXPECT_THROW(runConnectionTest(), _com_error);
    EXPECT_EQ(output.text(), traces({48, 64}));
}

}  // namespace
