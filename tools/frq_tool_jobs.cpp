#include "frq_tool_jobs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/platform.h"
#include "frq_tool_common.h"

namespace kelmotra {

namespace {

// Shared by the workers of one run; every field below `lock` is guarded by it.
struct Board {
    std::size_t total = 0;
    std::string verb;
    const std::function<JobLine(std::size_t)>* work = nullptr;
    bool terminal = false;
    double start = 0.0;
    std::atomic<std::size_t> next{0};

    std::mutex lock;
    std::condition_variable changed;
    std::size_t done = 0;
    std::size_t line_width = 0;  // width of the progress line on screen
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
    const double elapsed = monotonic_seconds() - board.start;
    std::string text = board.verb + ": " + std::to_string(board.done) + "/" + std::to_string(board.total) +
                       " files, " + fmt_clock(elapsed) + " elapsed";
    if (board.done > 0 && board.done < board.total) {
        const double left = elapsed / static_cast<double>(board.done) *
                            static_cast<double>(board.total - board.done);
        text += ", about " + fmt_clock(left) + " left";
    }
    put_line(board, text, false);
}

void report_one(Board& board, const JobLine& line) {
    if (board.terminal) {
        if (!line.terminal_text.empty()) put_line(board, line.terminal_text, true);
        draw_progress(board);
        return;
    }
    if (line.text.empty()) return;
    const std::string out =
        "[" + std::to_string(board.done) + "/" + std::to_string(board.total) + "] " + line.text + "\n";
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
}

void work_through(Board& board) {
    for (;;) {
        const std::size_t i = board.next.fetch_add(1);
        if (i >= board.total) return;
        const JobLine line = (*board.work)(i);
        std::lock_guard<std::mutex> guard(board.lock);
        ++board.done;
        report_one(board, line);
        board.changed.notify_all();
    }
}

}  // namespace

void run_jobs(std::size_t total, unsigned jobs, const std::string& verb,
              const std::function<JobLine(std::size_t)>& work) {
    if (total == 0) return;
    Board board;
    board.total = total;
    board.verb = verb;
    board.work = &work;
    board.terminal = stream_is_terminal(stderr);
    board.start = monotonic_seconds();

    jobs = jobs ? jobs : std::thread::hardware_concurrency();
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

}  // namespace kelmotra
