// Object handles: 64-bit numbers, written as hexadecimal text in files and in the
// module's workbooks, stable for the life of a drawing.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>

class AcDbHandle {
public:
    AcDbHandle() = default;
    explicit AcDbHandle(std::uint64_t value) : value_(value) {}
    // Hexadecimal text as written in files ("2F4"); text that is not one to sixteen
    // hex digits gives the null handle.
    explicit AcDbHandle(const char* hexText);

    bool isNull() const { return value_ == 0; }
    std::uint64_t value() const { return value_; }
    // Upper-case hex without leading zeros, "0" for the null handle. The buffer
    // needs 17 bytes for any handle; a shorter one gets a truncated, terminated text.
    void getIntoAsciiBuffer(char* buffer, std::size_t size = 17) const;
    bool operator==(const AcDbHandle&) const = default;
    auto operator<=>(const AcDbHandle&) const = default;

private:
    std::uint64_t value_ = 0;
};
