// Where a line of a reflection falls in a pattern, and how strong its
// Kalpha2 companion is: Bragg's law, the zero shift, the specimen
// displacement and the Lorentz-polarization factor.
#pragma once

#include "peakhkl/intensity.hpp"

namespace peakfit {

// 2theta of the line of wavelength wave (angstroms) from a reflection with
// 1/d^2 = s, in degrees:
//   2theta = 2 asin(wave sqrt(s) / 2) + zero - (2 disp / radius) cos(theta),
// zero in degrees, disp and radius in millimetres (disp > 0: the specimen's
// surface below the goniometer axis, the lines moved to lower angles), the
// last term converted from radians. theta is the Bragg angle (radians).
// ok false where the wavelength cannot reach the reflection.
struct LinePosition {
    double tt = 0, theta = 0;
    double d_s = 0;       // d 2theta / d s
    double d_theta_s = 0; // d theta / d s (the Bragg angle, radians)
    double d_disp = 0;    // d 2theta / d disp
    bool ok = false;
};
LinePosition line_position(double s, double wave, double zero, double disp, double radius);

// The Lorentz-polarization factor at the Bragg angle of the line of wave
// for 1/d^2 = s, through peakhkl's own function (so that the fitted curve
// and peakhkl's stick intensities agree by construction).
double lp_at(double s, double wave, const peakhkl::Beam& beam);

// The Kalpha2 line's strength relative to its Kalpha1 line, apart from the
// emission ratio: Lp(2theta_2) / Lp(2theta_1), and its derivative by s.
struct LpRatio {
    double value = 1, d_s = 0;
};
LpRatio lp_ratio(double s, double wave1, double wave2, const peakhkl::Beam& beam);

} // namespace peakfit
