// The kelmotra executable as a host runs it: banner, failure exits with their
// messages and status, output to a file or to the standard output stream,
// non-ASCII paths, and the decimal-comma locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "freqmap/frq_file.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::run_program;

namespace {

// A voiced test sample: 0.5 s of a 220 Hz harmonic tone at 44100 Hz.
std::vector<double> tone(double seconds, double f0, double rate) {
    std::vector<double> x(static_cast<std::size_t>(seconds * rate));
    for (std::size_t n = 0; n < x.size(); ++n) {
        double v = 0;
        for (int k = 1; k <= 8; ++k) v += std::sin(2 * M_PI * k * f0 * n / rate) / k;
        x[n] = 6000 * v;
    }
    return x;
}

// Writes a sample and a constant-pitch FRQ file beside it.
void write_sample_with_frq(const std::string& wav, double f0 = 220.0) {
    testsupport::write_bytes(wav, testsupport::wav16_mono(44100, tone(0.5, f0, 44100)));
    kelmotra::FreqList list;
    list.step = 256;
    list.sample_rate = 44100;
    list.count = 86;
    list.freq_avg = f0;
    list.freqs.assign(87, f0);
    list.amps.assign(87, 1000.0);
    ASSERT_EQ(kelmotra::frq_save(kelmotra::path_from_utf8(wav), &list, nullptr), 1);
}

std::vector<std::string> note_args(const std::string& in, const std::string& out,
                                   const std::string& flags = "", const std::string& length = "200") {
    return {in, out, "A4", "100", flags, "0", length, "0", "0", "100", "0"};
}

bool has_locale(const char* name) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    bool ok = std::setlocale(LC_ALL, name) != nullptr;
    std::setlocale(LC_ALL, saved.c_str());
    return ok;
}

std::size_t files_in(const std::string& dir) {
    std::size_t n = 0;
    for (auto& e : fs::directory_iterator(dir)) (void)e, ++n;
    return n;
}

}  // namespace

TEST(Run, NoArgumentsPrintsTheBanner) {
    auto r = run_program(testsupport::kelmotra_exe(), {});
    EXPECT_EQ(r.status, 0);
    // Each edition names itself: x64 for 64-bit builds, x86 for 32-bit ones.
    EXPECT_EQ(r.out, sizeof(void*) == 8 ? "kelmotra! 001 for x64\n" : "kelmotra! 001 for x86\n");
    EXPECT_EQ(r.err, "");
}

TEST(Run, HelpAndVersionOnlyAsTheSoleArgument) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* starts;
    };
    const Case cases[] = {
        {{"--version"}, 0, "kelmotra " KELMOTRA_VERSION "\n"},
        {{"--help"}, 0, "Usage: kelmotra IN.wav OUT.wav PITCH"},
        {{"-h"}, 0, "Usage: kelmotra IN.wav OUT.wav PITCH"},
        {{"--help", "out.wav"}, 1, ""},  // a note whose sample is named --help
    };
    for (const Case& c : cases) {
        const auto r = run_program(testsupport::kelmotra_exe(), c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.out.rfind(c.starts, 0), 0u) << r.out;
        if (c.status == 0) {
            EXPECT_EQ(r.err, "");
        }
    }
}

TEST(Run, FailureExitsReportAndWriteNothing) {
    std::string dir = testsupport::scratch_dir("run_failures");
    std::string out = dir + "/out.wav";

    // Missing input.
    auto r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/missing.wav", out));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Fehler beim Laden der Datei!\n");

    // Not a RIFF file.
    testsupport::write_bytes(dir + "/text.wav", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'});
    r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/text.wav", out));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "file format error(2).\nFehler beim Laden der Datei!\n");

    // Too short for a single analysis step, and no FRQ file: no list.
    testsupport::write_bytes(dir + "/short.wav", testsupport::wav16_mono(44100, std::vector<double>(100, 1000.0)));
    r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/short.wav", out));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error : get freqency list.\n"), std::string::npos);
    EXPECT_FALSE(testsupport::file_exists(dir + "/short_wav.frq"));

    // An absurd length is refused before anything is read.
    r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/missing.wav", out, "", "1e12"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("length"), std::string::npos);

    EXPECT_FALSE(testsupport::file_exists(out));
    EXPECT_EQ(r.signal, 0);
}

TEST(Run, RendersANoteOfExactlyTheRequestedLength) {
    std::string dir = testsupport::scratch_dir("run_render");
    write_sample_with_frq(dir + "/in.wav");
    auto r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/in.wav", dir + "/out.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");  // the FRQ file was found: nothing on standard output
    EXPECT_NE(r.err.find("ssize=22050\n"), std::string::npos);
    EXPECT_NE(r.err.find("outlen=8820\n"), std::string::npos);
    EXPECT_NE(r.err.find("This process took "), std::string::npos);
    auto wav = testsupport::read_bytes(dir + "/out.wav");
    ASSERT_EQ(wav.size(), 44u + 2u * 8820u);  // 200 ms at 44100 Hz, 16-bit mono
    // Only the output and the two input files are left: no temporary files.
    EXPECT_EQ(files_in(dir), 3u);

    // Flag n silences the diagnostic lines.
    r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/in.wav", dir + "/quiet.wav", "n"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(testsupport::read_bytes(dir + "/quiet.wav"), wav);
}

