#include "module/layout/ExportRow.h"

#include "host/db/AcDbDatabase.h"
#include "host/db/AcDbDynBlockReference.h"
#include "host/db/AcUnits.h"
#include "module/settings/Settings.h"

#include <algorithm>
#include <clocale>
#include <cwchar>
#include <cwctype>

namespace tabro {

namespace {

void pushProperty(ExportRow& row, const ExportTexts& texts, PropertyColumn c) {
    if (!row.withTitles) return;
    row.titles.push(texts.title(c));
    row.markers.push(texts.marker(c));
}

// The collation key of a tag: folded to lower case, as wide text for wcscoll.
std::wstring collationKey(const std::string& tag) {
    std::wstring wide;
    std::mbstate_t state{};
    const char* p = tag.c_str();
    const char* end = p + tag.size();
    while (p < end) {
        wchar_t wc = 0;
        std::size_t n = std::mbrtowc(&wc, p, static_cast<std::size_t>(end - p), &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            // A byte the locale does not decode sorts by its value, after the letters.
            wc = static_cast<wchar_t>(0xDC00 + static_cast<unsigned char>(*p));
            n = 1;
            state = {};
        } else if (n == 0) {
            n = 1;
        }
        wide.push_back(static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(wc))));
        p += n;
    }
    return wide;
}

}  // namespace

void composeExportRow(ExportRow& row, const ReferenceProperties& reference, const std::string& blockName,
                      std::vector<AttributeRecord>& records, const ExportOptions& options, const ExportTexts& texts,
                      const NumberTexts& numbers, const std::string* layoutName,
                      const std::vector<std::string>* parameterLabels, const std::string* drawingName) {
    row.clear();
    row.values.push(reference.handle);
    if (options.BlockNames) {
        if (row.withTitles) {
            row.titles.push(texts.blockNameTitle);
            row.markers.push({});
        }
        row.values.push(blockName);
    }
    if (drawingName) {
        if (row.withTitles) {
            row.titles.push(texts.drawingTitle);
            row.markers.push(texts.drawingMarker);
        }
        row.values.push(*drawingName);
    }
    if (options.Sort) sortAttributeRecords(records);
    for (const AttributeRecord& r : records) {
        if (r.isConstant && !options.IncludeConstant) continue;
        if (row.withTitles) {
            row.titles.push(r.tag);
            row.markers.push({});
        }
        row.values.push(r.text);
    }

    std::string number;
    auto distance = [&](double v) {
        numbers.distance(v, number);
        row.values.push(number);
    };
    if (options.XCoord) {
        pushProperty(row, texts, PropertyColumn::X);
        distance(surveyCoordinate(reference.x, options.JTSK));
    }
    if (options.YCoord) {
        pushProperty(row, texts, PropertyColumn::Y);
        distance(surveyCoordinate(reference.y, options.JTSK));
    }
    if (options.ZCoord) {
        pushProperty(row, texts, PropertyColumn::Z);
        distance(surveyCoordinate(reference.z, options.JTSK));
    }
    if (options.Rotation) {
        pushProperty(row, texts, PropertyColumn::Rotation);
        numbers.angle(reference.rotation, number);
        row.values.push(number);
    }
    if (options.Scale) {
        pushProperty(row, texts, PropertyColumn::ScaleX);
        pushProperty(row, texts, PropertyColumn::ScaleY);
        pushProperty(row, texts, PropertyColumn::ScaleZ);
        distance(reference.scaleX);
        distance(reference.scaleY);
        distance(reference.scaleZ);
    }
    if (options.LayerNames) {
        pushProperty(row, texts, PropertyColumn::Layer);
        row.values.push(reference.layer);
    }
    if (options.LayoutNames && layoutName) {
        pushProperty(row, texts, PropertyColumn::Layout);
        row.values.push(*layoutName);
    }
    if (!parameterLabels) return;
    for (std::size_t i = 0; i < parameterLabels->size(); ++i) {
        if (row.withTitles) {
            row.titles.push((*parameterLabels)[i]);
            row.markers.push(texts.parameterMarker);
        }
        row.values.push(i < reference.parameters.size() ? reference.parameters[i] : std::string());
    }
}

