#include "peakfit/geometry.hpp"

#include <cmath>
#include <numbers>

namespace peakfit {

namespace {
constexpr double deg = std::numbers::pi / 180;
}

LinePosition line_position(double s, double wave, double zero, double disp, double radius) {
    LinePosition p;
    if (!(s > 0)) return p;
    const double root = std::sqrt(s);
    const double sin_t = wave * root / 2;
    if (!(sin_t < 1)) return p;
    const double theta = std::asin(sin_t);
    const double cos_t = std::cos(theta);
    const double dtheta_ds = wave / (4 * root * cos_t);
    p.theta = theta;
    p.tt = 2 * theta / deg + zero - 2 * disp / radius * cos_t / deg;
    p.d_s = (2 + 2 * disp / radius * sin_t) * dtheta_ds / deg;
    p.d_theta_s = dtheta_ds;
    p.d_disp = -2 / radius * cos_t / deg;
    p.ok = std::isfinite(p.tt);
    return p;
}

double lp_at(double s, double wave, const peakhkl::Beam& beam) {
    const double tt = 2 * std::asin(wave * std::sqrt(s) / 2) / deg;
    return peakhkl::lorentz_polarization(tt, beam);
}

LpRatio lp_ratio(double s, double wave1, double wave2, const peakhkl::Beam& beam) {
    const auto ratio = [&](double x) { return lp_at(x, wave2, beam) / lp_at(x, wave1, beam); };
    LpRatio r;
    r.value = ratio(s);
    const double h = 1e-6 * s;
    if (wave2 * std::sqrt(s + h) / 2 < 1) r.d_s = (ratio(s + h) - ratio(s - h)) / (2 * h);
    return r;
}

} // namespace peakfit
