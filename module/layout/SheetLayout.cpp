#include "module/layout/SheetLayout.h"

#include "module/base/ResourceStrings.h"
#include "module/spreadsheet/CellValue.h"

namespace tabro {

ExportTexts ExportTexts::load() {
    ExportTexts t;
    ResourceStrings& strings = resourceStrings();
    t.blockNameTitle = strings.load(kTextBlockNameTitle);
    t.headerRowMarker = strings.load(kTextHeaderRowMarker);
    t.parameterMarker = strings.load(kTextParameterMarker);
    t.drawingTitle = strings.load(kTextDrawingTitle);
    t.drawingMarker = strings.load(kTextDrawingMarker);
    for (int c = 0; c < static_cast<int>(PropertyColumn::Count); ++c) {
        t.titles[c] = strings.load(kTextXTitle + 2 * c);
        t.markers[c] = strings.load(kTextXMarker + 2 * c);
    }
    return t;
}

ImportMarkers ImportMarkers::load() {
    ImportMarkers m;
    ResourceStrings& texts = resourceStrings();
    m.x = toWide(texts.load(kTextXMarker));
    m.y = toWide(texts.load(kTextYMarker));
    m.z = toWide(texts.load(kTextZMarker));
    m.rotation = toWide(texts.load(kTextRotationMarker));
    m.scaleX = toWide(texts.load(kTextScaleXMarker));
    m.scaleY = toWide(texts.load(kTextScaleYMarker));
    m.scaleZ = toWide(texts.load(kTextScaleZMarker));
    m.layer = toWide(texts.load(kTextLayerMarker));
    m.layout = toWide(texts.load(kTextLayoutMarker));
    m.headerRow = toWide(texts.load(kTextHeaderRowMarker));
    m.parameter = toWide(texts.load(kTextParameterMarker));
    m.drawing = toWide(texts.load(kTextDrawingMarker));
    m.blockNameTitle = toWide(texts.load(kTextBlockNameTitle));
    return m;
}

bool ImportMarkers::isMarker(const std::u16string& comment) const {
    for (const std::u16string* m :
         {&x, &y, &z, &rotation, &scaleX, &scaleY, &scaleZ, &layer, &layout, &headerRow, &parameter, &drawing})
        if (!m->empty() && sameText(comment, *m)) return true;
    return false;
}

std::optional<ColumnRole> roleOfHeaderCell(const std::optional<std::u16string>& comment, const std::u16string& title,
                                           const ImportMarkers& m) {
    if (comment && !(!m.headerRow.empty() && sameText(*comment, m.headerRow))) {
        const std::u16string& c = *comment;
        if (sameText(c, m.x)) return ColumnRole::X;
        if (sameText(c, m.y)) return ColumnRole::Y;
        if (sameText(c, m.z)) return ColumnRole::Z;
        if (sameText(c, m.rotation)) return ColumnRole::Rotation;
        if (sameText(c, m.scaleX) || sameText(c, m.scaleY) || sameText(c, m.scaleZ)) return ColumnRole::Scale;
        if (sameText(c, m.layer)) return ColumnRole::Layer;
        if (sameText(c, m.layout)) return ColumnRole::Layout;
        if (!m.parameter.empty() && sameText(c, m.parameter)) return ColumnRole::Parameter;
        if (!m.drawing.empty() && sameText(c, m.drawing)) return ColumnRole::Drawing;
        return std::nullopt;
    }
    if (title.empty()) return std::nullopt;
    if (!m.blockNameTitle.empty() && sameText(title, m.blockNameTitle)) return ColumnRole::BlockName;
    return ColumnRole::Attribute;
}

}  // namespace tabro
