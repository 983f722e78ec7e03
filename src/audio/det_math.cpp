#include "audio/det_math.h"

#include <cmath>

namespace kelmotra {

// Placeholder implementations: the standard library's.
double det_sin(double x) { return std::sin(x); }
double det_cos(double x) { return std::cos(x); }
double det_atan2(double y, double x) { return std::atan2(y, x); }
double det_hypot(double x, double y) { return std::hypot(x, y); }
double det_pow(double x, double y) { return std::pow(x, y); }

}  // namespace kelmotra
