// The automation objects of the application model, for the code around them that
// hands objects out (events, the running application). Each class has its own header;
// objects are made per request and cheap, any thread may call them, and the
// application's lock serialises the calls.
#pragma once

#include "sheet/ApplicationObject.h"
#include "sheet/BookLifecycle.h"
#include "sheet/CommentObject.h"
#include "sheet/FontObject.h"
#include "sheet/RangeObject.h"
#include "sheet/WorkbookObject.h"
#include "sheet/WorkbooksObject.h"
#include "sheet/WorksheetObject.h"
#include "sheet/WorksheetsObject.h"
