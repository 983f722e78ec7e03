#include "driver/usage.h"

#ifndef KELMOTRA_VERSION
#error "the build defines KELMOTRA_VERSION (the project version)"
#endif

namespace kelmotra {

namespace {

// Laid out so that help2man turns it into the manual page: a "Usage:" line,
// then sections whose titles end in a colon, options indented by two blanks.
constexpr const char* kUsage =
    "Usage: kelmotra IN.wav OUT.wav PITCH VELOCITY FLAGS OFFSET LENGTH CONSONANT CUTOFF VOLUME "
    "MODULATION [TEMPO PITCHBEND]\n"
    "  or:  kelmotra --help | --version\n"
    "\n"
    "Renders one note of a sung part, as a singing-synthesis host asks for it:\n"
    "reads the voice sample IN.wav, stretches it to the note's length, moves it to\n"
    "the note's pitch and pitch-bend curve while keeping the voice's formants, and\n"
    "writes OUT.wav (16-bit mono PCM, 44100 Hz). The sample's pitch over time is\n"
    "kept in a frequency map beside it (voice.wav -> voice_wav.frq), written by\n"
    "the first render that needs it. With no arguments at all kelmotra prints its\n"
    "banner.\n"
    "\n"
    "Arguments:\n"
    "  IN.wav       the voice sample: 8-bit, 16-, 24-, 32-bit integer or 32-, 64-bit\n"
    "               float WAV, any rate and channel count (the first channel is used)\n"
    "  OUT.wav      the rendered note (default outfile.wav); \"-\" writes the WAV to\n"
    "               standard output and switches the diagnostic lines off\n"
    "  PITCH        a note name (C4, C#4, Db4, A4+25 with cents) or Hz; default 440\n"
    "  VELOCITY     consonant speed in %: 100 keeps it, 200 doubles it, 0 halves it;\n"
    "               100/200 sets the leading and the trailing part apart\n"
    "  FLAGS        flag letters with their numbers, such as g-20P86 (see Flags)\n"
    "  OFFSET       ms: start of the used region in the sample\n"
    "  LENGTH       ms: output length, 0 to 600000; 0 is as long as the sample\n"
    "  CONSONANT    ms: the unstretched leading region; 40/30 also sets a trailing one\n"
    "  CUTOFF       ms: end of the used region, measured back from the sample's end;\n"
    "               negative: a length measured from OFFSET\n"
    "  VOLUME       %: 0 to 200; default 100\n"
    "  MODULATION   %: how much of the sample's own pitch movement stays; default 0\n"
    "  TEMPO        !BPM, decimals allowed (!92.5): one bend value per 1/96 beat;\n"
    "               !120*hff2 also selects an extended bend form and its order\n"
    "  PITCHBEND    the bend curve in cents: base64 pairs with #n# repeats (or an\n"
    "               extended form); used only when TEMPO is given too\n"
    "\n"
    "Numbers take a decimal point; PITCH, VELOCITY, CONSONANT, TEMPO and the flag\n"
    "numbers also take the decimal separator of the user's locale.\n"
    "\n"
    "Flags:\n"
    "  gN    formant shift: the envelope is read at 10^(N/200) times the frequency\n"
    "  N     pitch shift without envelope correction\n"
    "  BN    breath: keeps N % (0 to 100, default 0) of the voice's aperiodic part\n"
    "        as noise when the note is stretched\n"
    "  PN    peak normalisation exponent N/100 (default 86; a bare P switches it off)\n"
    "  iN    trailing fixed region of N/100 ms (CONSONANT's second number overrides it)\n"
    "  vN    velocity of the trailing part, replacing VELOCITY's\n"
    "  tN    transpose by N cents, -200 <= N < 200\n"
    "  G     analyse the sample again and rewrite its frequency map\n"
    "  n     no diagnostic lines on standard error\n"
    "Other letters are accepted and ignored. kelmotra.yaml, beside the program,\n"
    "shows these flags as expressions in OpenUtau.\n"
    "\n"
    "Options:\n"
    "  --help       print this text and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Environment:\n"
    "  LC_ALL, LC_NUMERIC, LANG\n"
    "               the user's locale, whose decimal separator the late arguments\n"
    "               accept and the messages use (12,5 under de_DE.UTF-8)\n"
    "  KELMOTRA_ANALYSIS\n"
    "               classic: frequency maps are made by the classic analysis of\n"
    "               earlier versions; otherwise by the robust pitch tracker\n"
    "\n"
    "Exit status:\n"
    "  0    the note was written, or the banner, usage or version was printed\n"
    "  1    any failure, after a one-line message on standard error; the output\n"
    "       file is then left as it was\n";

}  // namespace

const char* version_text() { return KELMOTRA_VERSION; }

bool print_info_if_asked(const std::vector<CmdArg>& argv, std::FILE* out) {
    if (argv.size() != 2) return false;
    const std::wstring& a = argv[1].text;
    if (a == L"--help" || a == L"-h") {
        std::fputs(kUsage, out);
    } else if (a == L"--version") {
        std::fprintf(out, "kelmotra %s\n", version_text());
    } else {
        return false;
    }
    return true;
}

}  // namespace kelmotra
