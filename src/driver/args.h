// The command line of one note: thirteen positional arguments and the flag
// letters, turned into ResamplerArgs.
//
//   kelmotra in.wav out.wav pitch velocity flags offset length consonant
//            cutoff volume modulation tempo pitchbend
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/platform.h"

namespace kelmotra {

// One command-line argument: its text for parsing (decoded from the user's
// encoding) and its exact native form for use as a path.
struct CmdArg {
    std::wstring text;
    PathString raw;
};

// Limits that keep absurd arguments from causing giant allocations.
inline constexpr double kMaxLengthMs = 600000.0;  // 10 minutes of output

struct ResamplerArgs {
    PathString in_path;                   // argument 1
    PathString out_path = path_from_ascii("outfile.wav");  // argument 2; "-" is standard output
    double pitch = 440.0;                 // Hz, argument 3 and flag t
    double vel1 = 1.0;                    // speed factor of the leading fixed segment
    double vel2 = 1.0;                    // speed factor of the trailing fixed segment
    double offset_ms = 0.0;               // argument 6
    std::int32_t outlen = 0;              // output samples at 44100 Hz; 0: the input's frame count
    double fix1_ms = 0.0;                 // argument 8 before "/"
    double fix2_ms = 0.0;                 // argument 8 after "/", flag i
    double cutoff_ms = 0.0;               // argument 9
    double volume = 1.0;                  // factor 0..2, argument 10
    double modulation = 0.0;              // factor, argument 11
    double formant = 1.0;                 // flag g
    bool no_envelope = false;             // flag N
    double breath = 0.0;                  // flag B: % of the aperiodic part kept as noise, 0..100
    double peak_exp = 0.86;               // flag P
    bool reanalyse = false;               // flag G
    bool verbose = true;                  // argument 2, flag n
    std::int32_t bend_step = 256;         // output samples per pitch-track entry
    std::vector<double> track;            // pitch track in Hz, track_count + 1 entries (or empty)
    std::int32_t track_count = 0;         // bend values in the track
    bool to_stdout = false;               // argument 2 is exactly "-"
    bool length_out_of_range = false;     // argument 7 asked for more than kMaxLengthMs
};

// Number conversion as the host writes numbers: optional leading blanks and
// sign, digits, a decimal point (always accepted) or alt_sep (the locale's
// separator; 0 for none), an optional exponent. Stops at the first character
// that does not fit; no number gives 0; a number that is not finite gives 0.
// end (optional) receives the index after the last character used.
double parse_number(std::wstring_view text, wchar_t alt_sep, std::size_t* end = nullptr);

// Decimal integer as wcstol reads it (blanks, sign, digits), saturated to the
// range of a 32-bit int; 0 for no digits. end as above.
std::int32_t parse_int(std::wstring_view text, std::size_t* end = nullptr);

// The number after the first occurrence of letter in flags; 0 when the letter
// is absent or no number follows it.
double flag_value(std::wstring_view flags, wchar_t letter, wchar_t alt_sep);

// Note name (C4 = 60, A4 = 69, optional # or b, optional cents) to Hz.
double note_to_hz(std::wstring_view text);

// 2^(v * 0.01 - 1): 100 gives 1, 200 gives 2, 0 gives 0.5.
double velocity_factor(double v);

// Output samples per bend value at a tempo in beats per minute: one value per
// 1/96 beat, rounded to whole samples, or 256 when the tempo is below 1.
std::int32_t bend_step_for_tempo(double tempo);

// Tempos read with their decimals; any other is read as a whole number.
inline constexpr double kMinDecimalTempo = 1.0;
inline constexpr double kMaxDecimalTempo = 32767.0;

// The tempo of argument 12 in beats per minute: the number from its second
// character on. Within kMinDecimalTempo..kMaxDecimalTempo it is used as
// written (92.5 stays 92.5, as hosts pass a song's tempo); any other is
// truncated and taken as a 16-bit value, so such notes render as they always did.
double tempo_from_text(std::wstring_view text, wchar_t alt_sep);

// Flag t transposes only within [kMinTransposeCents, kEndTransposeCents).
inline constexpr double kMinTransposeCents = -200.0;
inline constexpr double kEndTransposeCents = 200.0;

// Arguments 10, 11, 7, 6 and 9 (the ones read before the locale is set).
void parse_early_args(const std::vector<CmdArg>& argv, ResamplerArgs& args);

// The remaining arguments, read after the locale is set: alt_sep is the
// locale's decimal separator. Builds the pitch track when arguments 12 and 13
// are present; bend decoder messages go to msg.
void parse_late_args(const std::vector<CmdArg>& argv, wchar_t alt_sep, std::FILE* msg,
                     ResamplerArgs& args);

// Both steps, with alt_sep taken from the current locale.
ResamplerArgs parse_args(const std::vector<CmdArg>& argv, std::FILE* msg);

}  // namespace kelmotra