TEST(Run, StandardOutputCarriesOnlyTheWav) {
    std::string dir = testsupport::scratch_dir("run_stdout");
    write_sample_with_frq(dir + "/in.wav");
    auto file = run_program(testsupport::kelmotra_exe(), note_args(dir + "/in.wav", dir + "/out.wav"));
    ASSERT_EQ(file.status, 0);
    auto r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/in.wav", "-"));
    ASSERT_EQ(r.status, 0);
    auto expected = testsupport::read_bytes(dir + "/out.wav");
    EXPECT_EQ(std::vector<std::uint8_t>(r.out.begin(), r.out.end()), expected);
    EXPECT_EQ(r.err.find("ssize="), std::string::npos);  // "-" switches the diagnostics off

    // Without an FRQ file the "not found" notice goes to the error stream, so
    // the WAV stream stays intact.
    std::string bare = dir + "/bare.wav";
    testsupport::write_bytes(bare, testsupport::read_bytes(dir + "/in.wav"));
    r = run_program(testsupport::kelmotra_exe(), note_args(bare, "-"));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GE(r.out.size(), 44u);
    EXPECT_EQ(r.out.substr(0, 4), "RIFF");
    EXPECT_NE(r.err.find("FRQ-Datei hat nicht gefunden.\n"), std::string::npos);

    // A hyphen followed by more text is an ordinary file name.
    r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/in.wav", dir + "/-x"));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(testsupport::file_exists(dir + "/-x"));
}

TEST(Run, MissingFrqFileIsAnnouncedOnStandardOutputAndWritten) {
    std::string dir = testsupport::scratch_dir("run_analyse");
    std::string in = dir + "/voice.wav";
    testsupport::write_bytes(in, testsupport::read_bytes(testsupport::voice_sample()));
    auto r = run_program(testsupport::kelmotra_exe(), note_args(in, dir + "/out.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "FRQ-Datei hat nicht gefunden.\n");
    EXPECT_TRUE(testsupport::file_exists(dir + "/voice_wav.frq"));
}

TEST(Run, UnwritableOutputFailsWithItsPath) {
    std::string dir = testsupport::scratch_dir("run_unwritable");
    write_sample_with_frq(dir + "/in.wav");
    std::string out = dir + "/no/such/folder/out.wav";
    auto r = run_program(testsupport::kelmotra_exe(), note_args(dir + "/in.wav", out, "n"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(out), std::string::npos);
    EXPECT_EQ(files_in(dir), 2u);
}

TEST(Run, NonAsciiPathsOpenAndGetTheirFrqFileBeside) {
    std::string dir = testsupport::scratch_dir("run_kana");
    std::string in = dir + "/\xE3\x81\x82.wav";  // あ.wav
    testsupport::write_bytes(in, testsupport::read_bytes(testsupport::voice_sample()));
    std::string out = dir + "/\xE3\x81\x84.wav";  // い.wav
    auto r = run_program(testsupport::kelmotra_exe(), note_args(in, out, "n"),
                         {"LC_ALL=C.UTF-8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(testsupport::file_exists(dir + "/\xE3\x81\x82_wav.frq"));
    EXPECT_EQ(testsupport::read_bytes(out).size(), 44u + 2u * 8820u);
}

TEST(Run, DecimalCommaLocaleReadsBothSeparators) {
    if (!has_locale("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 locale not installed";
    std::string dir = testsupport::scratch_dir("run_locale");
    write_sample_with_frq(dir + "/in.wav");
    // Argument 8 (read after the locale is set) takes either separator; the
    // messages use the locale's.
    for (const char* consonant : {"12,5", "12.5"}) {
        auto args = note_args(dir + "/in.wav", dir + "/out.wav");
        args[7] = consonant;
        auto r = run_program(testsupport::kelmotra_exe(), args, {"LC_ALL=de_DE.UTF-8"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("fix1=551,250\tvel1=1,000\n"), std::string::npos) << consonant << "\n" << r.err;
    }
    // Argument 6 is read before the locale is set: "100,5" stops at the comma.
    auto args = note_args(dir + "/in.wav", dir + "/out.wav");
    args[5] = "100,5";
    auto r = run_program(testsupport::kelmotra_exe(), args, {"LC_ALL=de_DE.UTF-8"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("offl=4410,000\n"), std::string::npos) << r.err;
}