void readParameterTexts(const AcDbBlockReference& reference, ParameterColumns& columns, const NumberTexts& numbers,
                        std::vector<std::string>& out) {
    out.clear();
    AcDbDynBlockReferencePropertyArray properties;
    AcDbDynBlockReference(reference.objectId()).getBlockProperties(properties);
    if (!columns.known) {
        columns.known = true;
        columns.labels.clear();
        for (const AcDbDynBlockReferenceProperty& p : properties) columns.labels.push_back(p.propertyName());
    }
    out.resize(columns.labels.size());
    std::vector<bool> taken(properties.size(), false);
    for (std::size_t c = 0; c < columns.labels.size(); ++c) {
        // The first parameter of the column's label not placed yet: a block may give
        // two parameters one label.
        for (std::size_t i = 0; i < properties.size(); ++i) {
            if (taken[i] || properties[i].propertyName() != columns.labels[c]) continue;
            taken[i] = true;
            const AcDbEvalVariant value = properties[i].value();
            switch (value.getType()) {
            case AcDbEvalVariant::kString:
                out[c] = value.text();
                break;
            case AcDbEvalVariant::kShort:
                out[c] = std::to_string(value.int16());
                break;
            case AcDbEvalVariant::kDouble:
                if (properties[i].unitsType() == AcDbDynBlockReferenceProperty::kAngular)
                    numbers.angle(value.real(), out[c]);
                else
                    numbers.distance(value.real(), out[c]);
                break;
            case AcDbEvalVariant::kNone:
                break;
            }
            break;
        }
    }
}

std::string handleTextOf(const AcDbBlockReference& reference) {
    char handle[17];
    AcDbHandle h;
    reference.getAcDbHandle(h);
    h.getIntoAsciiBuffer(handle, sizeof handle);
    return handle;
}

void readReferenceProperties(const AcDbBlockReference& reference, ReferenceProperties& out) {
    out.handle = handleTextOf(reference);
    const AcGePoint3d p = reference.position();
    out.x = p.x;
    out.y = p.y;
    out.z = p.z;
    out.rotation = reference.rotation();
    const AcGeScale3d s = reference.scaleFactors();
    out.scaleX = s.sx;
    out.scaleY = s.sy;
    out.scaleZ = s.sz;
    AcutString layer(reference.layer());
    out.layer.assign(layer.get());
}

void buildExportRow(ExportRow& row, const AcDbBlockReference& reference, const std::string& blockName,
                    std::vector<AttributeRecord>& records, const ExportOptions& options, const ExportTexts& texts,
                    ParameterColumns* parameters, const std::string* drawingName) {
    ReferenceProperties properties;
    readReferenceProperties(reference, properties);
    const NumberTexts& numbers = drawingNumberTexts();
    const bool withParameters = parameters && parameters->isDynamic;
    if (withParameters) readParameterTexts(reference, *parameters, numbers, properties.parameters);
    std::string layout;
    const std::string* layoutName = nullptr;
    if (options.LayoutNames) {
        if (const char* name = acdbHostApplicationServices()->layoutManager()->findActiveLayout(true)) {
            layout = name;
            layoutName = &layout;
        }
    }
    composeExportRow(row, properties, blockName, records, options, texts, numbers, layoutName,
                     withParameters ? &parameters->labels : nullptr, drawingName);
}

void buildPromptRow(TextList& titles, TextList& markers, std::vector<AttributeRecord>& records,
                    const ExportOptions& options) {
    titles.clear();
    markers.clear();
    if (options.BlockNames) titles.push({});
    if (options.Sort) sortAttributeRecords(records);
    for (const AttributeRecord& r : records) {
        if (r.isConstant && !options.IncludeConstant) continue;
        titles.push(r.prompt);
    }
    for (std::size_t i = 0; i < titles.size(); ++i) markers.push({});
}

void sortAttributeRecords(std::vector<AttributeRecord>& records) {
    if (records.size() < 2) return;
    std::vector<std::pair<std::wstring, std::size_t>> keys;
    keys.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) keys.emplace_back(collationKey(records[i].tag), i);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return std::wcscoll(a.first.c_str(), b.first.c_str()) < 0; });
    std::vector<AttributeRecord> sorted;
    sorted.reserve(records.size());
    for (const auto& k : keys) sorted.push_back(std::move(records[k.second]));
    records = std::move(sorted);
}

}  // namespace tabro
