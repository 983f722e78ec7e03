// kelmotra-frq check: finds the frequency maps that disagree with a fresh
// analysis of their samples by the robust tracker (maps made by other tools,
// or by the classic analysis, that would make notes come out wrong), and
// with --fix rewrites them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "freqmap/freqlist.h"

namespace kelmotra {

struct CheckOptions {
    bool fix = false;                // rewrite the bad maps with the robust tracker
    unsigned jobs = 0;               // worker threads; 0: one per core
    std::vector<PathString> inputs;  // folders (searched recursively) and samples
};

// How a stored map compares with a fresh analysis of its sample.
struct MapComparison {
    std::size_t common = 0;     // steps both call voiced (the map's nearest entry to each fresh step)
    double median_cents = 0.0;  // median of map over fresh, cents, over those steps
    double gross_share = 0.0;   // share of those steps (0 .. 1) more than 300 cents apart
    bool by_average = false;    // no step in common: the map's average against the fresh median
    bool bad = false;           // |median| > 300 cents, or more than 20 % of the steps beyond 300
};

// Compares map (as stored) with fresh (the robust tracker's map of the same
// sample; both read only). Positions are matched in samples: fresh step i
// (i * fresh.step) against the map's nearest entry. A fresh map without a
// voiced step makes any map good.
MapComparison compare_maps(const FreqList& map, const FreqList& fresh);

// A pitch difference in words: "-1200 cents: an octave low",
// "+702 cents: a fifth high", "-1900 cents: an octave and a fifth low".
std::string interval_words(double cents);

// The whole command: checks every sample below the inputs that has a map,
// with progress on stderr, each bad map and the summary on stdout. Returns
// the exit status: 1 when a bad map is left in place or a file failed, else 0.
int run_check(const CheckOptions& options);

}  // namespace kelmotra
