// Fuzz target: the command line. The input is split into arguments at NUL
// bytes; each argument is handed over as the program shell does (its bytes
// decoded as UTF-8 for parsing, the bytes themselves as the path form).
//
// The first byte picks the decimal separator the late arguments are read
// with: ',' (a decimal-comma locale) when it is odd, none otherwise; that
// byte is not part of the command line.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/args.h"
#include "driver/run.h"

namespace {

std::FILE* null_stream() {
    static std::FILE* devnull = std::fopen("/dev/null", "w");
    return devnull;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const wchar_t sep = (data[0] & 1) ? L',' : 0;
    std::vector<kelmotra::CmdArg> argv;
    argv.push_back({L"kelmotra", kelmotra::path_from_ascii("kelmotra")});
    std::string current;
    for (std::size_t i = 1; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            argv.push_back({kelmotra::decode_argument(current.c_str()), current});
            current.clear();
            if (argv.size() > 20) break;
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }

    kelmotra::ResamplerArgs args;
    kelmotra::parse_early_args(argv, args);
    kelmotra::parse_late_args(argv, sep, null_stream(), args);

    if (args.outlen < 0 || args.outlen > static_cast<std::int32_t>(std::ceil(kelmotra::kMaxLengthMs * 44.1)))
        std::abort();
    if (args.length_out_of_range && args.outlen != 0) std::abort();
    if (!(args.volume >= 0.0 && args.volume <= 2.0)) std::abort();
    if (args.bend_step < 1) std::abort();
    if (args.track_count < 0) std::abort();
    if (args.track_count == 0 ? !args.track.empty()
                              : args.track.size() != static_cast<std::size_t>(args.track_count) + 1)
        std::abort();
    if (!std::isfinite(args.offset_ms) || !std::isfinite(args.cutoff_ms) || !std::isfinite(args.fix1_ms) ||
        !std::isfinite(args.fix2_ms) || !std::isfinite(args.modulation))
        std::abort();

    // The wrapper reads the same arguments in the current ("C") locale.
    (void)kelmotra::parse_args(argv, null_stream());
    return 0;
}
