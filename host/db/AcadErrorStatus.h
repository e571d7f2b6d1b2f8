// Status values returned by every drawing database call, with the host's own numbers
// so that a status printed in a diagnostic means the same as on the real host.
#pragma once

struct Acad {
    enum ErrorStatus : int {
        eOk = 0,
        eNotImplementedYet = 1,
        eNotApplicable = 2,
        eInvalidInput = 3,
        eOutOfMemory = 6,
        eBufferTooSmall = 7,
        eInvalidOpenState = 8,
        eHandleExists = 10,
        eNullHandle = 11,
        eUnknownHandle = 13,
        eNullObjectPointer = 15,
        eNullObjectId = 16,
        eNullBlockName = 17,
        eNullEntityPointer = 20,
        eIllegalEntityType = 21,
        eKeyNotFound = 22,
        eDuplicateKey = 23,
        eOutOfDisk = 27,
        eInvalidSymbolTableName = 32,
        eWrongObjectType = 34,
        eWrongDatabase = 35,
        eEndOfFile = 41,
        eNotOpenForRead = 44,
        eNotOpenForWrite = 45,
        eNotThatKindOfClass = 46,
        eInvalidBlockName = 47,
        eWasErased = 80,
        ePermanentlyErased = 81,
        eWasOpenedForRead = 82,
        eWasOpenedForWrite = 83,
        eAtMaxReaders = 106,
        eFileAccessErr = 111,
        eFileSystemErr = 112,
        eBadDxfSequence = 129,
        eInvalidDxfCode = 130,
        eInvalidLayer = 136,
        eFileNotFound = 157,
        eDwgNeedsRecovery = 163,
        eZeroScaleFactor = 239,
    };
};

namespace AcDb {
enum OpenMode { kNotOpen = -1, kForRead = 0, kForWrite = 1, kForNotify = 2 };
}

// Name of a status as the host spells it ("eNotThatKindOfClass"), for diagnostics.
const char* acadErrorStatusText(Acad::ErrorStatus es);
