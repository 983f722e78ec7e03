// Several kelmotra processes rendering from one sample at the same moment, as
// a host does when it renders a part's notes in parallel. The sample has no
// frequency map yet, so every process may analyse it and write the map: they
// must all succeed, agree byte for byte, leave one whole map that equals a
// fresh analysis, and leave no temporary file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audio/platform.h"
#include "audio/wav_reader.h"
#include "freqmap/freqlist.h"
#include "freqmap/frq_file.h"
#include "freqmap/analysis.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kProcesses = 8;

struct Job {
    std::string note;  // argument 3
    std::string out;
    testsupport::RunResult result;
};

// Starts every job's process at once (each from its own thread, released
// together) and waits for all of them.
void run_together(const std::string& wav, std::vector<Job>& jobs) {
    std::latch start(static_cast<std::ptrdiff_t>(jobs.size()));
    std::vector<std::thread> threads;
    for (Job& job : jobs) {
        threads.emplace_back([&start, &job, &wav] {
            start.arrive_and_wait();
            job.result = testsupport::run_program(
                testsupport::kelmotra_exe(),
                {wav, job.out, job.note, "100", "", "0", "400", "60", "0", "100", "0"}, {"LC_ALL=C"});
        });
    }
    for (std::thread& t : threads) t.join();
}

std::set<std::string> names_in(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

}  // namespace

TEST(Parallel, ConcurrentRendersOfOneUnanalysedSampleAgree) {
    // A few rounds, each on a fresh copy, so that the processes meet at
    // different points of the analysis and the map's replacement.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string dir = testsupport::scratch_dir("parallel_" + std::to_string(round));
        const std::string wav = dir + "/voice.wav";
        testsupport::write_bytes(wav, testsupport::read_bytes(testsupport::voice_sample()));

        // Half the processes sing the same note, the others different ones.
        const char* notes[kProcesses] = {"A4", "C4", "A4", "E4", "A4", "G3", "A4", "C#5"};
        std::vector<Job> jobs(kProcesses);
        for (int i = 0; i < kProcesses; ++i) {
            jobs[static_cast<std::size_t>(i)].note = notes[i];
            jobs[static_cast<std::size_t>(i)].out = dir + "/out" + std::to_string(i) + ".wav";
        }
        run_together(wav, jobs);

        std::vector<std::uint8_t> same_note;
        for (const Job& job : jobs) {
            ASSERT_EQ(job.result.signal, 0) << job.note << "\n" << job.result.err;
            ASSERT_EQ(job.result.status, 0) << job.note << "\n" << job.result.err;
            const auto bytes = testsupport::read_bytes(job.out);
            ASSERT_EQ(bytes.size(), 44u + 2u * 17640u) << job.out;  // 400 ms at 44100 Hz
            if (job.note != "A4") continue;
            if (same_note.empty())
                same_note = bytes;
            else
                EXPECT_EQ(bytes, same_note) << job.out << " differs from the first A4";
        }

        // The map left behind loads and is exactly what an analysis gives.
        const kelmotra::PathString path = kelmotra::path_from_utf8(wav);
        const auto loaded = kelmotra::frq_load(path, nullptr);
        ASSERT_TRUE(loaded) << "no usable FRQ file after the parallel runs";
        const auto raw = kelmotra::wav_read_raw(path, 0, 0, 4096, nullptr);
        ASSERT_TRUE(raw);
        const auto fresh = kelmotra::analyse_raw(*raw, nullptr);
        ASSERT_TRUE(fresh);
        EXPECT_EQ(loaded->step, fresh->step);
        EXPECT_EQ(loaded->sample_rate, fresh->sample_rate);
        EXPECT_EQ(loaded->count, fresh->count);
        EXPECT_EQ(loaded->freq_avg, fresh->freq_avg);
        EXPECT_EQ(loaded->freqs, fresh->freqs);
        EXPECT_EQ(loaded->amps, fresh->amps);
        EXPECT_EQ(testsupport::read_bytes(dir + "/voice_wav.frq"), kelmotra::frq_serialize(*fresh));

        // A render from the saved map matches the ones made while analysing.
        std::vector<Job> again(1);
        again[0].note = "A4";
        again[0].out = dir + "/again.wav";
        run_together(wav, again);
        ASSERT_EQ(again[0].result.status, 0) << again[0].result.err;
        EXPECT_EQ(testsupport::read_bytes(again[0].out), same_note);

        // Nothing but the sample, its map and the outputs: no temporary file.
        std::set<std::string> expected = {"voice.wav", "voice_wav.frq", "again.wav"};
        for (int i = 0; i < kProcesses; ++i) expected.insert("out" + std::to_string(i) + ".wav");
        EXPECT_EQ(names_in(dir), expected);
    }
}
