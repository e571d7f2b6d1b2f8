// The calling thread's last system error code, as the platform keeps it.
#pragma once

#include "platform/WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD error);
