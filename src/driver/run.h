// The run of one note, from the command line to the written WAV file.
#pragma once

#include <string>
#include <vector>

#include "driver/args.h"
#include "freqmap/analysis.h"

namespace kelmotra {

// A command-line argument's bytes decoded as UTF-8 (the encoding of the
// user's locale); bytes that are not valid UTF-8 pass as U+FFFD.
std::wstring decode_argument(const char* bytes);

// Runs the resampler on a command line (argv[0] is the program name) and
// returns the process exit status: 0 on success and for the banner, 1 on any
// failure (after a one-line message on the error stream). `analysis` chooses
// how a sample without a usable FRQ file (or with flag G) is analysed.
int run_resampler(const std::vector<CmdArg>& argv, const AnalysisOptions& analysis = {});

}  // namespace kelmotra
