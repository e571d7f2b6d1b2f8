// The typed open: a drawing object opened by id and checked to be of a class.
#pragma once

#include "host/AcRx.h"
#include "host/db/AcDbObject.h"

namespace tabro {

// Opens `id` and hands it out as T when it is a T (or derived): eOk. A failed open
// returns the host's status and no object. An object of another class is closed
// again: eNotThatKindOfClass and no object; if that close fails the host is ended
// (acrx_abort), since an object left open would block every later open of it.
template <class T>
[[nodiscard]] Acad::ErrorStatus openAs(T*& object, AcDbObjectId id, AcDb::OpenMode mode) {
    object = nullptr;
    AcDbObject* opened = nullptr;
    Acad::ErrorStatus status = acdbOpenAcDbObject(opened, id, mode);
    if (status != Acad::eOk) return status;
    if (opened->isKindOf(T::desc())) {
        object = static_cast<T*>(opened);
        return Acad::eOk;
    }
    if (opened->close() != Acad::eOk) acrx_abort("Failed AcDbObject::close()");
    return Acad::eNotThatKindOfClass;
}

}  // namespace tabro
