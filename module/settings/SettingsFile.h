// Single integer entries of the portable settings file (INI format), which holds
// the registry's value names in the sections "Export" and "Import".
#pragma once

#include <string>

namespace tabro {

// Reads the entry's text (at most 255 characters). An entry that is absent or empty
// returns false and leaves `out` alone. Otherwise `out` takes the leading decimal
// integer as atoi reads it (leading white space and one sign allowed, no digits
// giving 0) and the result is true. A number beyond the range of int saturates at
// INT_MAX or INT_MIN, as the platform's atoi does, instead of overflowing.
bool readProfileInt(const std::string& file, const std::string& section, const std::string& key, int& out);

// Writes the value as "%d" text; false when the file could not be written.
bool writeProfileInt(const std::string& file, const std::string& section, const std::string& key, int value);

// atoi as described above, on any text.
int parseLeadingInt(const char* text);

}  // namespace tabro
