// Order-N differencing (see bend_order.h).
#include "pitchcodec/bend_order.h"

#include <algorithm>

namespace kelmotra {

int clamporder(int order) { return std::clamp(order, 0, 3); }

namespace {

// The order actually used for value j: the history is only j values long.
int order_at(std::size_t j, int order) {
    return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(clamporder(order)), j));
}

}  // namespace

std::int32_t benddiff(const std::vector<std::int16_t>& values, std::size_t j, int order) {
    std::int32_t x0 = values[j];
    switch (order_at(j, order)) {
        case 0:
            return x0;
        case 1:
            return x0 - values[j - 1];
        case 2:
            return x0 - 2 * values[j - 1] + values[j - 2];
        default:
            return x0 - 3 * values[j - 1] + 3 * values[j - 2] - values[j - 3];
    }
}

void bendrebuild(std::vector<std::int16_t>& values, std::int32_t d, int order) {
    std::size_t j = values.size();
    // 64-bit so that no difference can overflow; modulo 2^16 this is the
    // same as 32-bit arithmetic.
    std::int64_t x = d;
    switch (order_at(j, order)) {
        case 0:
            break;
        case 1:
            x += values[j - 1];
            break;
        case 2:
            x += 2 * values[j - 1] - values[j - 2];
            break;
        default:
            x += 3 * values[j - 1] - 3 * values[j - 2] + values[j - 3];
            break;
    }
    // C++20 defines the narrowing as modular, which keeps the decoder exact
    // for any difference the coders could carry modulo 2^16.
    values.push_back(static_cast<std::int16_t>(x));
}

}  // namespace kelmotra
