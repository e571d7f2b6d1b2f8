// Fuzz target for the .xlsx reader: any bytes either open as a workbook (which then
// must also write) or fail with XlsxError; nothing may crash, hang or allocate
// beyond the limits.
#include "sheet/xlsx/Package.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sheet::xlsx::ReadLimits limits;
    limits.maxFileBytes = 4 << 20;
    limits.maxEntryBytes = 16 << 20;
    limits.maxTotalBytes = 64 << 20;
    limits.maxEntries = 512;
    limits.maxSheets = 64;
    try {
        auto book =
            sheet::xlsx::readPackage(std::string_view(reinterpret_cast<const char*>(data), size), u"fuzz.xlsx", limits);
        if (book->readOnlyReason.empty()) (void)sheet::xlsx::writePackage(*book);
    } catch (const sheet::xlsx::XlsxError&) {
    }
    return 0;
}
