// Writing one imported row into the drawing.
#include "module/import/RowApplier.h"

#include "module/base/ResourceStrings.h"
#include "module/drawing/BlockReading.h"
#include "module/drawing/ReferenceEditor.h"
#include "module/drawing/TagText.h"
#include "module/import/ImportReport.h"
#include "module/layout/PropertyText.h"

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
            if (d.isConstant && sameTagText(d.tag, row.tags[i])) {
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

namespace {

// Reports each edited cell of a property whose value the drawing refused.
void reportRefused(ApplyContext& context, const ImportRow& row, const bool (&has)[3], const std::int32_t (&columns)[3],
                   const double (&target)[3], const double (&now)[3]) {
    for (int i = 0; i < 3; ++i)
        if (has[i] && target[i] != now[i]) report(context, row, columns[i], kTextReasonRefused);
}

void applyPositionCells(ApplyContext& context, const ImportRow& row, ReferenceEditor& editor) {
    if (!(row.hasCoordinate[0] || row.hasCoordinate[1] || row.hasCoordinate[2])) return;
    const AcGePoint3d current = editor.reference()->position();
    const double now[3] = {current.x, current.y, current.z};
    double target[3] = {current.x, current.y, current.z};
    for (int i = 0; i < 3; ++i)
        if (row.hasCoordinate[i] && std::isfinite(row.position[i]))
            target[i] = coordinateFromCell(row.position[i], now[i], context.jtsk);
    if (editor.applyPosition(AcGePoint3d(target[0], target[1], target[2])) != Acad::eOk)
        reportRefused(context, row, row.hasCoordinate, row.coordinateColumn, target, now);
}

void applyScaleCells(ApplyContext& context, const ImportRow& row, ReferenceEditor& editor) {
    if (!(row.hasScale[0] || row.hasScale[1] || row.hasScale[2])) return;
    const AcGeScale3d current = editor.reference()->scaleFactors();
    const double now[3] = {current.sx, current.sy, current.sz};
    double target[3] = {current.sx, current.sy, current.sz};
    for (int i = 0; i < 3; ++i)
        if (row.hasScale[i] && std::isfinite(row.scale[i])) target[i] = distanceFromCell(row.scale[i], now[i]);
    if (editor.applyScale(AcGeScale3d(target[0], target[1], target[2])) != Acad::eOk)
        reportRefused(context, row, row.hasScale, row.scaleColumn, target, now);
}

void applyLayerCell(ApplyContext& context, const ImportRow& row, ReferenceEditor& editor) {
    if (!row.layer) return;
    AcutString current(editor.entity()->layer());
    if (std::strcmp(current.get(), row.layer->c_str()) == 0) return;
    Acad::ErrorStatus es = editor.applyLayer(row.layer->c_str());
    if (es == Acad::eKeyNotFound)
        report(context, row, row.layerColumn, kTextReasonNoSuchLayer, *row.layer);
    else if (es != Acad::eOk)
        report(context, row, row.layerColumn, kTextReasonRefused);
}

void applyRotationCell(ApplyContext& context, const ImportRow& row, ReferenceEditor& editor) {
    if (!row.hasRotation) return;
    const double target = angleFromCell(row.rotation, editor.reference()->rotation());
    if (editor.applyRotation(target) != Acad::eOk) report(context, row, row.rotationColumn, kTextReasonRefused);
}

}  // namespace

RowOutcome applyRow(const ImportRow& row, ApplyContext& context) {
    ReferenceEditor editor;
    if (editor.open(row.handle, context.ignoreProps ? AcDb::kForRead : AcDb::kForWrite) != Acad::eOk)
        return RowOutcome::NotFound;
    // Only a block reference is a row's target: a line or an attribute definition
    // that happens to carry the handle gets nothing, not even the layer.
    if (!editor.reference()) return RowOutcome::NotAReference;
    reportCellProblems(context, row);

    bool complete = false;
    if (AcDbBlockReference* reference = editor.reference()) {
        knowBlock(context, placedBlockOf(*reference));
        AttributeWriteResult write;
        complete = editor.applyAttributes(row.tags, row.values, 0, &write, row.valueNumbers, row.occurrences);
        reportAttributeMisses(context, row, write);
        if (context.report) context.report->fieldsReplaced += static_cast<long>(write.fieldsReplaced);
        if (row.blockName && *row.blockName != context.blockName)
            report(context, row, row.blockNameColumn, kTextReasonBlockName);
    }
    if (!context.ignoreProps) {
        // The order of the steps: position, scale, layer, rotation.
        if (editor.reference()) applyPositionCells(context, row, editor);
        if (editor.reference()) applyScaleCells(context, row, editor);
        applyLayerCell(context, row, editor);
        if (editor.reference()) applyRotationCell(context, row, editor);
        (void)editor.finish();
    }
    if (editor.changed() && context.report) context.report->referenceChanged();
    if (!editor.reference()) return RowOutcome::NotAReference;
    return complete ? RowOutcome::Applied : RowOutcome::Partial;
}

}  // namespace tabro
