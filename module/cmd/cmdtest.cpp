// Placeholder until the spreadsheet connection exists: the test obtains nothing.
#include "module/cmd/cmdtest.h"

bool runConnectionTest() { return false; }
