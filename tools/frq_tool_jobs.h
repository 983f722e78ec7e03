// kelmotra-frq: working through many samples on several threads, with a
// progress line on a terminal and one line per sample elsewhere.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace kelmotra {

// What one piece of work has to say about itself.
struct JobLine {
    std::string text;           // "analysed PATH (0.12 s)", say; empty: nothing
    std::string terminal_text;  // printed on a terminal above the progress line; empty: nothing
};

// Runs work(i) for every i < total on `jobs` threads (0: one per core; fewer
// when threads cannot be had), each i exactly once. work must not throw.
// After each piece its line goes to stderr: on a terminal its terminal_text,
// above a progress line "VERB: done/total files, m:ss elapsed, about m:ss
// left"; elsewhere its text, after "[done/total] ".
void run_jobs(std::size_t total, unsigned jobs, const std::string& verb,
              const std::function<JobLine(std::size_t)>& work);

}  // namespace kelmotra
