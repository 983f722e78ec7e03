#include "freqmap/analysis.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "freqmap/frq_file.h"
#include "freqmap/pitch_analysis.h"
#include "freqmap/pitch_tracker.h"

namespace kelmotra {

AnalysisMethod analysis_method_named(const char* name) {
    return name != nullptr && std::strcmp(name, "classic") == 0 ? AnalysisMethod::Classic
                                                                : AnalysisMethod::Robust;
}

const char* analysis_method_name(AnalysisMethod method) {
    return method == AnalysisMethod::Classic ? "classic" : "robust";
}

std::optional<FreqList> analyse_raw(const RawWave& wave, std::FILE* progress, const AnalysisOptions& options) {
    const WaveFormat& f = wave.format;
    if (f.sample_rate > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    const AnalysisWindow win = analysis_window(f.sample_rate);
    const auto R = static_cast<std::int32_t>(f.sample_rate);
    if (options.method == AnalysisMethod::Classic)
        return analysePitch(wave.bytes.data(), wave.bytes.size(), wave.byte_count, f.bits_per_sample,
                            f.channels, f.block_align, R, win.N, win.Step, 0, 0, f.format_tag, progress);
    const std::optional<PitchSetup> setup =
        pitch_setup(wave.bytes.data(), wave.bytes.size(), wave.byte_count, f.bits_per_sample, f.channels,
                    f.block_align, R, win.N, win.Step, 0, 0, f.format_tag);
    if (!setup) return std::nullopt;
    return track_pitch(*setup, TrackerOptions{}, progress);
}

std::optional<FreqList> analyseWave(const PathString& path, std::FILE* progress, std::FILE* notice,
                                    const AnalysisOptions& options) {
    const std::optional<RawWave> wave = wav_read_raw(path, 0, 0, 4096, progress ? progress : stderr);
    if (!wave) return std::nullopt;
    std::optional<FreqList> list = analyse_raw(*wave, progress, options);
    if (!list) return std::nullopt;
    frq_save(path, &*list, notice);
    return list;
}

}  // namespace kelmotra
