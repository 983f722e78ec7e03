#include "driver/run.h"

#include <cstdio>
#include <optional>

#include "audio/wav_reader.h"
#include "audio/wav_writer.h"
#include "driver/timing.h"
#include "freqmap/freqlist.h"
#include "freqmap/frq_file.h"
#include "driver/resynth.h"
#include "audio/transforms.h"
#include "freqmap/analysis.h"
#include "driver/usage.h"

namespace kelmotra {

std::wstring decode_argument(const char* bytes) {
    std::wstring out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    while (*p) {
        const unsigned char c = *p;
        std::uint32_t cp = 0;
        int extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1Fu;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0Fu;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07u;
            extra = 3;
        } else {
            out.push_back(L'\uFFFD');
            ++p;
            continue;
        }
        int i = 1;
        for (; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) break;
            cp = (cp << 6) | (p[i] & 0x3Fu);
        }
        const bool overlong = (extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) ||
                              (extra == 3 && cp < 0x10000);
        if (i <= extra || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(L'\uFFFD');
            p += i;  // skip the lead byte and the continuation bytes seen
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        p += extra + 1;
    }
    return out;
}

int run_resampler(const std::vector<CmdArg>& argv, const AnalysisOptions& analysis) {
    // Arguments 10, 11, 7, 6 and 9 are read before the user's locale is set;
    // every later number, and every message with a decimal number, uses it.
    // Of the user's locale only the numeric category matters here (number
    // parsing and the decimal separator of messages); setting just that one
    // spares loading every other category at each note.
    ResamplerArgs args;
    parse_early_args(argv, args);
    use_environment_numeric_locale();
    if (argv.size() <= 1) {
        std::printf("kelmotra! 001 for x%d\n", edition_bits());
        return 0;
    }
    if (print_info_if_asked(argv, stdout)) return 0;
    // When the WAV goes to the standard output stream, nothing else may: the
    // messages that normally go there are sent to the error stream instead.
    const bool wav_to_stdout = argv.size() > 2 && argv[2].raw == path_from_ascii("-");
    std::FILE* notice = wav_to_stdout ? stderr : stdout;
    const char sep = locale_decimal_point();
    parse_late_args(argv, sep == '.' ? 0 : static_cast<wchar_t>(static_cast<unsigned char>(sep)),
                    notice, args);

    if (args.length_out_of_range) {
        std::fprintf(stderr, "error : note length out of range (0 to %d ms).\n",
                     static_cast<int>(kMaxLengthMs));
        return 1;
    }

    std::optional<WaveData> wave = wav_read(args.in_path, stderr);
    if (!wave) {
        std::fputs("Fehler beim Laden der Datei!\n", stderr);
        return 1;
    }

    const Tables tables = build_tables();

    std::optional<FreqList> list;
    if (args.reanalyse)
        list = analyseWave(args.in_path, stderr, notice, analysis);
    else
        list = frq_load(args.in_path, notice);
    if (!list && !args.reanalyse) list = analyseWave(args.in_path, stderr, notice, analysis);
    if (!list || !freqlist_valid(*list)) {
        std::fputs("error : get freqency list.\n", stderr);
        return 1;
    }

    const TimingPlan plan = plan_timing(args, wave->format.sample_rate, wave->frames, stderr);
    const std::int32_t outlen = plan.outlen > 0 ? plan.outlen : 0;
    std::vector<double> out(static_cast<std::size_t>(outlen) + 1024, 0.0);
    resynthesize(args, plan, *wave, *list, tables, out, stderr);
    // The input is not needed any more: releasing it before the output is
    // encoded keeps the peak memory of long notes down.
    wave.reset();
    list.reset();
    apply_level(out.data(), outlen, args.peak_exp, args.volume);

    if (wav_write(args.out_path, out.data(), outlen, 16, 1, 44100, 1) < 0) {
        if (wav_to_stdout)
            std::fputs("error : cannot write the output to the standard output stream.\n", stderr);
        else
            std::fprintf(stderr, "error : cannot write %s.\n", path_to_utf8(args.out_path).c_str());
        return 1;
    }
    return 0;
}

}  // namespace kelmotra
