// kelmotra-frq: pieces shared by its commands. Number formatting that never
// depends on the locale, capture of the WAV reader's messages, and obtaining
// the frequency map of a file the way kelmotra would see it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "audio/wav_reader.h"
#include "freqmap/analysis.h"
#include "freqmap/freqlist.h"

namespace kelmotra {

// ---------------------------------------------------------------------------
// Text.

// v with exactly `decimals` digits after a '.', whatever the C locale says.
// Non-finite values come out as "nan", "inf" or "-inf".
std::string fmt_fixed(double v, int decimals);

// The shortest text that reads back as exactly v ('.' as decimal point).
std::string fmt_shortest(double v);

// A duration for people: "0.42 s" below a minute, "m:ss" or "h:mm:ss" above.
std::string fmt_duration(double seconds);

// A clock reading "m:ss" (or "h:mm:ss"), for progress lines.
std::string fmt_clock(double seconds);

// True when the native path's file name ends in ".wav", in any letter case.
bool has_wav_suffix(const PathString& path);

// True when stream is attached to a terminal.
bool stream_is_terminal(std::FILE* stream);

// Collects what a library call prints on a stream: open it, hand `stream()`
// to the call, then take `text()`. When no scratch stream can be made,
// stream() is nullptr and the messages are simply lost.
struct MessageTrap {
    std::FILE* file = nullptr;
};
MessageTrap trap_open();
std::string trap_text(MessageTrap& trap);  // trimmed to one line; closes the trap
void trap_close(MessageTrap& trap);

// ---------------------------------------------------------------------------
// Frequency maps.

// True when an entry carries a usable pitch: above 16 Hz and not exactly 55 Hz
// (the same test the lookup applies).
bool entry_voiced(double freq_hz);

// Where the map of a file came from.
enum class MapOrigin {
    FrqOfSample,  // the FRQ file beside the given sample
    FrqGiven,     // an FRQ file given directly (no sample)
    InMemory,     // the sample was analysed now; nothing was written
};

struct SampleMap {
    FreqList list;
    MapOrigin origin = MapOrigin::InMemory;
    PathString given;       // the path as given
    PathString frq;         // the FRQ file that was read, or that would be written
    std::string note;       // why the map was analysed in memory, or a warning
    std::optional<WaveData> wave;  // the decoded sample, when asked for and the input is a WAV
};

// Reads the map of `path`: an FRQ file (recognised by its magic) is parsed;
// a WAV sample uses its FRQ file when kelmotra would load it, and is
// analysed in memory otherwise, by `analysis` (nothing is written). With want_wave the
// sample is also decoded. Nothing, with a one-line reason in error, when
// the file cannot be read, is neither a WAV nor an FRQ file, is damaged, or
// cannot be analysed.
std::optional<SampleMap> read_sample_map(const PathString& path, bool want_wave, const AnalysisOptions& analysis,
                                         std::string& error);

// The analysis of a WAV file held in memory, as kelmotra runs it with the
// same choice of method (4096 frames of padding, progress dropped). Nothing,
// with a reason, when the bytes are not a usable WAV sample or cannot be
// analysed.
std::optional<FreqList> analyse_wav_bytes(const std::vector<std::uint8_t>& bytes, const AnalysisOptions& analysis,
                                          std::string& error);

}  // namespace kelmotra
