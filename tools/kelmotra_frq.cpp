// kelmotra-frq: prepares and inspects the FRQ files (frequency maps) that
// kelmotra keeps beside each voice sample (voice.wav -> voice_wav.frq).
//
//   kelmotra-frq analyse [--force] [--jobs N] [--method robust|classic] PATH...
//   kelmotra-frq check [--jobs N] [--fix] PATH...
//   kelmotra-frq show [--csv] FILE
//   kelmotra-frq plot FILE -o OUT.svg
//
// KELMOTRA_ANALYSIS=classic selects the classic analysis wherever a map is
// made, as it does for kelmotra; read once, here. Exit status: 0 on success,
// 1 when a file failed, 2 for bad usage.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "frq_tool_analyse.h"
#include "frq_tool_check.h"
#include "frq_tool_view.h"

namespace {

using kelmotra::PathString;

constexpr int kUsageError = 2;
constexpr unsigned kMaxJobs = 1024;

const char* const kMainUsage =
    "usage: kelmotra-frq COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Prepares and inspects the FRQ files (frequency maps) that kelmotra keeps\n"
    "beside each voice sample: voice.wav -> voice_wav.frq.\n"
    "\n"
    "commands:\n"
    "  analyse [--force] [--jobs N] [--method M] PATH...\n"
    "                                        write the FRQ files of samples and folders\n"
    "  check [--jobs N] [--fix] PATH...      find (and rewrite) maps that disagree with their samples\n"
    "  show [--csv] FILE                     print the map of a sample or an FRQ file\n"
    "  plot FILE -o OUT.svg                  draw the map over the waveform as SVG\n"
    "  help [COMMAND]                        this text, or the usage of a command\n"
    "  --version                             the version\n"
    "\n"
    "Maps are made by the robust tracker; KELMOTRA_ANALYSIS=classic in the\n"
    "environment selects the classic analysis instead, as it does for kelmotra.\n"
    "\n"
    "Exit status: 0 success, 1 some file failed, 2 bad usage.\n";

const char* const kAnalyseUsage =
    "usage: kelmotra-frq analyse [--force] [--jobs N] [--method robust|classic] PATH...\n"
    "\n"
    "Writes the FRQ file of every sample: each PATH is a WAV file, or a folder\n"
    "searched recursively for files whose name ends in .wav (any letter case).\n"
    "The analysis and the bytes written are exactly kelmotra's own.\n"
    "\n"
    "  --force, -f       analyse even when the FRQ file is up to date (it loads\n"
    "                    and is not older than its sample); such samples are\n"
    "                    skipped otherwise\n"
    "  --jobs N, -j N    analyse N samples at once (default: one per core)\n"
    "  --method M        robust (the default tracker) or classic (the literal\n"
    "                    analysis of earlier versions); the default comes from\n"
    "                    KELMOTRA_ANALYSIS, as for kelmotra\n"
    "\n"
    "Progress goes to stderr, the summary to stdout. Exit status 1 when any\n"
    "sample failed; the others are analysed all the same.\n";

const char* const kCheckUsage =
    "usage: kelmotra-frq check [--jobs N] [--fix] PATH...\n"
    "\n"
    "Checks the FRQ file of every sample that has one: each PATH is a WAV file,\n"
    "or a folder searched recursively for files whose name ends in .wav. The\n"
    "sample is analysed in memory by the robust tracker, and a map is bad when,\n"
    "over the steps both call voiced, the median difference is beyond 300 cents\n"
    "or more than 20 % of those steps are beyond 300 cents (with no such step,\n"
    "the map's average is compared instead); a damaged map is bad too. Each bad\n"
    "map is listed with its typical error (\"-1200 cents: an octave low\").\n"
    "Voice banks often ship maps made by other tools: a bad map makes the notes\n"
    "sung from its sample come out at the wrong pitch.\n"
    "\n"
    "  --fix             rewrite the bad maps with the robust tracker (each\n"
    "                    replaced at once, never half-written); read-only maps\n"
    "                    are left alone and reported\n"
    "  --jobs N, -j N    check N samples at once (default: one per core)\n"
    "\n"
    "Progress goes to stderr; the bad maps and the summary to stdout. Exit\n"
    "status 1 when a bad map is left in place or a file failed, else 0.\n";

const char* const kShowUsage =
    "usage: kelmotra-frq show [--csv] FILE\n"
    "\n"
    "Prints the frequency map of FILE: a WAV sample (its FRQ file is read; when\n"
    "kelmotra would not use one, the sample is analysed in memory and nothing\n"
    "is written) or an FRQ file. The header gives step, sample rate, count and\n"
    "average frequency; each entry its time (ms), frequency (Hz), amplitude and\n"
    "whether it is voiced (above 16 Hz and not 55 Hz).\n"
    "\n"
    "  --csv   only the entries, as CSV with the header row\n"
    "          index,time_ms,frequency_hz,amplitude,voiced\n";

const char* const kPlotUsage =
    "usage: kelmotra-frq plot FILE -o OUT.svg\n"
    "\n"
    "Draws the frequency curve of FILE (a WAV sample, or an FRQ file) over the\n"
    "sample's waveform envelope (for a bare FRQ file: over its level curve),\n"
    "with time and frequency axes and the average frequency as a dashed line.\n"
    "\n"
    "  -o, --output OUT.svg   the picture to write\n";

struct Arg {
    std::string text;  // for matching options (UTF-8)
    PathString native; // for paths, exactly as given
};

int usage_error(const std::string& message, const char* command) {
    std::string hint = command ? std::string("kelmotra-frq ") + command + " --help" : "kelmotra-frq --help";
    std::fprintf(stderr, "kelmotra-frq: %s (see %s)\n", message.c_str(), hint.c_str());
    return kUsageError;
}

bool is_help(const std::string& a) { return a == "--help" || a == "-h"; }

bool looks_like_option(const std::string& a) { return a.size() > 1 && a[0] == '-'; }

// A positive job count, or 0 when the text is not one.
unsigned parse_jobs(const std::string& text) {
    if (text.empty() || text.size() > 6) return 0;
    unsigned n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n <= kMaxJobs ? n : 0;
}

bool is_jobs_option(const std::string& a) { return a == "--jobs" || a == "-j" || a.rfind("--jobs=", 0) == 0; }

// Reads the job count of the option at args[i] (--jobs N, -j N or
// --jobs=N), moving i past its value. 0 when it is good, else the status of
// the usage error already reported.
int take_jobs(const std::vector<Arg>& args, std::size_t& i, const char* command, unsigned& jobs) {
    const std::string& a = args[i].text;
    std::string value;
    if (a.rfind("--jobs=", 0) == 0) {
        value = a.substr(7);
    } else {
        if (i + 1 >= args.size()) return usage_error(a + " needs a number", command);
        value = args[++i].text;
    }
    jobs = parse_jobs(value);
    if (jobs == 0)
        return usage_error("--jobs wants a whole number from 1 to " + std::to_string(kMaxJobs) + ", not '" +
                               value + "'",
                           command);
    return 0;
}

int command_analyse(const std::vector<Arg>& args, const kelmotra::AnalysisOptions& analysis) {
    kelmotra::AnalyseOptions options;
    options.analysis = analysis;
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        if (options_done || !looks_like_option(a)) {
            options.inputs.push_back(args[i].native);
            continue;
        }
        if (a == "--") {
            options_done = true;
        } else if (is_help(a)) {
            std::fputs(kAnalyseUsage, stdout);
            return 0;
        } else if (a == "--force" || a == "-f") {
            options.force = true;
        } else if (is_jobs_option(a)) {
            if (const int status = take_jobs(args, i, "analyse", options.jobs)) return status;
        } else if (a == "--method" || a.rfind("--method=", 0) == 0) {
            std::string value;
            if (a.rfind("--method=", 0) == 0) {
                value = a.substr(9);
            } else {
                if (i + 1 >= args.size()) return usage_error(a + " needs robust or classic", "analyse");
                value = args[++i].text;
            }
            if (value != "robust" && value != "classic")
                return usage_error("--method wants robust or classic, not '" + value + "'", "analyse");
            options.analysis.method = kelmotra::analysis_method_named(value.c_str());
        } else {
            return usage_error("analyse: unknown option '" + a + "'", "analyse");
        }
    }
    if (options.inputs.empty()) return usage_error("analyse: no folder or sample given", "analyse");
    return kelmotra::run_analyse(options);
}

