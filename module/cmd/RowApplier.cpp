// Writing one imported row into the drawing.
#include "module/cmd/RowApplier.h"

#include "host/db/AcUnits.h"
#include "module/drawing/ReferenceEditing.h"
#include "module/spreadsheet/CellValue.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace tabro {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// A distance as the sheet shows it after export, read back as import reads a cell.
double distanceAsExported(double value) {
    char text[512];
    if (acdbRToS(value, -1, -1, text, sizeof text) != RTNORM) return kNotANumber;
    return readNumber(text).value_or(kNotANumber);
}

double angleAsExported(double radians) {
    char text[512];
    double back = 0;
    if (acdbAngToS(radians, -1, -1, text, sizeof text) != RTNORM) return kNotANumber;
    if (acdbAngToF(text, -1, &back) != RTNORM) return kNotANumber;
    return back;
}

// The value to set: the current one when the cell still says what export wrote.
// A cell that holds the current value exactly needs no formatting to tell.
double editedOrCurrent(double cell, double current, double (*asExported)(double)) {
    if (cell == current) return current;
    return cell == asExported(current) ? current : cell;
}

}  // namespace

RowOutcome applyRow(const ImportRow& row, bool ignoreProps) {
    AcDbObjectPointer<AcDbEntity> entity;
    if (openByHandle(row.handle, ignoreProps ? AcDb::kForRead : AcDb::kForWrite, entity) != Acad::eOk)
        return RowOutcome::NotFound;
    AcDbBlockReference* reference = AcDbBlockReference::cast(entity.get());
    bool complete = reference && writeAttributes(*reference, row.tags, row.values);
    if (ignoreProps) return complete ? RowOutcome::Applied : RowOutcome::Partial;

    bool moved = false;
    if (reference && row.positionCount == 3) {
        const AcGePoint3d current = reference->position();
        AcGePoint3d target(editedOrCurrent(row.position[0], current.x, distanceAsExported),
                           editedOrCurrent(row.position[1], current.y, distanceAsExported),
                           editedOrCurrent(row.position[2], current.z, distanceAsExported));
        if (std::isfinite(target.x) && std::isfinite(target.y) && std::isfinite(target.z) && !(target == current))
            moved |= reference->setPosition(target) == Acad::eOk;
    }
    if (reference && row.scaleCount == 3) {
        const AcGeScale3d current = reference->scaleFactors();
        AcGeScale3d target(editedOrCurrent(row.scale[0], current.sx, distanceAsExported),
                           editedOrCurrent(row.scale[1], current.sy, distanceAsExported),
                           editedOrCurrent(row.scale[2], current.sz, distanceAsExported));
        if (std::isfinite(target.sx) && std::isfinite(target.sy) && std::isfinite(target.sz) && !(target == current))
            moved |= reference->setScaleFactors(target) == Acad::eOk;
    }
    if (row.layer) {
        AcutString current(entity->layer());
        if (std::strcmp(current.get(), row.layer->c_str()) != 0) (void)entity->setLayer(row.layer->c_str(), true);
    }
    if (reference && row.hasRotation) {
        const double current = reference->rotation();
        const double target = editedOrCurrent(row.rotation, current, angleAsExported);
        if (std::isfinite(target) && target != current) moved |= reference->setRotation(target) == Acad::eOk;
    }
    if (moved) (void)refreshAttributes(reference);
    return complete ? RowOutcome::Applied : RowOutcome::Partial;
}

}  // namespace tabro
