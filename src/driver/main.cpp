// kelmotra: the thin program shell. Collects the command line in both its
// forms (text for parsing, native bytes for paths), reads the choice of pitch
// analysis from the environment (KELMOTRA_ANALYSIS=classic: the classic
// analysis; otherwise the robust tracker) and runs one note.
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/args.h"
#include "driver/run.h"
#include "freqmap/analysis.h"

namespace {

kelmotra::AnalysisOptions analysis_from_environment() {
    kelmotra::AnalysisOptions options;
    options.method = kelmotra::analysis_method_named(std::getenv("KELMOTRA_ANALYSIS"));
    return options;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    kelmotra::keep_freed_memory();
    std::vector<kelmotra::CmdArg> args;
    for (int i = 0; i < argc; ++i) args.push_back({std::wstring(argv[i]), std::wstring(argv[i])});
    return kelmotra::run_resampler(args, analysis_from_environment());
}
#else
int main(int argc, char** argv) {
    kelmotra::keep_freed_memory();
    std::vector<kelmotra::CmdArg> args;
    for (int i = 0; i < argc; ++i)
        args.push_back({kelmotra::decode_argument(argv[i]), std::string(argv[i])});
    return kelmotra::run_resampler(args, analysis_from_environment());
}
#endif
