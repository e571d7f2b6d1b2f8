// The package's bookkeeping parts: [Content_Types].xml and the relationship parts
// (_rels/*.rels), read into lists and written from them.
#pragma once

#include "sheet/xlsx/Carry.h"
#include "sheet/xlsx/XlsxError.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sheet::xlsx {

using TypeList = std::vector<std::pair<std::string, std::string>>;

void readContentTypes(std::string_view xml, const ReadLimits& limits, TypeList& defaults, TypeList& overrides);
std::string writeContentTypes(const TypeList& defaults, const TypeList& overrides);

std::vector<Relationship> readRelationships(std::string_view xml, const std::string& partName,
                                            const ReadLimits& limits);
std::string writeRelationships(const std::vector<Relationship>& rels);

// "xl/worksheets/sheet1.xml" for target "worksheets/sheet1.xml" of a part in "xl/";
// handles "../" and absolute "/xl/..." targets. Throws XlsxError for a target that
// leaves the package.
std::string resolveTarget(const std::string& sourcePart, const std::string& target);
// The relationship part of a part: "xl/_rels/workbook.xml.rels".
std::string relsPartOf(const std::string& part);
// The target of part `to` relative to the folder of part `from`.
std::string relativeTarget(const std::string& from, const std::string& to);
// A relationship id not used in rels ("rId7").
std::string freeRelationshipId(const std::vector<Relationship>& rels);

namespace reltype {
constexpr std::string_view officeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
constexpr std::string_view worksheet = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
constexpr std::string_view sharedStrings =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
constexpr std::string_view styles = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";
constexpr std::string_view comments = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/comments";
constexpr std::string_view vmlDrawing =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/vmlDrawing";
constexpr std::string_view calcChain = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain";
constexpr std::string_view theme = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme";
}  // namespace reltype

}  // namespace sheet::xlsx
