// Fuzz target: the FRQ file parser on arbitrary bytes. A list it accepts must
// be one the lookup can use, and every lookup on it must stay inside the
// arrays (AddressSanitizer) and convert no out-of-range double to an integer
// (UndefinedBehaviorSanitizer).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "freqmap/freqlist.h"
#include "freqmap/frq_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto list = kelmotra::frq_parse(data, size);
    if (!list) return 0;
    if (!kelmotra::freqlist_valid(*list)) std::abort();
    if (kelmotra::kFrqHeaderBytes + kelmotra::kFrqEntryBytes * static_cast<std::size_t>(list->count) > size)
        std::abort();
    if (!std::isfinite(list->freq_avg)) std::abort();

    // The stored list comes back byte for byte (the reserved bytes as zeros).
    const auto bytes = kelmotra::frq_serialize(*list);
    const auto again = kelmotra::frq_parse(bytes.data(), bytes.size());
    if (!again || again->count != list->count || again->step != list->step) std::abort();

    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double positions[] = {-kInf, -1.0, 0.0, 0.5, 255.75, 1e6, 1e300, kInf,
                                std::numeric_limits<double>::quiet_NaN(),
                                static_cast<double>(list->step) * list->count,
                                static_cast<double>(list->step) * (list->count - 1) + 0.5};
    for (double pos : positions) {
        (void)kelmotra::freqlist_at(*list, pos, 0.0, 0.0, -1.0);
        (void)kelmotra::freqlist_at(*list, pos, 55.0, 1000.0, 220.0);
    }
    return 0;
}