int command_check(const std::vector<Arg>& args) {
    kelmotra::CheckOptions options;
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        if (options_done || !looks_like_option(a)) {
            options.inputs.push_back(args[i].native);
        } else if (a == "--") {
            options_done = true;
        } else if (is_help(a)) {
            std::fputs(kCheckUsage, stdout);
            return 0;
        } else if (a == "--fix") {
            options.fix = true;
        } else if (is_jobs_option(a)) {
            if (const int status = take_jobs(args, i, "check", options.jobs)) return status;
        } else {
            return usage_error("check: unknown option '" + a + "'", "check");
        }
    }
    if (options.inputs.empty()) return usage_error("check: no folder or sample given", "check");
    return kelmotra::run_check(options);
}

int command_show(const std::vector<Arg>& args, const kelmotra::AnalysisOptions& analysis) {
    bool csv = false;
    std::vector<PathString> files;
    bool options_done = false;
    for (const Arg& arg : args) {
        const std::string& a = arg.text;
        if (options_done || !looks_like_option(a)) {
            files.push_back(arg.native);
        } else if (a == "--") {
            options_done = true;
        } else if (is_help(a)) {
            std::fputs(kShowUsage, stdout);
            return 0;
        } else if (a == "--csv") {
            csv = true;
        } else {
            return usage_error("show: unknown option '" + a + "'", "show");
        }
    }
    if (files.size() != 1)
        return usage_error(files.empty() ? "show: no file given" : "show: give exactly one file", "show");
    return kelmotra::run_show(files[0], csv, analysis);
}

