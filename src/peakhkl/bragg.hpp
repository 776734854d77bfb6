// Bragg's law, lambda = 2 d sin(theta), in the two directions peakhkl needs.
#pragma once

namespace peakhkl {

// 2 theta in degrees, 2 asin(wave / 2d), or -1 when wave > 2d (the
// wavelength cannot reach the reflection).
double two_theta(double d, double wave);

// The d limit of a 2theta limit in degrees: d = wave / (2 sin(theta)).
double d_of_two_theta(double tt, double wave);

} // namespace peakhkl
