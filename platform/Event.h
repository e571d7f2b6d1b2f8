// Win32-style events: manual-reset or auto-reset, waited on with
// WaitForSingleObject (platform/Handle.h).
#pragma once

#include "platform/Handle.h"

// A new event, or null (GetLastError) on failure. Named events are not shared
// between calls here: the name is accepted and ignored.
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, const char* name);
// FALSE with ERROR_INVALID_HANDLE for a handle that is not an event.
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
