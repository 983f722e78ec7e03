// The path through a sample's pitch candidates: one choice per step (a
// voiced candidate or "unvoiced") that minimises, over all steps at once,
// the candidates' own costs plus a cost for every pitch change proportional
// to its size in octaves and a cost for every switch between voiced and
// unvoiced, by dynamic programming (Viterbi), in the manner of Boersma's
// path finder (1993) and pYIN (Mauch and Dixon, 2014). No single step can
// pull its neighbours: a change of pitch must pay for itself in every step
// it touches.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelmotra {

inline constexpr std::int32_t kPathMaxCandidates = 8;  // voiced candidates per step

// The candidates of one step.
struct PathStep {
    std::int32_t count = 0;                    // voiced candidates, 0 .. kPathMaxCandidates
    double octave[kPathMaxCandidates] = {};    // log2 of each candidate's period (any fixed unit)
    double strength[kPathMaxCandidates] = {};  // how good each is (higher is better)
    double unvoiced = 0.0;                     // strength of "unvoiced" for this step
};

struct PathCosts {
    double jump_per_octave = 0.0;  // per octave between the periods of two voiced steps in a row
    double voicing_switch = 0.0;   // per change between voiced and unvoiced
};

// The best path through steps (read only): choice[i] (steps.size() values,
// written) is the index of step i's chosen candidate, or -1 for unvoiced.
// Ties go to "unvoiced", then to the lower index. Allocates its back
// pointers once.
void choose_path(std::span<const PathStep> steps, const PathCosts& costs, std::span<std::int32_t> choice);

// log2(x) for finite x > 0 from the exponent bits and a series, in IEEE
// arithmetic alone (the same bits on every platform), within a few 1e-15.
// Not finite or not positive: 0.
double path_log2(double x);

}  // namespace kelmotra
