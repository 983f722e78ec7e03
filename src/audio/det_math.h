// Elementary functions that give the same bits on every platform.
//
// The C libraries of the platforms we build for disagree in the last bits of
// sin, cos, atan2, hypot and pow; wherever such a value feeds the output, the
// program calls these instead, so that one note gives one set of bytes.
// Each is accurate to within one unit in the last place over the ranges the
// program uses. sqrt, floor and ceil are exact in IEEE arithmetic and are
// taken from the standard library.
#pragma once

namespace kelmotra {

double det_sin(double x);                 // x in radians
double det_cos(double x);                 // x in radians
double det_atan2(double y, double x);     // radians in [-pi, pi]
double det_hypot(double x, double y);     // sqrt(x*x + y*y) without overflow
double det_pow(double x, double y);       // x^y (x > 0 in every use; x = 0 and y > 0 give 0)

}  // namespace kelmotra
