// What the test help library (tests/platform/modules/HelpRecorder) records; the
// library writes into the record a test hands it with setHelpRecord.
#pragma once

#include "platform/HtmlHelp.h"

#include <string>

struct HelpRecord {
    int attaches = 0;
    int calls = 0;
    std::string file;
    UINT command = 99;
    DWORD_PTR data = 99;
};
