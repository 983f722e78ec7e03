#include "frq_tool_analyse.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>

#include "freqmap/frq_file.h"
#include "frq_tool_common.h"

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

// Shared by the workers of one run; every field below `lock` is guarded by it.
struct Board {
    const std::vector<PathString>* samples = nullptr;
    bool force = false;
    AnalysisOptions analysis;
    bool terminal = false;
    double start = 0.0;
    std::atomic<std::size_t> next{0};

    std::mutex lock;
    std::condition_variable changed;
    std::size_t done = 0;
    std::size_t line_width = 0;  // width of the progress line on screen
    std::vector<SampleResult> results;
};

// Puts text on the terminal's current line, blanking what a longer earlier
// line left behind. Caller holds the lock.
void put_line(Board& board, const std::string& text, bool end_line) {
    std::string out = "\r" + text;
    if (text.size() < board.line_width) out.append(board.line_width - text.size(), ' ');
    if (end_line) {
        out += "\n";
        board.line_width = 0;
    } else {
        board.line_width = text.size();
    }
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
}

void draw_progress(Board& board) {
    const std::size_t total = board.results.size();
    const double elapsed = monotonic_seconds() - board.start;
    std::string text = "analysing: " + std::to_string(board.done) + "/" + std::to_string(total) +
                       " files, " + fmt_clock(elapsed) + " elapsed";
    if (board.done > 0 && board.done < total) {
        const double left = elapsed / static_cast<double>(board.done) *
                            static_cast<double>(total - board.done);
        text += ", about " + fmt_clock(left) + " left";
    }
    put_line(board, text, false);
}

void report_one(Board& board, std::size_t index, const SampleResult& r) {
    const std::string path = path_to_utf8((*board.samples)[index]);
    if (board.terminal) {
        // Only failures interrupt the progress line; the rest shows in the count.
        if (r.outcome == SampleOutcome::Failed) put_line(board, "failed: " + path + ": " + r.reason, true);
        draw_progress(board);
        return;
    }
    std::string line = "[" + std::to_string(board.done) + "/" + std::to_string(board.results.size()) + "] ";
    switch (r.outcome) {
        case SampleOutcome::Analysed: line += "analysed " + path + " (" + fmt_duration(r.seconds) + ")"; break;
        case SampleOutcome::Skipped: line += "skipped " + path + " (" + r.reason + ")"; break;
        case SampleOutcome::Failed: line += "failed " + path + ": " + r.reason; break;
    }
    line += "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void work_through(Board& board) {
    const std::size_t total = board.results.size();
    for (;;) {
        const std::size_t i = board.next.fetch_add(1);
        if (i >= total) return;
        SampleResult r = update_sample((*board.samples)[i], board.force, board.analysis);
        std::lock_guard<std::mutex> guard(board.lock);
        board.results[i] = std::move(r);
        ++board.done;
        report_one(board, i, board.results[i]);
        board.changed.notify_all();
    }
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
    Board board;
    board.start = monotonic_seconds();
    const SampleList list = collect_samples(options.inputs);
    board.samples = &list.samples;
    board.force = options.force;
    board.analysis = options.analysis;
    board.terminal = stream_is_terminal(stderr);
    board.results.resize(list.samples.size());
    const std::size_t total = list.samples.size();

    for (const InputProblem& p : list.problems)
        std::fprintf(stderr, "failed: %s: %s\n", path_to_utf8(p.path).c_str(), p.reason.c_str());

    if (total > 0) {
        unsigned jobs = options.jobs ? options.jobs : std::thread::hardware_concurrency();
        jobs = std::max(1u, jobs);
        if (jobs > total) jobs = static_cast<unsigned>(total);
        std::vector<std::thread> workers;
        for (unsigned j = 0; j < jobs; ++j) {
            try {
                workers.emplace_back(work_through, std::ref(board));
            } catch (const std::system_error&) {
                break;  // fewer threads than asked for; the others share the work
            }
        }
        if (workers.empty()) work_through(board);
        {
            std::unique_lock<std::mutex> held(board.lock);
            if (board.terminal) draw_progress(board);
            while (board.done < total) {
                board.changed.wait_for(held, std::chrono::milliseconds(250));
                if (board.terminal) draw_progress(board);
            }
            if (board.terminal) {
                draw_progress(board);
                std::fputs("\n", stderr);
                board.line_width = 0;
            }
        }
        for (std::thread& t : workers) t.join();
    }

    std::size_t analysed = 0, skipped = 0, failures = list.problems.size();
    std::string report;
    for (const InputProblem& p : list.problems)
        report += "failed: " + path_to_utf8(p.path) + ": " + p.reason + "\n";
    for (std::size_t i = 0; i < total; ++i) {
        const SampleResult& r = board.results[i];
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
              fmt_duration(monotonic_seconds() - board.start) + "\n";
    std::fflush(stderr);
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
    return failures > 0 ? 1 : 0;
}

}  // namespace kelmotra
