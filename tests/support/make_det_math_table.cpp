// make_det_math_table OUT: writes the reference table of the deterministic
// math functions, computed by this build, for the other editions' test
// suites (DetMath.ReproducesTheNativeBuildsTableBitForBit) to reproduce.
//
// One line per call, "name x y result", each double as its bit pattern in 16
// hex digits (y is 0 for one-argument functions): every pair of the edge
// arguments, then every 16th argument of the function's dense sweep. The last
// line, "end <count>", tells a complete file from a cut one. The file is
// written under a temporary name and renamed into place.
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/det_math_sweeps.h"

namespace {

constexpr int kStride = 16;

void row(std::FILE* out, const kelmotra::dettest::DetFunction& f, double x, double y, unsigned long long& rows) {
    std::fprintf(out, "%s %016" PRIx64 " %016" PRIx64 " %016" PRIx64 "\n", f.name, std::bit_cast<std::uint64_t>(x),
                 std::bit_cast<std::uint64_t>(y), std::bit_cast<std::uint64_t>(f.eval(x, y)));
    ++rows;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_det_math_table OUT\n");
        return 2;
    }
    const std::string path = argv[1], temp = path + ".part";
    std::FILE* out = std::fopen(temp.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "make_det_math_table: cannot write %s\n", temp.c_str());
        return 1;
    }
    unsigned long long rows = 0;
    for (const auto& f : kelmotra::dettest::det_functions()) {
        const auto edges = kelmotra::dettest::edge_arguments();
        for (double x : edges) {
            if (f.arguments == 1) {
                row(out, f, x, 0.0, rows);
                continue;
            }
            for (double y : edges) row(out, f, x, y, rows);
        }
        long n = 0;
        f.sweep([&](double x, double y) {
            if (n++ % kStride == 0) row(out, f, x, f.arguments == 1 ? 0.0 : y, rows);
        });
    }
    std::fprintf(out, "end %llu\n", rows);
    const bool written = std::ferror(out) == 0;
    const bool ok = std::fclose(out) == 0 && written && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        std::remove(temp.c_str());
        std::fprintf(stderr, "make_det_math_table: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
