#include "frq_tool_analyse.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>

#include "freqmap/frq_file.h"
#include "frq_tool_common.h"
#include "frq_tool_jobs.h"

namespace kelmotra {

namespace fs = std::filesystem;

namespace {

SampleResult failed(std::string reason) {
    SampleResult r;
    r.outcome = SampleOutcome::Failed;
    r.reason = std::move(reason);
    return r;
}

SampleResult update_sample_unguarded(const PathString& sample, bool force, const AnalysisOptions& analysis) {
    const FrqName name = frq_path(sample);
    if (name.is_input_itself) return failed("an FRQ file, not a sample");
    const std::optional<FileStatus> wav_status = file_status(sample);
    if (!wav_status) return failed("no such file");
    if (wav_status->is_directory) return failed("is a folder");

    const std::optional<FileStatus> frq_status = file_status(name.path);
    if (frq_status && frq_status->is_directory)
        return failed("its FRQ name " + path_to_utf8(name.path) + " is a folder");
    if (!force && frq_status && frq_status->mtime_ns >= wav_status->mtime_ns &&
        frq_load(sample, nullptr)) {
        SampleResult r;
        r.outcome = SampleOutcome::Skipped;
        r.reason = "FRQ file up to date";
        return r;
    }
    // A read-only map is protected on purpose: the writer never replaces it,
    // so don't spend the analysis on it.
    if (frq_status && frq_status->read_only)
        return failed("its FRQ file " + path_to_utf8(name.path) + " is read-only");

    std::optional<std::vector<std::uint8_t>> bytes = read_file(sample);
    if (!bytes) return failed("cannot read the file");
    std::string why;
    std::optional<FreqList> list = analyse_wav_bytes(*bytes, analysis, why);
    if (!list) return failed(why);
    if (frq_save(sample, &*list, nullptr) != 1)
        return failed("cannot write its FRQ file " + path_to_utf8(name.path));
    SampleResult r;
    r.outcome = SampleOutcome::Analysed;
    return r;
}

}  // namespace

SampleList collect_samples(const std::vector<PathString>& inputs) {
    SampleList out;
    for (const PathString& input : inputs) {
        const fs::path p(input);
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        if (ec || !fs::exists(st)) {
            out.problems.push_back({input, "no such file or folder"});
            continue;
        }
        if (!fs::is_directory(st)) {
            if (frq_path(input).is_input_itself)
                out.problems.push_back({input, "an FRQ file, not a sample"});
            else
                out.samples.push_back(p.lexically_normal().native());
            continue;
        }
        fs::recursive_directory_iterator it(p, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code fe;
            if (it->is_regular_file(fe) && has_wav_suffix(it->path().filename().native()))
                out.samples.push_back(it->path().lexically_normal().native());
        }
        if (ec) out.problems.push_back({input, "cannot search the folder: " + ec.message()});
    }
    std::sort(out.samples.begin(), out.samples.end());
    out.samples.erase(std::unique(out.samples.begin(), out.samples.end()), out.samples.end());
    return out;
}

SampleResult update_sample(const PathString& sample, bool force, const AnalysisOptions& analysis) {
    const double t0 = monotonic_seconds();
    SampleResult r;
    try {
        r = update_sample_unguarded(sample, force, analysis);
    } catch (const std::bad_alloc&) {
        r = failed("out of memory");
    } catch (const std::exception& e) {
        r = failed(e.what());
    }
    r.seconds = monotonic_seconds() - t0;
    return r;
}

int run_analyse(const AnalyseOptions& options) {
    const double start = monotonic_seconds();
    const SampleList list = collect_samples(options.inputs);
    const std::size_t total = list.samples.size();
    std::vector<SampleResult> results(total);

    for (const InputProblem& p : list.problems)
        std::fprintf(stderr, "failed: %s: %s\n", path_to_utf8(p.path).c_str(), p.reason.c_str());

    run_jobs(total, options.jobs, "analysing", [&](std::size_t i) {
        const SampleResult r = update_sample(list.samples[i], options.force, options.analysis);
        results[i] = r;
        const std::string path = path_to_utf8(list.samples[i]);
        JobLine line;
        switch (r.outcome) {
            case SampleOutcome::Analysed: line.text = "analysed " + path + " (" + fmt_duration(r.seconds) + ")"; break;
            case SampleOutcome::Skipped: line.text = "skipped " + path + " (" + r.reason + ")"; break;
            case SampleOutcome::Failed:
                line.text = "failed " + path + ": " + r.reason;
                // Only failures interrupt the progress line; the rest shows in the count.
                line.terminal_text = "failed: " + path + ": " + r.reason;
                break;
        }
        return line;
    });

    std::size_t analysed = 0, skipped = 0, failures = list.problems.size();
    std::string report;
    for (const InputProblem& p : list.problems)
        report += "failed: " + path_to_utf8(p.path) + ": " + p.reason + "\n";
    for (std::size_t i = 0; i < total; ++i) {
        const SampleResult& r = results[i];
        if (r.outcome == SampleOutcome::Analysed) ++analysed;
        if (r.outcome == SampleOutcome::Skipped) ++skipped;
        if (r.outcome == SampleOutcome::Failed) {
            ++failures;
            report += "failed: " + path_to_utf8(list.samples[i]) + ": " + r.reason + "\n";
        }
    }
    if (total == 0 && list.problems.empty()) report += "no WAV files found\n";
    report += "analysed " + std::to_string(analysed) + ", skipped " + std::to_string(skipped) +
              ", failed " + std::to_string(failures) + " in " +
              fmt_duration(monotonic_seconds() - start) + "\n";
    std::fflush(stderr);
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
    return failures > 0 ? 1 : 0;
}

}  // namespace kelmotra
