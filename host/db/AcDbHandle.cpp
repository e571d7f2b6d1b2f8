#include "host/db/AcDbHandle.h"

#include "host/dxf/DxfTokenizer.h"

#include <cstdio>
#include <cstring>

AcDbHandle::AcDbHandle(const char* hexText) {
    std::uint64_t v = 0;
    if (hexText && dxf::parseHandle(hexText, v)) value_ = v;
}

void AcDbHandle::getIntoAsciiBuffer(char* buffer, std::size_t size) const {
    if (!buffer || size == 0) return;
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value_));
    std::size_t n = std::strlen(text);
    if (n >= size) n = size - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}