int command_plot(const std::vector<Arg>& args, const kelmotra::AnalysisOptions& analysis) {
    std::vector<PathString> files;
    std::vector<PathString> outs;
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i].text;
        if (options_done || !looks_like_option(a)) {
            files.push_back(args[i].native);
        } else if (a == "--") {
            options_done = true;
        } else if (is_help(a)) {
            std::fputs(kPlotUsage, stdout);
            return 0;
        } else if (a == "-o" || a == "--output") {
            if (i + 1 >= args.size()) return usage_error(a + " needs a file name", "plot");
            outs.push_back(args[++i].native);
        } else if (a.rfind("--output=", 0) == 0 && a.size() > 9) {
            outs.push_back(kelmotra::path_from_utf8(a.substr(9)));
        } else {
            return usage_error("plot: unknown option '" + a + "'", "plot");
        }
    }
    if (files.size() != 1)
        return usage_error(files.empty() ? "plot: no file given" : "plot: give exactly one file", "plot");
    if (outs.size() != 1)
        return usage_error(outs.empty() ? "plot: no output given (-o OUT.svg)" : "plot: give one output", "plot");
    return kelmotra::run_plot(files[0], outs[0], analysis);
}

int run(const std::vector<Arg>& all, const kelmotra::AnalysisOptions& analysis) {
    if (all.size() < 2) return usage_error("no command given", nullptr);
    const std::string& command = all[1].text;
    const std::vector<Arg> rest(all.begin() + 2, all.end());
    if (command == "--version") {
        std::printf("kelmotra-frq %s\n", KELMOTRA_VERSION);
        return 0;
    }
    if (is_help(command)) {
        std::fputs(kMainUsage, stdout);
        return 0;
    }
    if (command == "help") {
        if (rest.empty()) {
            std::fputs(kMainUsage, stdout);
            return 0;
        }
        const std::string& topic = rest[0].text;
        const char* text = topic == "analyse" || topic == "analyze" ? kAnalyseUsage
                           : topic == "check"                       ? kCheckUsage
                           : topic == "show"                        ? kShowUsage
                           : topic == "plot"                        ? kPlotUsage
                                                                    : nullptr;
        if (!text) return usage_error("help: no command '" + topic + "'", nullptr);
        std::fputs(text, stdout);
        return 0;
    }
    if (command == "analyse" || command == "analyze") return command_analyse(rest, analysis);
    if (command == "check") return command_check(rest);
    if (command == "show") return command_show(rest, analysis);
    if (command == "plot") return command_plot(rest, analysis);
    return usage_error("unknown command '" + command + "'", nullptr);
}

int guarded_run(const std::vector<Arg>& args) {
    kelmotra::AnalysisOptions analysis;
    analysis.method = kelmotra::analysis_method_named(std::getenv("KELMOTRA_ANALYSIS"));
    try {
        return run(args, analysis);
    } catch (const std::bad_alloc&) {
        std::fputs("kelmotra-frq: out of memory\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelmotra-frq: %s\n", e.what());
    }
    return 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<Arg> args;
    for (int i = 0; i < argc; ++i) {
        const PathString native(argv[i]);
        args.push_back({kelmotra::path_to_utf8(native), native});
    }
    return guarded_run(args);
}
#else
int main(int argc, char** argv) {
    std::vector<Arg> args;
    for (int i = 0; i < argc; ++i) args.push_back({std::string(argv[i]), PathString(argv[i])});
    return guarded_run(args);
}
#endif
