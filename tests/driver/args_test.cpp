// The command line: number conversion, note names, velocities, the flag
// letters and the positional arguments, in the "C" locale and under a locale
// with a decimal comma.
#include "driver/args.h"

#if __has_include("pitchcodec/bend_layers.h")
#include "pitchcodec/bend_layers.h"
#define KELMOTRA_TEST_CODEC 1
#endif

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace kelmotra {
namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A command line as the program shell builds it; argv[0] is the program.
std::vector<CmdArg> cmd(std::initializer_list<std::string> args) {
    std::vector<CmdArg> v;
    v.push_back({L"kelmotra", path_from_ascii("kelmotra")});
    for (const auto& a : args) v.push_back({W(a), path_from_utf8(a)});
    return v;
}

// A full command line of thirteen arguments with the given ones replaced
// (index 1..13); the others are the host's usual neutral values.
std::vector<CmdArg> full(std::initializer_list<std::pair<int, std::string>> changes) {
    std::vector<std::string> a = {"in.wav", "out.wav", "A4", "100", "", "0", "0", "0", "0", "100", "0"};
    for (const auto& [i, text] : changes) {
        if (static_cast<std::size_t>(i) > a.size()) a.resize(static_cast<std::size_t>(i));
        a[static_cast<std::size_t>(i) - 1] = text;
    }
    std::vector<CmdArg> v;
    v.push_back({L"kelmotra", path_from_ascii("kelmotra")});
    for (const auto& s : a) v.push_back({W(s), path_from_utf8(s)});
    return v;
}

ResamplerArgs parse(const std::vector<CmdArg>& argv) { return parse_args(argv, nullptr); }

double cents(double hz, double c) { return hz * std::pow(2.0, c / 1200.0); }

// ---------------------------------------------------------------- numbers

TEST(ParseNumber, Table) {
    const std::string many_zeros(400, '0');
    struct Case {
        std::string text;
        wchar_t sep;
        double value;
        std::size_t end;
    };
    const Case cases[] = {
        {"12.5", 0, 12.5, 4},
        {"  -3.25e2x", 0, -325.0, 9},
        {"\t+7", 0, 7.0, 3},
        {"12,5", 0, 12.0, 2},
        {"12,5", L',', 12.5, 4},
        {"12.5", L',', 12.5, 4},       // the point is always a separator
        {"1.5,5", L',', 1.5, 3},
        {",5", L',', 0.5, 2},
        {".5", 0, 0.5, 2},
        {"5.", 0, 5.0, 2},
        {"-.5", 0, -0.5, 3},
        {"100/200", 0, 100.0, 3},
        {"2E3", 0, 2000.0, 3},
        {"1e", 0, 1.0, 1},              // an exponent needs a digit
        {"1e+", 0, 1.0, 1},
        {"1e-2", 0, 0.01, 4},
        {"1e00000010", 0, 1e10, 10},    // leading zeros of an exponent count for nothing
        {"1e0000000300", 0, 1e300, 12},
        {"", 0, 0.0, 0},
        {".", 0, 0.0, 0},
        {"-", 0, 0.0, 0},
        {"+-1", 0, 0.0, 0},
        {"abc", 0, 0.0, 0},
        {"e5", 0, 0.0, 0},
        // Overflow saturates, underflow gives 0; nothing infinite comes out.
        {"1e400", 0, DBL_MAX, 5},
        {"-1e400", 0, -DBL_MAX, 6},
        {"1e99999999999999999999", 0, DBL_MAX, 22},
        {"1e-400", 0, 0.0, 6},
        {"0." + many_zeros + "1", 0, 0.0, 403},
        {"0." + many_zeros + "1e100", 0, 1e-301, 407},
        {"1" + many_zeros, 0, DBL_MAX, 401},
        {"-1" + many_zeros + "e-10", 0, -DBL_MAX, 406},
        {"1" + many_zeros + "e-300", 0, 1e100, 406},
        // Not numbers here.
        {"nan", 0, 0.0, 0},
        {"NAN", 0, 0.0, 0},
        {"inf", 0, 0.0, 0},
        {"-infinity", 0, 0.0, 0},
    };
    for (const auto& c : cases) {
        std::size_t end = 12345;
        const double v = parse_number(W(c.text), c.sep, &end);
        if (c.value == 0.0 || std::fabs(c.value) == DBL_MAX)
            EXPECT_EQ(v, c.value) << c.text.substr(0, 40);
        else
            EXPECT_DOUBLE_EQ(v, c.value) << c.text.substr(0, 40);
        EXPECT_TRUE(std::isfinite(v)) << c.text.substr(0, 40);
        EXPECT_EQ(end, c.end) << c.text.substr(0, 40);
        EXPECT_EQ(parse_number(W(c.text), c.sep), v);  // end is optional
    }
}

TEST(ParseInt, Table) {
    struct Case {
        const char* text;
        std::int32_t value;
        std::size_t end;
    };
    const Case cases[] = {
        {"42", 42, 2},          {" -7x", -7, 3},          {"+5", 5, 2},
        {"12.9", 12, 2},        {"x", 0, 0},              {"+", 0, 0},
        {"", 0, 0},             {"2147483647", 2147483647, 10},
        {"-2147483648", INT32_MIN, 11},
        {"99999999999999999999", INT32_MAX, 20},
        {"-99999999999999999999", INT32_MIN, 21},
    };
    for (const auto& c : cases) {
        std::size_t end = 999;
        EXPECT_EQ(parse_int(W(c.text), &end), c.value) << c.text;
        EXPECT_EQ(end, c.end) << c.text;
    }
}

TEST(FlagValue, FirstOccurrenceOfTheLetter) {
    struct Case {
        const char* flags;
        wchar_t letter;
        wchar_t sep;
        double value;
    };
    const Case cases[] = {
        {"g100", L'g', 0, 100.0},
        {"Ng-100B5", L'g', 0, -100.0},
        {"Ng-100B5", L'B', 0, 5.0},
        {"P", L'P', 0, 0.0},          // no number after the letter
        {"Px", L'P', 0, 0.0},
        {"", L'g', 0, 0.0},
        {"G50", L'g', 0, 0.0},        // letters are case-sensitive
        {"gg50", L'g', 0, 0.0},       // only the first occurrence counts
        {"g5g50", L'g', 0, 5.0},
        {"t1,5", L't', L',', 1.5},
        {"t1,5", L't', 0, 1.0},
        {"t 12", L't', 0, 12.0},      // blanks before the number are skipped
        {"i5000", L'i', 0, 5000.0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(flag_value(W(c.flags), c.letter, c.sep), c.value) << c.flags;
}

// ---------------------------------------------------------------- notes

TEST(NoteToHz, NamesOctavesAccidentalsAndCents) {
    struct Case {
        const char* text;
        double note;  // MIDI-style note number with cents as a fraction
    };
    const Case cases[] = {
        {"A4", 69.0},    {"C4", 60.0},    {"C#4", 61.0},   {"Db4", 61.0},   {"Bb3", 58.0},
        {"B#3", 60.0},   {"Cb4", 59.0},   {"A5", 81.0},    {"C-1", 0.0},    {"G9", 127.0},
        {"E2", 40.0},    {"F3", 53.0},    {"A", 21.0},     // no octave digits: octave 0
        {"A4+25", 69.25}, {"A4-30", 68.7}, {"A4x", 69.0},  // cents only from a number
        {"a4", 69.0},    // the function itself upper-cases the letter
    };
    for (const auto& c : cases) {
        const float x = static_cast<float>(c.note) - 69.0f;
        const double want = std::pow(2.0, static_cast<double>(x) * 0.0833333333333333) * 440.0;
        EXPECT_NEAR(note_to_hz(W(c.text)), want, want * 1e-12) << c.text;
    }
    EXPECT_NEAR(note_to_hz(L"C#4"), 277.18, 0.005);
    EXPECT_DOUBLE_EQ(note_to_hz(L"A4"), 440.0);
    // Absurd octaves stay finite numbers of some size, without a crash.
    EXPECT_FALSE(std::isnan(note_to_hz(L"C99999999999")));
    EXPECT_FALSE(std::isnan(note_to_hz(L"C-99999999999")));
}

TEST(VelocityFactor, PowersOfTwo) {
    EXPECT_DOUBLE_EQ(velocity_factor(100), 1.0);
    EXPECT_DOUBLE_EQ(velocity_factor(200), 2.0);
    EXPECT_DOUBLE_EQ(velocity_factor(0), 0.5);
    EXPECT_NEAR(velocity_factor(150), std::sqrt(2.0), 1e-15);
    EXPECT_DOUBLE_EQ(velocity_factor(-100), 0.25);
}

TEST(Tempo, BendStepAndTempoText) {
    EXPECT_EQ(bend_step_for_tempo(120), 230);
    EXPECT_EQ(bend_step_for_tempo(96), 287);
    EXPECT_EQ(bend_step_for_tempo(1), 27563);
    EXPECT_EQ(bend_step_for_tempo(0), 256);
    EXPECT_EQ(bend_step_for_tempo(-5), 256);
    EXPECT_EQ(bend_step_for_tempo(32767), 1);
    EXPECT_EQ(bend_step_for_tempo(92), 300);
    EXPECT_EQ(bend_step_for_tempo(92.5), 298);  // 298.38 samples per 1/96 beat
    EXPECT_EQ(bend_step_for_tempo(0.9), 256);

    struct Case {
        const char* text;
        wchar_t sep;
        double tempo;
    };
    const Case cases[] = {
        {"!120", 0, 120},         {"!0", 0, 0},           {"!-5", 0, -5},
        {"120", 0, 20},           // the first character is always skipped
        {"!120.9", 0, 120.9},     {"!120,9", L',', 120.9}, {"!120,9", 0, 120},
        {"!92.5*hff2", 0, 92.5},  {"!0.9", 0, 0},         {"!-0.5", 0, 0},
        {"!32767.5", 0, 32767},   {"!65536.5", 0, 0},     // whole numbers outside 1..32767
        {"!", 0, 0},              {"", 0, 0},             {"!abc", 0, 0},
        {"!120*hff3", 0, 120},    {"!70000", 0, 4464},    // taken as 16 bits
        {"!1e300", 0, -1},        {"!-1e300", 0, 0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(tempo_from_text(W(c.text), c.sep), c.tempo) << c.text;
}

// ---------------------------------------------------------------- arguments

TEST(ParseArgs, OnlyTheInputGiven) {
    const ResamplerArgs a = parse(cmd({"voice.wav"}));
    EXPECT_EQ(a.in_path, path_from_ascii("voice.wav"));
    EXPECT_EQ(a.out_path, path_from_ascii("outfile.wav"));
    EXPECT_DOUBLE_EQ(a.pitch, 440.0);
    EXPECT_EQ(a.outlen, 0);  // the input's frame count later
    EXPECT_TRUE(a.verbose);
    EXPECT_FALSE(a.to_stdout);
    EXPECT_FALSE(a.length_out_of_range);
    EXPECT_EQ(a.vel1, 1.0);
    EXPECT_EQ(a.vel2, 1.0);
    EXPECT_EQ(a.offset_ms, 0.0);
    EXPECT_EQ(a.fix1_ms, 0.0);
    EXPECT_EQ(a.fix2_ms, 0.0);
    EXPECT_EQ(a.cutoff_ms, 0.0);
    EXPECT_EQ(a.volume, 1.0);
    EXPECT_EQ(a.modulation, 0.0);
    EXPECT_EQ(a.formant, 1.0);
    EXPECT_FALSE(a.no_envelope);
    EXPECT_DOUBLE_EQ(a.peak_exp, 0.86);
    EXPECT_FALSE(a.reanalyse);
    EXPECT_EQ(a.bend_step, 256);
    EXPECT_TRUE(a.track.empty());
    EXPECT_EQ(a.track_count, 0);

    // Nothing at all: the defaults, no input.
    const ResamplerArgs none = parse(cmd({}));
    EXPECT_TRUE(none.in_path.empty());
    EXPECT_EQ(none.out_path, path_from_ascii("outfile.wav"));
}

TEST(ParseArgs, AllPositionalArguments) {
    const ResamplerArgs a =
        parse(cmd({"in.wav", "out.wav", "261.5", "150/50", "", "120.5", "1000", "80.25/30", "-500", "80", "-250"}));
    EXPECT_EQ(a.in_path, path_from_ascii("in.wav"));
    EXPECT_EQ(a.out_path, path_from_ascii("out.wav"));
    EXPECT_DOUBLE_EQ(a.pitch, 261.5);
    EXPECT_NEAR(a.vel1, std::sqrt(2.0), 1e-15);
    EXPECT_NEAR(a.vel2, std::pow(2.0, -0.5), 1e-15);
    EXPECT_DOUBLE_EQ(a.offset_ms, 120.5);
    EXPECT_EQ(a.outlen, 44100);
    EXPECT_DOUBLE_EQ(a.fix1_ms, 80.25);
    EXPECT_DOUBLE_EQ(a.fix2_ms, 30.0);
    EXPECT_DOUBLE_EQ(a.cutoff_ms, -500.0);
    EXPECT_DOUBLE_EQ(a.volume, 0.8);
    EXPECT_DOUBLE_EQ(a.modulation, -2.5);  // not clamped
    EXPECT_TRUE(a.verbose);
}

TEST(ParseArgs, OutputPath) {
    struct Case {
        const char* out;
        bool to_stdout;
    };
    const Case cases[] = {{"-", true}, {"-x", false}, {"--", false}, {" -", false}, {"- ", false}, {"", false},
                          {"out.wav", false}};
    for (const auto& c : cases) {
        const ResamplerArgs a = parse(full({{2, c.out}}));
        EXPECT_EQ(a.out_path, path_from_utf8(c.out)) << '"' << c.out << '"';
        EXPECT_EQ(a.to_stdout, c.to_stdout) << '"' << c.out << '"';
        EXPECT_EQ(a.verbose, !c.to_stdout) << '"' << c.out << '"';
    }
}

TEST(ParseArgs, Pitch) {
    struct Case {
        const char* text;
        double hz;
    };
    const Case cases[] = {
        {"A4", 440.0},       {"C#4", note_to_hz(L"C#4")}, {"a4", 0.0},  // lower case is no note name
        {"H4", 0.0},         {"440", 440.0},              {"261.63", 261.63},
        {"", 0.0},           {"x", 0.0},                  {"G#3+50", note_to_hz(L"G#3+50")},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(parse(full({{3, c.text}})).pitch, c.hz) << c.text;
    EXPECT_NEAR(parse(full({{3, "C#4"}})).pitch, 277.18, 0.005);
}

TEST(ParseArgs, Velocities) {
    struct Case {
        const char* velocity;
        const char* flags;
        double vel1, vel2;
    };
    const Case cases[] = {
        {"100/200", "", 1.0, 2.0},
        {"200", "", 2.0, 2.0},          // one number: both
        {"0", "", 0.5, 0.5},
        {"100/", "", 1.0, 0.5},         // an empty second number is 0
        {"/200", "", 0.5, 2.0},
        {"100/200", "v0", 1.0, 0.5},    // v replaces the second
        {"100", "v200", 1.0, 2.0},
        {"100/200", "v", 1.0, 0.5},     // a bare v is velocity 0
        {"100/200", "V0", 1.0, 2.0},    // case-sensitive
    };
    for (const auto& c : cases) {
        const ResamplerArgs a = parse(full({{4, c.velocity}, {5, c.flags}}));
        EXPECT_DOUBLE_EQ(a.vel1, c.vel1) << c.velocity << " " << c.flags;
        EXPECT_DOUBLE_EQ(a.vel2, c.vel2) << c.velocity << " " << c.flags;
    }
}

TEST(ParseArgs, FlagLetters) {
    struct Case {
        const char* flags;
        double pitch;
        double formant;
        double peak_exp;
        bool no_envelope;
        bool reanalyse;
        bool verbose;
    };
    const double A = 440.0;
    const Case cases[] = {
        {"", A, 1.0, 0.86, false, false, true},
        {"t150", cents(A, 150), 1.0, 0.86, false, false, true},
        {"t199.5", cents(A, 199.5), 1.0, 0.86, false, false, true},
        {"t200", A, 1.0, 0.86, false, false, true},          // outside [-200, 200)
        {"t-250", A, 1.0, 0.86, false, false, true},
        {"t-200", cents(A, -200), 1.0, 0.86, false, false, true},
        {"t", A, 1.0, 0.86, false, false, true},             // bare t: 0 cents
        {"T150", A, 1.0, 0.86, false, false, true},
        {"g100", A, std::sqrt(10.0), 0.86, false, false, true},
        {"g-100", A, 1.0 / std::sqrt(10.0), 0.86, false, false, true},
        {"g", A, 1.0, 0.86, false, false, true},
        {"P", A, 1.0, 0.0, false, false, true},              // bare P: exponent 0
        {"P50", A, 1.0, 0.5, false, false, true},
        {"P86", A, 1.0, 0.86, false, false, true},
        {"p50", A, 1.0, 0.86, false, false, true},
        {"N", A, 1.0, 0.86, true, false, true},
        {"G", A, 1.0, 0.86, false, true, true},
        {"n", A, 1.0, 0.86, false, false, false},
        {"B50a20Rs7", A, 1.0, 0.86, false, false, true},     // read and ignored
        {"Y0H5e1", A, 1.0, 0.86, false, false, true},        // unknown letters
        {"NGng50P90t100", cents(A, 100), std::pow(10.0, 0.25), 0.9, true, true, false},
        {"g50t-100g200", cents(A, -100), std::pow(10.0, 0.25), 0.86, false, false, true},
    };
    for (const auto& c : cases) {
        const ResamplerArgs a = parse(full({{5, c.flags}}));
        EXPECT_NEAR(a.pitch, c.pitch, c.pitch * 1e-14) << c.flags;
        EXPECT_NEAR(a.formant, c.formant, 1e-14) << c.flags;
        EXPECT_DOUBLE_EQ(a.peak_exp, c.peak_exp) << c.flags;
        EXPECT_EQ(a.no_envelope, c.no_envelope) << c.flags;
        EXPECT_EQ(a.reanalyse, c.reanalyse) << c.flags;
        EXPECT_EQ(a.verbose, c.verbose) << c.flags;
    }
    EXPECT_NEAR(parse(full({{5, "g100"}})).formant, 3.162, 0.0005);
    EXPECT_NEAR(parse(full({{5, "g-100"}})).formant, 0.316, 0.0005);
}

TEST(ParseArgs, TransposeAppliesToANoteName) {
    const ResamplerArgs a = parse(full({{3, "C#4"}, {5, "t-200"}}));
    EXPECT_NEAR(a.pitch, note_to_hz(L"B3"), 1e-9);
}

TEST(ParseArgs, ConsonantAndTrailingRegion) {
    struct Case {
        const char* consonant;
        const char* flags;
        double fix1, fix2;
    };
    const Case cases[] = {
        {"40", "i5000", 40.0, 50.0},      // i is a default in hundredths
        {"40/30", "i5000", 40.0, 30.0},   // a second number replaces it
        {"40/30", "", 40.0, 30.0},
        {"40", "", 40.0, 0.0},
        {"40/", "i5000", 40.0, 0.0},      // present but empty: 0
        {"/30", "", 0.0, 30.0},
        {"40", "i", 40.0, 0.0},
        {"12.75/0.5", "", 12.75, 0.5},
    };
    for (const auto& c : cases) {
        const ResamplerArgs a = parse(full({{8, c.consonant}, {5, c.flags}}));
        EXPECT_DOUBLE_EQ(a.fix1_ms, c.fix1) << c.consonant << " " << c.flags;
        EXPECT_DOUBLE_EQ(a.fix2_ms, c.fix2) << c.consonant << " " << c.flags;
    }
    // Without argument 8 the i value stays.
    std::vector<CmdArg> argv = cmd({"in.wav", "out.wav", "A4", "100", "i250"});
    EXPECT_DOUBLE_EQ(parse(argv).fix2_ms, 2.5);
}

TEST(ParseArgs, VolumeIsClampedModulationIsNot) {
    struct Case {
        const char* volume;
        double factor;
    };
    const Case cases[] = {{"100", 1.0}, {"150", 1.5}, {"300", 2.0}, {"-50", 0.0}, {"0", 0.0}, {"", 0.0},
                          {"1e400", 2.0}, {"-1e400", 0.0}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(parse(full({{10, c.volume}})).volume, c.factor) << c.volume;
    EXPECT_DOUBLE_EQ(parse(full({{11, "250"}})).modulation, 2.5);
    EXPECT_DOUBLE_EQ(parse(full({{11, "-100"}})).modulation, -1.0);
}

TEST(ParseArgs, Length) {
    struct Case {
        const char* length;
        std::int32_t outlen;
        bool out_of_range;
    };
    const Case cases[] = {
        {"1000", 44100, false},  {"0.01", 1, false},       {"0", 0, false},          {"", 0, false},
        {"abc", 0, false},       {"-0", 0, false},         {"10.5", 464, false},     // ceil(463.05)
        {"600000", 26460000, false},
        {"600000.001", 0, true}, {"-1", 0, true},          {"-0.001", 0, true},      {"1e400", 0, true},
        {"-1e400", 0, true},
    };
    for (const auto& c : cases) {
        const ResamplerArgs a = parse(full({{7, c.length}}));
        EXPECT_EQ(a.outlen, c.outlen) << c.length;
        EXPECT_EQ(a.length_out_of_range, c.out_of_range) << c.length;
    }
}

TEST(ParseArgs, OffsetAndCutoffUnchanged) {
    const ResamplerArgs a = parse(full({{6, "100.25"}, {9, "-500.5"}}));
    EXPECT_DOUBLE_EQ(a.offset_ms, 100.25);
    EXPECT_DOUBLE_EQ(a.cutoff_ms, -500.5);
}

TEST(ParseArgs, NumbersThatAreNotFiniteNeverComeOut) {
    const ResamplerArgs a = parse(full({{3, "1e999"}, {4, "inf/nan"}, {6, "-1e999"}, {8, "nan/1e999"}, {9, "inf"},
                                        {11, "1e999"}}));
    EXPECT_EQ(a.pitch, DBL_MAX);
    EXPECT_DOUBLE_EQ(a.vel1, 0.5);
    EXPECT_DOUBLE_EQ(a.vel2, 0.5);
    EXPECT_EQ(a.offset_ms, -DBL_MAX);
    EXPECT_EQ(a.fix1_ms, 0.0);
    EXPECT_EQ(a.fix2_ms, DBL_MAX);
    EXPECT_EQ(a.cutoff_ms, 0.0);
    EXPECT_TRUE(std::isfinite(a.modulation));
}

TEST(ParseArgs, TwelveArgumentsBuildNoTrack) {
    // The tempo alone (even with a selector) decodes nothing.
    for (const char* tempo : {"!120", "!120*hff3"}) {
        const ResamplerArgs a = parse(full({{12, tempo}}));
        EXPECT_TRUE(a.track.empty()) << tempo;
        EXPECT_EQ(a.track_count, 0) << tempo;
        EXPECT_EQ(a.bend_step, 256) << tempo;
    }
}

// ---------------------------------------------------------------- pitch track

#ifdef KELMOTRA_TEST_CODEC

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// The track a bend of the given cents makes from pitch: one entry per value
// and the plain pitch after the last.
std::vector<double> track_of(double pitch, const std::vector<int>& values) {
    std::vector<double> t;
    for (int v : values) t.push_back(pitch * std::pow(2.0, v * 0.0008333333333333334));
    t.push_back(pitch);
    return t;
}

void expect_track(const ResamplerArgs& a, const std::vector<double>& want, const std::string& what) {
    ASSERT_EQ(a.track.size(), want.size()) << what;
    EXPECT_EQ(a.track_count, static_cast<std::int32_t>(want.size()) - 1) << what;
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(a.track[i], want[i], want[i] * 1e-14) << what << " " << i;
}

TEST(PitchTrack, StandardFormAndBendStep) {
    struct Case {
        const char* tempo;
        std::int32_t bend_step;
    };
    // "AA" = 0, "Bk" = 100, "//" = -1 cents.
    const Case cases[] = {{"!120", 230}, {"!0", 256}, {"!-5", 256}, {"!", 256}, {"!96", 287}, {"!120.9", 228}, {"!92.5", 298}};
    for (const auto& c : cases) {
        const ResamplerArgs a = parse(full({{12, c.tempo}, {13, "AABk//"}}));
        EXPECT_EQ(a.bend_step, c.bend_step) << c.tempo;
        expect_track(a, track_of(440.0, {0, 100, -1}), c.tempo);
    }
    // Repeats: AA#3#Bk is 0, 0, 0, 0, 100.
    expect_track(parse(full({{12, "!120"}, {13, "AA#3#Bk"}})), track_of(440.0, {0, 0, 0, 0, 100}), "repeats");
}

TEST(PitchTrack, BuiltFromTheTransposedPitch) {
    const ResamplerArgs a = parse(full({{3, "C4"}, {5, "t-100"}, {12, "!120"}, {13, "Bk//"}}));
    const double base = note_to_hz(L"C4") * std::pow(2.0, -100.0 / 1200.0);
    EXPECT_NEAR(a.pitch, base, base * 1e-14);
    expect_track(a, track_of(base, {100, -1}), "t-100");
}

TEST(PitchTrack, NoValuesNoTrack) {
    for (const char* tempo : {"!120", "!120*hff0", "!120*enc1"}) {
        const ResamplerArgs a = parse(full({{12, tempo}, {13, ""}}));
        EXPECT_TRUE(a.track.empty()) << tempo;
        EXPECT_EQ(a.track_count, 0) << tempo;
        EXPECT_EQ(a.bend_step, 256) << tempo;
        EXPECT_DOUBLE_EQ(a.pitch, 440.0) << tempo;
    }
}

TEST(PitchTrack, ExtendedFormsSelectedByTheTempo) {
    const std::vector<int> values = {0, 10, 30, 60, 60, 60, -200, -200, 5};
    PitchBend bend;
    for (int v : values) bend.values.push_back(static_cast<std::int16_t>(v));
    struct Case {
        const char* tag;
        int mode;
        int order;
    };
    const Case cases[] = {{"hff", kBendModeHff, 0}, {"hff", kBendModeHff, 3}, {"cmp", kBendModeCmp, 2},
                          {"enc", kBendModeEnc, 1}, {"xyz", kBendModeOther, 2}};
    for (const auto& c : cases) {
        const auto text = encpitchx(bend, c.order, c.mode, nullptr);
        ASSERT_TRUE(text.has_value()) << c.tag;
        const std::string tempo = "!150*" + std::string(c.tag) + std::to_string(c.order);
        const ResamplerArgs a = parse(full({{12, tempo}, {13, narrow(*text)}}));
        EXPECT_EQ(a.bend_step, bend_step_for_tempo(150)) << tempo;
        expect_track(a, track_of(440.0, values), tempo);
    }
}

TEST(PitchTrack, TempoUnderTheLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    // 0,9e3 is 900 under a decimal comma (0 in the "C" locale).
    const ResamplerArgs a = parse(full({{12, "!0,9e3"}, {13, "Bk"}}));
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(a.bend_step, 31);
    expect_track(a, track_of(440.0, {100}), "!0,9e3");
    EXPECT_EQ(parse(full({{12, "!0,9e3"}, {13, "Bk"}})).bend_step, 256);
}

#endif  // KELMOTRA_TEST_CODEC

// ---------------------------------------------------------------- locale

// Runs under the German locale (decimal comma), restoring "C" after.
class ArgsGermanLocale : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(ArgsGermanLocale, LateArgumentsTakeTheCommaEarlyOnesDoNot) {
    const ResamplerArgs a = parse(full({{3, "261,5"},
                                        {4, "150,5/50,5"},
                                        {5, "t100,5P90,5g50,5i2000,5"},
                                        {6, "12,5"},
                                        {7, "10,5"},
                                        {8, "12,5"},
                                        {9, "-500,5"},
                                        {10, "50,5"},
                                        {11, "25,5"}}));
    EXPECT_DOUBLE_EQ(a.offset_ms, 12.0);
    EXPECT_EQ(a.outlen, 441);
    EXPECT_DOUBLE_EQ(a.cutoff_ms, -500.0);
    EXPECT_DOUBLE_EQ(a.volume, 0.5);
    EXPECT_DOUBLE_EQ(a.modulation, 0.25);
    EXPECT_NEAR(a.pitch, cents(261.5, 100.5), 1e-9);
    EXPECT_NEAR(a.vel1, velocity_factor(150.5), 1e-15);
    EXPECT_NEAR(a.vel2, velocity_factor(50.5), 1e-15);
    EXPECT_DOUBLE_EQ(a.peak_exp, 0.905);
    EXPECT_NEAR(a.formant, std::pow(10.0, 50.5 * 0.005), 1e-12);
    EXPECT_DOUBLE_EQ(a.fix1_ms, 12.5);
    EXPECT_DOUBLE_EQ(a.fix2_ms, 20.005);
}

TEST_F(ArgsGermanLocale, PointsStillCount) {
    const ResamplerArgs a = parse(full({{3, "261.5"}, {6, "12.5"}, {8, "12.5/7.25"}, {10, "50.5"}}));
    EXPECT_DOUBLE_EQ(a.pitch, 261.5);
    EXPECT_DOUBLE_EQ(a.offset_ms, 12.5);
    EXPECT_DOUBLE_EQ(a.fix1_ms, 12.5);
    EXPECT_DOUBLE_EQ(a.fix2_ms, 7.25);
    EXPECT_DOUBLE_EQ(a.volume, 0.505);
}

TEST_F(ArgsGermanLocale, CommaOnlyFromTheLocale) {
    // In the "C" locale a comma ends the number everywhere.
    std::setlocale(LC_ALL, "C");
    const ResamplerArgs a = parse(full({{3, "261,5"}, {8, "12,5"}}));
    EXPECT_DOUBLE_EQ(a.pitch, 261.0);
    EXPECT_DOUBLE_EQ(a.fix1_ms, 12.0);
}

}  // namespace
}  // namespace kelmotra
