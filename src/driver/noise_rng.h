// A small pseudo-random sequence for the noise of a note, and the seed a note
// takes from its own parameters.
//
// The sequence is SplitMix64 (Steele, Lea and Flood, "Fast splittable
// pseudorandom number generators", OOPSLA 2014): 64-bit integer additions,
// multiplications and shifts only, so it gives the same numbers on every
// platform and build. The same note (the same parameters) always gets the
// same sequence, so rendering it twice gives the same bytes.
#pragma once

#include <cstdint>

#include "driver/args.h"

namespace kelmotra {

struct NoiseRng {
    std::uint64_t state = 0;
};

// The next 64 pseudo-random bits; advances rng.
inline std::uint64_t rng_next(NoiseRng& rng) {
    std::uint64_t z = (rng.state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// The seed of a note: a 64-bit FNV-1a hash of the parsed parameters that
// shape the rendered note (pitch, velocities, offset, length, fixed regions,
// cutoff, volume, modulation, formant, envelope and normalisation flags, the
// breath amount, and the pitch track with its step), taken as their IEEE bit
// patterns. The paths are left out, so a note rendered to another file name
// or from another folder is the same note.
std::uint64_t note_seed(const ResamplerArgs& args);

}  // namespace kelmotra
