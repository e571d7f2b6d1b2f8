// Writing one imported row into the drawing.
#include "module/import/RowApplier.h"

#include "module/ResourceStrings.h"
#include "module/import/ImportReport.h"
#include "module/layout/PropertyText.h"
#include "module/drawing/BlockReading.h"
#include "module/drawing/ReferenceEditing.h"
#include "module/drawing/TagText.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace tabro {

namespace {

std::int32_t columnOf(const ImportRow& row, std::size_t pair) {
    return pair < row.valueColumns.size() ? row.valueColumns[pair] : 0;
}

void report(ApplyContext& context, const ImportRow& row, std::int32_t column, UINT reason,
            const std::string& subject = {}) {
    if (context.report) context.report->cellNotApplied(row.sheetRow, column, reason, subject);
}

// The block's name and attribute definitions, read once for the rows of one block.
void knowBlock(ApplyContext& context, AcDbObjectId block) {
    if (context.hasBlock && context.block == block) return;
    context.block = block;
    context.hasBlock = true;
    if (!blockNameOf(block, context.blockName)) context.blockName.clear();
    if (!collectDefinitionRecords(block, context.definitions)) context.definitions.clear();
}

// Reports the pairs that reached no attribute. An empty cell under a tag the
// reference lacks is what export writes for it, and a constant attribute's column
// shows the definition's text: neither is an edit.
void reportAttributeMisses(ApplyContext& context, const ImportRow& row, const AttributeWriteResult& write) {
    for (std::size_t i : write.missing) {
        const std::string& value = row.values[i];
        if (value.empty()) continue;
        const AttributeRecord* constant = nullptr;
        for (const AttributeRecord& d : context.definitions)
            if (d.isConstant && sameTag(d.tag, row.tags[i])) {
                constant = &d;
                break;
            }
        if (constant && constant->text == value) continue;
        report(context, row, columnOf(row, i), constant ? kTextReasonConstant : kTextReasonNoSuchAttribute,
               row.tags[i]);
    }
    for (std::size_t i : write.refused) report(context, row, columnOf(row, i), kTextReasonRefused);
}

void reportCellProblems(ApplyContext& context, const ImportRow& row) {
    for (const CellProblem& p : row.problems)
        if (!(context.ignoreProps && p.isProperty)) report(context, row, p.column, p.reason, p.subject);
}

}  // namespace

RowOutcome applyRow(const ImportRow& row, bool ignoreProps) {
    ApplyContext context;
    context.ignoreProps = ignoreProps;
    return applyRow(row, context);
}

RowOutcome applyRow(const ImportRow& row, ApplyContext& context) {
    AcDbObjectPointer<AcDbEntity> entity;
    if (openByHandle(row.handle, context.ignoreProps ? AcDb::kForRead : AcDb::kForWrite, entity) != Acad::eOk)
        return RowOutcome::NotFound;
    AcDbBlockReference* reference = AcDbBlockReference::cast(entity.get());
    reportCellProblems(context, row);

    AttributeWriteResult write;
    bool complete = false;
    if (reference) {
        knowBlock(context, reference->blockTableRecord());
        complete = writeAttributes(*reference, row.tags, row.values, 0, &write, row.valueNumbers);
        reportAttributeMisses(context, row, write);
        if (row.blockName && *row.blockName != context.blockName)
            report(context, row, row.blockNameColumn, kTextReasonBlockName);
    }
    bool changed = write.changed > 0;
    auto finish = [&] {
        if (changed && context.report) context.report->referenceChanged();
        if (!reference) return RowOutcome::NotAReference;
        return complete ? RowOutcome::Applied : RowOutcome::Partial;
    };
    if (context.ignoreProps) return finish();

    bool moved = false;
    if (reference && (row.hasCoordinate[0] || row.hasCoordinate[1] || row.hasCoordinate[2])) {
        const AcGePoint3d current = reference->position();
        const double now[3] = {current.x, current.y, current.z};
        double target[3] = {current.x, current.y, current.z};
        for (int i = 0; i < 3; ++i)
            if (row.hasCoordinate[i] && std::isfinite(row.position[i]))
                target[i] = coordinateFromCell(row.position[i], now[i], context.jtsk);
        const AcGePoint3d point(target[0], target[1], target[2]);
        if (!(point == current)) {
            if (reference->setPosition(point) == Acad::eOk)
                moved = true;
            else
                for (int i = 0; i < 3; ++i)
                    if (row.hasCoordinate[i] && target[i] != now[i])
                        report(context, row, row.coordinateColumn[i], kTextReasonRefused);
        }
    }
    if (reference && (row.hasScale[0] || row.hasScale[1] || row.hasScale[2])) {
        const AcGeScale3d current = reference->scaleFactors();
        const double now[3] = {current.sx, current.sy, current.sz};
        double target[3] = {current.sx, current.sy, current.sz};
        for (int i = 0; i < 3; ++i)
            if (row.hasScale[i] && std::isfinite(row.scale[i]))
                target[i] = distanceFromCell(row.scale[i], now[i]);
        const AcGeScale3d scale(target[0], target[1], target[2]);
        if (!(scale == current)) {
            if (reference->setScaleFactors(scale) == Acad::eOk)
                moved = true;
            else
                for (int i = 0; i < 3; ++i)
                    if (row.hasScale[i] && target[i] != now[i])
                        report(context, row, row.scaleColumn[i], kTextReasonRefused);
        }
    }
    if (row.layer) {
        AcutString current(entity->layer());
        if (std::strcmp(current.get(), row.layer->c_str()) != 0) {
            Acad::ErrorStatus es = entity->setLayer(row.layer->c_str(), true);
            if (es == Acad::eKeyNotFound)
                report(context, row, row.layerColumn, kTextReasonNoSuchLayer, *row.layer);
            else if (es != Acad::eOk)
                report(context, row, row.layerColumn, kTextReasonRefused);
            else {
                AcutString after(entity->layer());
                changed |= std::strcmp(current.get(), after.get()) != 0;
            }
        }
    }
    if (reference && row.hasRotation) {
        const double current = reference->rotation();
        const double target = angleFromCell(row.rotation, current);
        if (std::isfinite(target) && target != current) {
            if (reference->setRotation(target) == Acad::eOk)
                moved = true;
            else
                report(context, row, row.rotationColumn, kTextReasonRefused);
        }
    }
    if (moved) {
        (void)refreshAttributes(reference);
        changed = true;
    }
    return finish();
}

}  // namespace tabro
