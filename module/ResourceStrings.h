// Texts of the resource module by number.
#pragma once

#include "platform/WinTypes.h"

#include <string>

namespace tabro {

// Numbers of the texts the module uses.
enum ResourceText : UINT {
    kTextHandlerErrorCaption = 4,
    kTextErrorCaption = 5,
    kTextCommandFailed = 6,
    kTextKeywordList = 7,
    kTextKeywordPrompt = 8,
    kTextBlockNamePrompt = 9,
    kTextNoSpreadsheet = 10,
    kTextNoBlocks = 11,
    kTextBlockNameTitle = 12,
    // 13 to 30: title and marker of each property column, in column order.
    kTextXTitle = 13,
    kTextXMarker = 14,
    kTextYTitle = 15,
    kTextYMarker = 16,
    kTextZTitle = 17,
    kTextZMarker = 18,
    kTextRotationTitle = 19,
    kTextRotationMarker = 20,
    kTextScaleXTitle = 21,
    kTextScaleXMarker = 22,
    kTextScaleYTitle = 23,
    kTextScaleYMarker = 24,
    kTextScaleZTitle = 25,
    kTextScaleZMarker = 26,
    kTextLayerTitle = 27,
    kTextLayerMarker = 28,
    kTextLayoutTitle = 29,
    kTextLayoutMarker = 30,
};

class ResourceStrings {
public:
    virtual ~ResourceStrings() = default;
    // The text of string `id` from the resource module, loaded inside a resource
    // scope; empty when the module has no such text (or is not loaded).
    virtual std::string load(UINT id);
};

ResourceStrings& resourceStrings();

}  // namespace tabro
