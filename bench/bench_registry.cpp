// Registry figures for a large user hive: bench_registry [MB] [rounds]. Writes a
// user.reg of about MB megabytes (50 unless given; 11.5 MB hold 100,000 keys) of
// other programs' keys plus the module's export settings into a temporary
// CADHOST_HOME, then times what an export asks of the registry (its settings key
// opened and one of its values queried, 28 times over) and what the options
// dialog's OK asks of it (25 values set under two keys), each value written on its
// own and all of them in one batch. Reports seconds per sequence; a measurement,
// not a test.
#include "platform/Registry.h"

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr const char* kExportKey = "SOFTWARE\\Morvik\\Tablora\\Settings\\Export";
constexpr const char* kImportKey = "SOFTWARE\\Morvik\\Tablora\\Settings\\Import";
constexpr const char* kNames[] = {"StartRow", "AddHeader", "BlockNames", "XCoord", "YCoord", "ZCoord", "OddLine"};
constexpr int kQueries = 28;

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void writeHive(const fs::path& file, double megabytes) {
    std::ofstream out(file, std::ios::binary);
    out << "Windows Registry Editor Version 5.00\n\n";
    const auto target = static_cast<std::uint64_t>(megabytes * 1e6);
    char line[256];
    for (long i = 0; static_cast<std::uint64_t>(out.tellp()) < target; ++i) {
        int n = std::snprintf(line, sizeof line,
                              "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor%ld\\Product%ld]\n\"Path\"=\"/opt/product/%ld/bin/"
                              "program\"\n\"Count\"=dword:%08lx\n\n",
                              i % 50, i, i, i);
        out.write(line, n);
    }
    out << "[HKEY_CURRENT_USER\\SOFTWARE\\Morvik\\Tablora\\Settings\\Export]\n"
        << "\"StartRow\"=dword:00000003\n\"AddHeader\"=dword:00000001\n";
}

// One export's registry use; returns how many of the queries found their value.
int exportLikeSequence() {
    int found = 0;
    for (int q = 0; q < kQueries; ++q) {
        platform::RegistryKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kExportKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) continue;
        DWORD type = 0, value = 0, size = sizeof value;
        const char* name = kNames[q % (sizeof kNames / sizeof kNames[0])];
        if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS)
            ++found;
    }
    return found;
}

// The options dialog's save: 21 values under the export key, 4 under the import key.
bool optionsSave() {
    int written = 0;
    for (const auto& [path, count] : {std::pair{kExportKey, 21}, std::pair{kImportKey, 4}}) {
        platform::RegistryKey key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            key.put(), nullptr) != ERROR_SUCCESS)
            return false;
        for (int v = 0; v < count; ++v) {
            const DWORD value = static_cast<DWORD>(v);
            const std::string name = "Value" + std::to_string(v);
            if (RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value) == ERROR_SUCCESS)
                ++written;
        }
    }
    return written == 25;
}

}  // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 50.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    char tmpl[] = "/tmp/bench-registry-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path home = tmpl;
    ::setenv("CADHOST_HOME", tmpl, 1);
    writeHive(home / "user.reg", megabytes);
    std::printf("user.reg %.1f MB, %d opens and queries per sequence\n", fs::file_size(home / "user.reg") / 1e6,
                kQueries);

    double best = 1e9;
    int found = 0;
    for (int i = 0; i < rounds; ++i) {
        auto t = std::chrono::steady_clock::now();
        found = exportLikeSequence();
        double s = secondsSince(t);
        best = std::min(best, s);
        std::printf("round %d: %.3f s (%.2f ms a query)\n", i + 1, s, s * 1e3 / kQueries);
    }
    std::error_code ec;
    if (found != 8) {  // StartRow and AddHeader, 4 times each
        fs::remove_all(home, ec);
        std::fprintf(stderr, "found %d values, expected 8\n", found);
        return 1;
    }
    std::printf("best %.3f s (%.2f ms a query)\n", best, best * 1e3 / kQueries);

    for (bool batched : {false, true}) {
        writeHive(home / "user.reg", megabytes);
        double bestSave = 1e9;
        for (int i = 0; i < rounds; ++i) {
            auto t = std::chrono::steady_clock::now();
            bool saved;
            if (batched) {
                platform::RegistryBatch batch;
                saved = optionsSave() && batch.commit() == ERROR_SUCCESS;
            } else {
                saved = optionsSave();
            }
            double s = secondsSince(t);
            if (!saved) {
                std::fprintf(stderr, "the options were not saved\n");
                return 1;
            }
            bestSave = std::min(bestSave, s);
            std::printf("options saved, %s, round %d: %.3f s\n", batched ? "in one batch" : "value by value", i + 1, s);
        }
        std::printf("best %.3f s\n", bestSave);
    }
    fs::remove_all(home, ec);
    return 0;
}
