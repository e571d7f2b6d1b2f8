// libFuzzer target for script files: any bytes are read as a script or refused with a
// message naming the file and the line at fault (a NUL byte, a line over 4096
// bytes), and nothing else is refused. The lines of a script come back one by one
// as written, without their line ending ("\n", or "\r\n"), each echoed; a line
// holding only "^C" (blanks around it allowed) cancels; then the input ends.
#include "host/InputSource.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::string& scriptPath() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "script-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern + "/fuzz.scr";
    }();
    return path;
}

// The lines as a reader of its own splits them: at each LF, a CR before it dropped;
// text after the last LF is a last line, an LF at the very end starts none.
std::vector<std::string> splitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t nl = bytes.find('\n', pos);
        std::string_view line = bytes.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    return lines;
}

bool cancels(std::string_view line) {
    std::size_t b = line.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return false;
    std::size_t e = line.find_last_not_of(" \t\r");
    return line.substr(b, e - b + 1) == "^C";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(scriptPath(), std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    const std::vector<std::string> expected = splitLines(bytes);
    std::size_t badLine = 0;  // the first line the reader must refuse, from 1
    for (std::size_t i = 0; i < expected.size() && !badLine; ++i)
        if (expected[i].find('\0') != std::string::npos || expected[i].size() > 4096) badLine = i + 1;

    try {
        host::ScriptInput script = host::ScriptInput::fromFile(scriptPath());
        if (badLine) __builtin_trap();
        if (script.remaining() != expected.size()) __builtin_trap();
        for (const std::string& line : expected) {
            host::InputLine got = script.next(nullptr);
            if (cancels(line)) {
                if (got.kind != host::InputLine::Kind::Cancel) __builtin_trap();
                continue;
            }
            if (got.kind != host::InputLine::Kind::Text || got.text != line || !got.echo) __builtin_trap();
        }
        if (script.next(nullptr).kind != host::InputLine::Kind::End) __builtin_trap();
        if (script.next(nullptr).kind != host::InputLine::Kind::End) __builtin_trap();
    } catch (const std::runtime_error& e) {
        const std::string where = scriptPath() + ":" + std::to_string(badLine) + ":";
        if (!badLine || std::string_view(e.what()).substr(0, where.size()) != where) __builtin_trap();
    }
    return 0;
}
