// The frequency map of one voice sample: its fundamental frequency and level
// every `step` input samples, and its average fundamental frequency.
#pragma once

#include <cstdint>
#include <vector>

namespace kelmotra {

struct FreqList {
    std::int32_t step = 0;         // input samples between two entries; entry i is at i * step
    std::int32_t sample_rate = 0;  // Hz of the analysed sample (stored, not used by the lookup)
    std::int32_t count = 0;        // number of entries
    double freq_avg = 0.0;         // average fundamental frequency, Hz
    std::vector<double> freqs;     // Hz per entry; count + 1 values, the last repeats entry count-1
    std::vector<double> amps;      // windowed RMS level per entry on the 16-bit scale; count + 1 values
};

// True when the list can be looked up: step >= 1, count >= 1, both arrays hold
// count + 1 values.
bool freqlist_valid(const FreqList& list);

// Fundamental frequency in Hz at an input sample position (input samples),
// interpolated linearly between the two neighbouring entries. An entry at or
// below floor_hz, or exactly equal to excluded_hz, has no usable pitch and is
// replaced by fallback_hz; a negative fallback stands for the list's freq_avg.
// Positions before the first entry give the first entry, positions at or past
// the last give the last. Positions that are not finite read the first entry.
// The list must be valid (freqlist_valid).
double freqlist_at(const FreqList& list, double position, double floor_hz, double excluded_hz,
                   double fallback_hz);

// The same interpolation over a bare array: freqs holds count + 1 values
// (count >= 1), step >= 1; the fallback is used as given.
double freqlist_at(const double* freqs, std::int32_t count, std::int32_t step, double position,
                   double floor_hz, double excluded_hz, double fallback_hz);

}  // namespace kelmotra
