// A fixture for tests that drive the host stand-in: one open drawing, scripted
// input, captured command-line output and recorded message boxes.
#pragma once

#include "host/AcApDocManager.h"
#include "host/CommandLine.h"
#include "host/Editor.h"
#include "host/HostCommands.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::registerBuiltinCommands();
        host::resetQuit();
        document_ = acDocManager->newDocument();
    }

    void TearDown() override {
        host::setInputSource(nullptr);
        acDocManager->closeAll();
        host::resetQuit();
        EXPECT_EQ(acDocManager->resourceHandleDepth(), 0u) << "a resource scope was left open";
    }

    // The lines the command line reads next; a line "^C" cancels.
    void feed(std::vector<std::string> lines) {
        script_ = std::make_unique<host::ScriptInput>(std::move(lines));
        host::setInputSource(script_.get());
    }

    std::size_t unreadLines() const { return script_ ? script_->remaining() : 0; }

    host::OutputCapture output_;
    platform::MessageBoxRecorder boxes_;
    AcApDocument* document_ = nullptr;

private:
    std::unique_ptr<host::ScriptInput> script_;
};
