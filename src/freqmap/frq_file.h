// The FRQ file: a sample's frequency map kept beside it, so that the pitch
// analysis runs once per sample. voice.wav keeps its map in voice_wav.frq.
//
// Layout (little-endian, no padding): "FREQ0003", i32 step, f64 freq_avg,
// i32 sample_rate, 4 + 8 reserved zero bytes, i32 count, then count pairs of
// f64 (freq, amp). 40 + 16 * count bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "audio/platform.h"
#include "freqmap/freqlist.h"

namespace kelmotra {

inline constexpr std::size_t kFrqHeaderBytes = 40;
inline constexpr std::size_t kFrqEntryBytes = 16;

struct FrqName {
    PathString path;
    bool is_input_itself = false;  // the input path was taken unchanged (it names an FRQ file)
};

// The FRQ name of a WAV path: the path followed by ".frq"; a path that itself
// ends in ".frq" names its own FRQ file and is kept; otherwise the first
// ".wav.frq" in the name becomes "_wav.frq" (voice.wav -> voice_wav.frq).
FrqName frq_path(const PathString& wav_path);

// Parses the bytes of an FRQ file. Nothing when the magic is not "FREQ000"
// followed by any byte, or the file is damaged: shorter than its entries,
// count below 1 or too large for the file, step 0 or less, freq_avg not finite.
std::optional<FreqList> frq_parse(const std::uint8_t* bytes, std::size_t size);

// The bytes of an FRQ file holding list (count entries).
std::vector<std::uint8_t> frq_serialize(const FreqList& list);

// Loads the FRQ file of the sample at wav_path. Nothing when it is missing
// (then "FRQ-Datei hat nicht gefunden.\n" goes to notice, when not nullptr),
// read-only and older than the sample, unreadable or damaged.
std::optional<FreqList> frq_load(const PathString& wav_path, std::FILE* notice);

// Saves list as the FRQ file of the sample at wav_path, atomically (a reader
// sees the old file or the new one). Returns 1 when written, 0 otherwise: no
// list ("FreqList ist Null.\n" on notice), the name would be the sample itself,
// an existing read-only FRQ file (never replaced), or a write error.
int frq_save(const PathString& wav_path, const FreqList* list, std::FILE* notice);

}  // namespace kelmotra
