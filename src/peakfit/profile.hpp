// The shape of one powder line: a Thompson-Cox-Hastings pseudo-Voigt,
// convolved with the Finger-Cox-Jephcoat axial-divergence function, with
// its derivatives, and the window outside which it is left out.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace peakfit {

// Caglioti and Lorentzian widths of a line at Bragg angle theta (radians):
//   Gaussian FWHM^2 = U tan^2 theta + V tan theta + W,
//   Lorentzian FWHM = X / cos theta + Y tan theta (all in degrees),
// mixed by Thompson, Cox & Hastings (1987) into one FWHM and eta:
//   fwhm^5 = sum of their polynomial in G and L, q = L / fwhm,
//   eta = 1.36603 q - 0.47719 q^2 + 0.11116 q^3.
// d_fwhm and d_eta: derivatives by U, V, W, X, Y. ok false where the
// Gaussian FWHM^2 is not positive or the widths are not finite.
struct Width {
    double fwhm = 0, eta = 0;
    std::array<double, 5> d_fwhm{}, d_eta{};
    double d_fwhm_theta = 0, d_eta_theta = 0; // by theta (radians)
    bool ok = false;
};
Width tch_width(double theta, double u, double v, double w, double x, double y);

// The pseudo-Voigt of unit area, eta L + (1 - eta) G, both of FWHM fwhm,
// at dx = 2theta - position (degrees), and its derivatives.
struct PseudoVoigt {
    double value, d_dx, d_fwhm, d_eta;
};
PseudoVoigt pseudo_voigt(double dx, double fwhm, double eta);
// Its value alone (the same number as pseudo_voigt(...).value).
double pseudo_voigt_value(double dx, double fwhm, double eta);

// The same at many points of one line: what depends on the FWHM and eta
// alone, computed once (the same numbers as the functions above, to the
// last bit: a fit's path does not change with it).
struct PvShape {
    double fwhm = 1, eta = 0;
    double f2 = 1;           // fwhm^2
    double two_f = 2;        // 2 fwhm
    double f3 = 1;           // fwhm^3
    double g_over_f = 0;     // the Gaussian's 2 sqrt(ln2 / pi) / fwhm
    double minus_inv_f = -1; // -1 / fwhm
};
PvShape pv_shape(double fwhm, double eta);
// The two parts at dx, shared by the value and the derivatives: the
// Lorentzian 2 fwhm / (pi (fwhm^2 + 4 x^2)) and the Gaussian
// (2 sqrt(ln2 / pi) / fwhm) exp(-4 ln2 x^2 / fwhm^2), which beyond 10 FWHM
// is below 1e-120 of its peak and taken as 0.
struct PvParts {
    double x2, den, lor, gau;
};
inline PvParts pv_parts(double dx, const PvShape& c) {
    constexpr double pi = 3.14159265358979323846;
    constexpr double ln2 = 0.693147180559945309417;
    const double x2 = dx * dx;
    const double den = c.f2 + 4 * x2;
    const double arg = 4 * ln2 * x2 / c.f2;
    return {x2, den, c.two_f / (pi * den), arg < 277 ? c.g_over_f * std::exp(-arg) : 0};
}
inline PseudoVoigt pseudo_voigt(double dx, const PvShape& c) {
    constexpr double pi = 3.14159265358979323846;
    constexpr double ln2 = 0.693147180559945309417;
    const auto [x2, den, lor, gau] = pv_parts(dx, c);
    const double lor_dx = -lor * 8 * dx / den;
    const double lor_df = 2 / pi * (4 * x2 - c.f2) / (den * den);
    const double gau_dx = -gau * 8 * ln2 * dx / c.f2;
    const double gau_df = gau * (c.minus_inv_f + 8 * ln2 * x2 / c.f3);
    return {c.eta * lor + (1 - c.eta) * gau, c.eta * lor_dx + (1 - c.eta) * gau_dx,
            c.eta * lor_df + (1 - c.eta) * gau_df, lor - gau};
}
inline double pseudo_voigt_value(double dx, const PvShape& c) {
    const PvParts p = pv_parts(dx, c);
    return c.eta * p.lor + (1 - c.eta) * p.gau;
}

// The axial divergence of Finger, Cox & Jephcoat (1994) as a weighted sum of
// shifted copies of the symmetric line: profile(x) = sum_j weight_j *
// pv(x - shift_j), the weights summing to 1. The function is symmetric in
// S/L and H/L, so stationary where they are equal: its parameters are
// their mean and the square of their half difference (half2 >= 0; S/L =
// mean + sqrt(half2), H/L = mean - sqrt(half2); which of the two is which
// the profile cannot tell), in which it is smooth and not stationary. The
// integral over the divergence angle is taken by Gauss-Legendre quadrature
// in u, psi = 2theta - (2theta - psi_min) u^2, which removes the
// singularity at psi = 2theta. The derivatives by S/L and H/L are those of
// the nodes' shifts and weights (by differences: they are per line, not
// per point), and so are those by the line's 2theta.
constexpr std::size_t max_nodes = 40;
struct Asymmetry {
    std::size_t nodes = 1;
    std::array<double, max_nodes> shift{}, weight{};
    std::array<double, max_nodes> d_shift_m{}, d_weight_m{}, d_shift_d{}, d_weight_d{};
    std::array<double, max_nodes> d_shift_t{}, d_weight_t{}; // by the line's 2theta (degrees)
    double extent = 0; // degrees from the Bragg position to the far end
};
// n = 1: no asymmetry (one node, no shift).
Asymmetry fcj(double two_theta_deg, double mean, double half2, std::size_t n);
// How far the divergence of S/L = s, H/L = h reaches from the Bragg
// position (degrees).
double fcj_extent(double two_theta_deg, double s, double h);
// The number of nodes that integrates the divergence over a line of this
// FWHM: 1 where it reaches less than 5 % of the FWHM, else nodes about a
// quarter of the FWHM apart (4 to 20).
std::size_t fcj_nodes(double extent, double fwhm);

// The half-width (degrees) beyond which a pseudo-Voigt leaves out at most
// tail of its area on each side's Lorentzian and Gaussian parts together:
// max of fwhm / (2 tan(pi tail / (2 eta))) and the Gaussian's erfc bound.
double window_half_width(double fwhm, double eta, double tail);

} // namespace peakfit
