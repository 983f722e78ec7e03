// The timing plan of a note: which input position is heard at each output
// sample. Three segments: a leading fixed segment (the consonant), a
// stretched middle segment and a trailing fixed segment, each mapping output
// time linearly onto input time at its own speed.
#pragma once

#include <cstdint>
#include <cstdio>

#include "driver/args.h"

namespace kelmotra {

// Input positions are in input frames (at the input's rate); output lengths in
// output samples at 44100 Hz.
struct TimingPlan {
    std::int32_t ssize = 0;   // input frames
    double rate_ratio = 1.0;  // input sample rate / 44100
    double offl = 0.0;        // start of the used input region
    double fix1 = 0.0;        // input length of the leading fixed region
    double fix2 = 0.0;        // input length of the trailing fixed region
    double endp = 0.0;        // end of the used input region
    std::int32_t outlen = 0;  // output length
    double len0 = 0.0, len1 = 0.0, len2 = 0.0;  // output lengths of the three segments
    double dif0 = 0.0, dif1 = 0.0, dif2 = 0.0;  // input frames per output sample in each
};

// Computes the plan for an input of ssize frames at sample_rate Hz. When
// args.verbose, prints the plan's diagnostic lines on log.
TimingPlan plan_timing(const ResamplerArgs& args, std::uint32_t sample_rate, std::int32_t ssize,
                       std::FILE* log);

// Input position (input frames, may be negative, beyond the input or not
// finite for degenerate plans) of output sample ap >= 0.
double source_position(const TimingPlan& plan, double ap);

}  // namespace kelmotra
