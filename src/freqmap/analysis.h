// The analysis that makes a sample's frequency map, by the method chosen:
// the robust tracker (the default, pitch_tracker.h) or the classic analysis
// kept byte for byte (pitch_analysis.h). The executables read the choice once
// (the environment variable KELMOTRA_ANALYSIS) and hand it down here.
#pragma once

#include <cstdio>
#include <optional>

#include "audio/platform.h"
#include "audio/wav_reader.h"
#include "freqmap/freqlist.h"

namespace kelmotra {

enum class AnalysisMethod { Robust, Classic };

struct AnalysisOptions {
    AnalysisMethod method = AnalysisMethod::Robust;
};

// The method a name selects: exactly "classic" gives Classic; any other text,
// or none (nullptr), the default.
AnalysisMethod analysis_method_named(const char* name);

// The name of a method: "robust" or "classic".
const char* analysis_method_name(AnalysisMethod method);

// Analysis of a data chunk read by wav_read_raw (borrowed): window N and Step
// from its sample rate (pitch_analysis.h: analysis_window). Progress lines go
// to progress (nullptr: none). Returns the list (owned by the caller), or
// nothing when the data is too short for one step, its coding has no
// reading, or the rate is above 2^31 - 1.
std::optional<FreqList> analyse_raw(const RawWave& wave, std::FILE* progress,
                                    const AnalysisOptions& options = {});

// Analysis of the WAV file at path, saved as its FRQ file.
//   path      the sample's path (the FRQ name is derived from it).
//   progress  progress lines and the WAV reader's format errors (nullptr:
//             the progress lines are dropped and format errors go to stderr).
//   notice    messages of the FRQ writer (nullptr: none).
// Reads the data chunk with wav_read_raw (4096 zero frames of padding),
// analyses it, then writes the list with frq_save, whose outcome does not
// matter. Returns the list (owned by the caller), or nothing when the file
// cannot be read or analysed; no FRQ file is written then.
std::optional<FreqList> analyseWave(const PathString& path, std::FILE* progress, std::FILE* notice,
                                    const AnalysisOptions& options = {});

}  // namespace kelmotra
