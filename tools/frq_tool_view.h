// kelmotra-frq show and plot: the frequency map of one sample (or of a bare
// FRQ file) as a table, as CSV, or as an SVG picture over the waveform.
#pragma once

#include <string>

#include "audio/platform.h"
#include "frq_tool_common.h"

namespace kelmotra {

// Time of entry i in milliseconds: i * step / sample_rate * 1000 (NaN when
// the map's sample rate is not positive).
double entry_time_ms(const FreqList& list, std::int32_t i);

// The header and the aligned table of entries, ready to print.
std::string show_table(const SampleMap& map);

// The entries as CSV: a header row and one row per entry.
std::string show_csv(const FreqList& list);

// The picture: waveform envelope (or the level curve for a bare FRQ file),
// frequency curve, average line, axes. A complete SVG document.
std::string plot_svg(const SampleMap& map);

// The commands: print (or write) and return the exit status, 0 or 1.
// `analysis` chooses how a sample without a usable map is analysed in memory.
int run_show(const PathString& file, bool csv, const AnalysisOptions& analysis);
int run_plot(const PathString& file, const PathString& out, const AnalysisOptions& analysis);

}  // namespace kelmotra
