// kelmotra-frq analyse: writes the FRQ files of many samples at once, with the
// same analysis and the same bytes as kelmotra's own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "freqmap/analysis.h"

namespace kelmotra {

struct AnalyseOptions {
    bool force = false;             // analyse even when the FRQ file is up to date
    unsigned jobs = 0;              // worker threads; 0: one per core
    AnalysisOptions analysis;       // the method of the maps written
    std::vector<PathString> inputs; // folders (searched recursively) and samples
};

// A path that could not be searched or taken as a sample, with the reason.
struct InputProblem {
    PathString path;
    std::string reason;
};

struct SampleList {
    std::vector<PathString> samples;     // sorted, without duplicates
    std::vector<InputProblem> problems;
};

// The samples named by the inputs: every regular file whose name ends in
// ".wav" (any letter case) below each folder, and each file given directly.
// Missing inputs, unreadable folders and FRQ files given directly become
// problems.
SampleList collect_samples(const std::vector<PathString>& inputs);

enum class SampleOutcome { Analysed, Skipped, Failed };

struct SampleResult {
    SampleOutcome outcome = SampleOutcome::Failed;
    std::string reason;    // why it was skipped or failed
    double seconds = 0.0;  // time spent on it
};

// Brings the FRQ file of one sample up to date: skipped when it loads and is
// not older than the sample (unless force), otherwise analysed by `analysis`
// and saved. Never throws.
SampleResult update_sample(const PathString& sample, bool force, const AnalysisOptions& analysis);

// The whole command: collects, works through the samples on `jobs` threads
// with progress on stderr, prints the summary on stdout. Returns the exit
// status: 0, or 1 when anything failed.
int run_analyse(const AnalyseOptions& options);

}  // namespace kelmotra
