// Dates and times in cells: a number shows as a date or time when its number format
// says so, counted in the workbook's date system. In the 1900 system serial 1 is
// 1900-01-01 and serial 60 the 29 February 1900 the system counts though the
// calendar has none, so from serial 61 (1900-03-01) on a serial is the automation
// date of the same day; in the 1904 system serial 0 is 1904-01-01.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sheet {

// Whether a number format code shows numbers as dates or times: it holds a date or
// time part (y, m, d, h, s, elapsed [h] [m] [s], AM/PM, A/P) outside quoted text,
// escaped characters and bracketed sections ([Red], [$-409], conditions).
bool isDateTimeCode(std::string_view code);
// The built-in formats that are dates or times (14 to 22, 45 to 47).
bool isDateTimeFormatId(std::uint32_t id);

// The text a date or time code shows for serial, in English; none when serial is
// no date of the system (negative, or past 9999-12-31).
std::optional<std::string> formatDateTime(double serial, std::string_view code, bool isDate1904);

// The automation date of the day and time serial shows, and the serial of an
// automation date; none where the other side has no such day (the 29 February
// 1900 of the 1900 system, days before a system's first).
std::optional<double> automationDateOfSerial(double serial, bool isDate1904);
std::optional<double> serialOfAutomationDate(double date, bool isDate1904);

// The code the application gives a General cell that is assigned an automation
// date: the date, the time, or both, as the value holds them.
std::string_view formatCodeForAssignedDate(double date);

}  // namespace sheet
