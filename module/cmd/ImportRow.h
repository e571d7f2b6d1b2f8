// One worksheet row as import hands it to the drawing: the handle of its block
// reference, its attribute texts by tag, and the properties its columns gave.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tabro {

struct ImportRow {
    std::string handle;               // hexadecimal handle text, from the first cell's comment
    std::vector<std::string> tags;    // attribute tags in column order
    std::vector<std::string> values;  // cell texts, parallel to tags
    double position[3] = {0, 0, 0};
    int positionCount = 0;            // X, Y and Z columns met
    double scale[3] = {1, 1, 1};      // filled in the order the scale columns stand
    int scaleCount = 0;               // scale columns met; also the next slot
    double rotation = 0;              // radians
    // The sheet has a rotation column and this row's cell read as an angle. Without
    // it the rotation is left alone: a missing or unreadable angle is not zero.
    bool hasRotation = false;
    std::optional<std::string> layer; // absent without a layer column

    void clear() {
        handle.clear();
        tags.clear();
        values.clear();
        position[0] = position[1] = position[2] = 0;
        positionCount = 0;
        scale[0] = scale[1] = scale[2] = 1;
        scaleCount = 0;
        rotation = 0;
        hasRotation = false;
        layer.reset();
    }
};

}  // namespace tabro
