// Open and save figures for a large drawing: bench_dxf DRAWING.dxf [rounds [ascii|binary]]
// (make one with tools/make_drawing.py 100000 big.dxf, and its binary form with
// tools/make_drawing.py 100000 big-bin.dxf --binary).
// Saves in the drawing's own form unless told. Reports seconds, MB/s and peak
// resident memory; it is a measurement, not a test.
//
// A generated drawing of 100,000 references, best of 5 rounds on the
// shared 2-core machine (load about 2), the file mapped rather than read:
//   ASCII  154.4 MB: open 0.39-0.41 s, save 0.19 s, peak RSS 131 MB
// Earlier, best of 3 (load about 3), ASCII read into memory:
//   ASCII  154.4 MB: open 0.58 s, save 0.12-0.26 s, peak RSS 237 MB
//   binary 122.4 MB: open 0.63 s, save 0.10 s, peak RSS 397 MB
//   saved in the other form: ASCII as binary 0.72 s, binary as ASCII 0.19 s
// A binary file is read into tag text (listing where its tags begin, so the
// structure pass need not split the text again): its open costs that conversion,
// mostly writing reals as text, and holds the file's bytes beside the text. Its save
// copies the bytes of every unchanged object.
#include "host/db/DrawingFile.h"
#include "host/db/DrawingStore.h"

#include <sys/resource.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

double peakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DRAWING.dxf [rounds [ascii|binary]]\n", argv[0]);
        return 2;
    }
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string path = argv[1];
    double mb = std::filesystem::file_size(path) / 1e6;
    std::string out = path + ".bench-out.dxf";
    double bestOpen = 1e9, bestSave = 1e9;
    for (int i = 0; i < rounds; ++i) {
        auto t = std::chrono::steady_clock::now();
        auto r = openDrawingFile(path);
        double open = secondsSince(t);
        if (!r) {
            std::fprintf(stderr, "%s\n", r.error.c_str());
            return 1;
        }
        if (argc > 3)
            r.database->store().setSaveFormat(std::string(argv[3]) == "binary" ? dxf::DxfFormat::Binary
                                                                               : dxf::DxfFormat::Ascii);
        t = std::chrono::steady_clock::now();
        auto s = saveDrawingAs(*r.database, out);
        double save = secondsSince(t);
        if (!s) {
            std::fprintf(stderr, "%s\n", s.error.c_str());
            return 1;
        }
        bestOpen = std::min(bestOpen, open);
        bestSave = std::min(bestSave, save);
        std::printf("round %d: open %.3f s, save %.3f s\n", i + 1, open, save);
    }
    std::filesystem::remove(out);
    std::filesystem::remove(std::filesystem::path(out).replace_extension(".bak"));
    std::printf("file %.1f MB\nopen %.3f s (%.0f MB/s)\nsave %.3f s (%.0f MB/s)\npeak RSS %.0f MB (%.2fx the file)\n",
                mb, bestOpen, mb / bestOpen, bestSave, mb / bestSave, peakRssMb(), peakRssMb() / mb);
    return 0;
}
