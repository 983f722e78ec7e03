#include "freqmap/freqlist.h"

#include <cmath>

namespace kelmotra {

bool freqlist_valid(const FreqList& list) {
    return list.step >= 1 && list.count >= 1 &&
           list.freqs.size() == static_cast<std::size_t>(list.count) + 1 &&
           list.amps.size() == static_cast<std::size_t>(list.count) + 1;
}

double freqlist_at(const double* freqs, std::int32_t count, std::int32_t step, double position,
                   double floor_hz, double excluded_hz, double fallback_hz) {
    const double x = position / step;
    // Negative and not-finite positions read the first entry; positions so far
    // past the end that their index would not fit an integer read the last.
    std::int32_t i = 0;
    double f = 0.0;
    if (x >= 1073741824.0) {
        i = count;
    } else if (x >= 0.0) {
        const double fl = std::floor(x);
        i = static_cast<std::int32_t>(fl);
        f = x - fl;
    }
    double a = i < count ? freqs[i] : freqs[count];
    double b = i + 1 < count ? freqs[i + 1] : freqs[count];
    if (a <= floor_hz || a == excluded_hz) a = fallback_hz;
    if (b <= floor_hz || b == excluded_hz) b = fallback_hz;
    return (1 - f) * a + f * b;
}

double freqlist_at(const FreqList& list, double position, double floor_hz, double excluded_hz,
                   double fallback_hz) {
    if (fallback_hz < 0) fallback_hz = list.freq_avg;
    return freqlist_at(list.freqs.data(), list.count, list.step, position, floor_hz, excluded_hz,
                       fallback_hz);
}

}  // namespace kelmotra
