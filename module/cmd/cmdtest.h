// The tbtest command's connection test: attach to (or start) the spreadsheet
// application and bring it to the front, tracing each step on the command line.
#pragma once

// True when the application was obtained and its workbook activated. Failures are
// raised to the caller's guard or reported in a box; see the command's description.
bool runConnectionTest();
