// libFuzzer target for the DXF reader: any bytes either open or are refused with a
// message; an opened drawing lists and writes back without fault.
#include "host/db/DrawingFile.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto r = openDrawingText(std::string(reinterpret_cast<const char*>(data), size), "fuzz.dxf");
    if (!r) {
        if (r.error.empty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    std::ostringstream list;
    listBlockReferences(*r.database, list);
    std::string written = writeDrawingText(*r.database);
    // What we write must read back.
    if (!openDrawingText(written)) __builtin_trap();
    return 0;
}
