#include "peakfit/profile.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace peakfit {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double deg = pi / 180;
const double ln2 = std::log(2.0);

// Gauss-Legendre nodes and weights on [0, 1] for n points.
struct Rule {
    std::vector<double> x, w;
};
const Rule& legendre(std::size_t n) {
    static const std::vector<Rule> rules = [] {
        std::vector<Rule> all(max_nodes + 1);
        for (std::size_t m = 1; m <= max_nodes; ++m) {
            Rule r;
            for (std::size_t i = 1; i <= m; ++i) {
                double z =
                    std::cos(pi * (static_cast<double>(i) - 0.25) / (static_cast<double>(m) + 0.5));
                double dp = 0;
                for (int it = 0; it < 100; ++it) {
                    double p1 = 1, p2 = 0;
                    for (std::size_t j = 1; j <= m; ++j) {
                        const double p3 = p2;
                        p2 = p1;
                        const double jj = static_cast<double>(j);
                        p1 = ((2 * jj - 1) * z * p2 - (jj - 1) * p3) / jj;
                    }
                    dp = static_cast<double>(m) * (z * p1 - p2) / (z * z - 1);
                    const double dz = p1 / dp;
                    z -= dz;
                    if (std::abs(dz) < 1e-15) break;
                }
                r.x.push_back((1 - z) / 2);
                r.w.push_back(1 / ((1 - z * z) * dp * dp));
            }
            all[m] = r;
        }
        return all;
    }();
    return rules[n];
}

// Shifts (degrees) and normalized weights of the divergence at 2theta below
// 90 degrees (tt in radians); false where it has no extent.
bool fcj_low(double tt, double s, double h, std::size_t n, double* shift, double* weight) {
    const double c = std::cos(tt);
    const double cmin = c * std::sqrt((h + s) * (h + s) + 1);
    if (!(cmin < 1) || n < 2) return false;
    const double psi_min = std::acos(cmin);
    const double cinfl = c * std::sqrt((h - s) * (h - s) + 1);
    const double psi_infl = cinfl < 1 ? std::acos(cinfl) : 0;
    const double span = tt - psi_min;
    if (!(span > 0)) return false;
    const Rule& rule = legendre(n);
    double total = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const double u = rule.x[j];
        const double psi = tt - span * u * u;
        const double cp = std::cos(psi);
        const double hp = std::sqrt(std::max(cp * cp / (c * c) - 1, 1e-300));
        const double wp = psi < psi_infl ? h + s - hp : 2 * std::min(h, s);
        const double f = std::max(wp, 0.0) / (hp * cp) * 2 * span * u * rule.w[j];
        shift[j] = (psi - tt) / deg;
        weight[j] = f;
        total += f;
    }
    if (!(total > 0)) return false;
    for (std::size_t j = 0; j < n; ++j) weight[j] /= total;
    return true;
}

// fcj_low, mirrored above 90 degrees.
void fcj_nodes_at(double two_theta_deg, double s, double h, std::size_t n, double* shift,
                  double* weight) {
    const bool high = two_theta_deg > 90;
    const double tt = (high ? 180 - two_theta_deg : two_theta_deg) * deg;
    if (!fcj_low(tt, s, h, n, shift, weight)) {
        for (std::size_t j = 0; j < n; ++j) {
            shift[j] = 0;
            weight[j] = 1.0 / static_cast<double>(n);
        }
        return;
    }
    if (high)
        for (std::size_t j = 0; j < n; ++j) shift[j] = -shift[j];
}

} // namespace

Width tch_width(double theta, double u, double v, double w, double x, double y) {
    Width r;
    const double t = std::tan(theta), c = std::cos(theta);
    const double g2 = u * t * t + v * t + w;
    const double lw = x / c + y * t;
    if (!(g2 > 0) || !std::isfinite(g2) || !(lw >= 0) || !std::isfinite(lw)) return r;
    const double g = std::sqrt(g2);
    const double l = lw;
    const double g5 = g2 * g2 * g, l2 = l * l;
    const double sum = g5 + 2.69269 * g2 * g2 * l + 2.42843 * g2 * g * l2 + 4.47163 * g2 * l2 * l +
                       0.07842 * g * l2 * l2 + l2 * l2 * l;
    const double fwhm = std::pow(sum, 0.2);
    const double ds_dg = 5 * g2 * g2 + 4 * 2.69269 * g2 * g * l + 3 * 2.42843 * g2 * l2 +
                         2 * 4.47163 * g * l2 * l + 0.07842 * l2 * l2;
    const double ds_dl = 2.69269 * g2 * g2 + 2 * 2.42843 * g2 * g * l + 3 * 4.47163 * g2 * l2 +
                         4 * 0.07842 * g * l2 * l + 5 * l2 * l2;
    const double df_ds = fwhm / (5 * sum);
    const double df_dg = df_ds * ds_dg, df_dl = df_ds * ds_dl;
    const double q = l / fwhm;
    const double eta = 1.36603 * q - 0.47719 * q * q + 0.11116 * q * q * q;
    const double de_dq = 1.36603 - 2 * 0.47719 * q + 3 * 0.11116 * q * q;
    const double dq_dg = -l / (fwhm * fwhm) * df_dg;
    const double dq_dl = 1 / fwhm - l / (fwhm * fwhm) * df_dl;
    // d g / d(U, V, W) = (t^2, t, 1) / (2 g); d l / d(X, Y) = (1/c, t).
    const std::array<double, 5> dg{t * t / (2 * g), t / (2 * g), 1 / (2 * g), 0, 0};
    const std::array<double, 5> dl{0, 0, 0, 1 / c, t};
    const double sec2 = 1 / (c * c);
    const double dg_dt = (2 * u * t + v) * sec2 / (2 * g);
    const double dl_dt = x * std::sin(theta) * sec2 + y * sec2;
    r.d_fwhm_theta = df_dg * dg_dt + df_dl * dl_dt;
    r.d_eta_theta = de_dq * (dq_dg * dg_dt + dq_dl * dl_dt);
    for (int k = 0; k < 5; ++k) {
        r.d_fwhm[k] = df_dg * dg[k] + df_dl * dl[k];
        r.d_eta[k] = de_dq * (dq_dg * dg[k] + dq_dl * dl[k]);
    }
    r.fwhm = fwhm;
    r.eta = eta;
    r.ok = std::isfinite(fwhm) && fwhm > 0;
    return r;
}

PseudoVoigt pseudo_voigt(double dx, double fwhm, double eta) {
    const double f2 = fwhm * fwhm, x2 = dx * dx;
    // Lorentzian 2 fwhm / (pi (fwhm^2 + 4 x^2)).
    const double den = f2 + 4 * x2;
    const double lor = 2 * fwhm / (pi * den);
    const double lor_dx = -lor * 8 * dx / den;
    const double lor_df = 2 / pi * (4 * x2 - f2) / (den * den);
    // Gaussian (2 sqrt(ln2 / pi) / fwhm) exp(-4 ln2 x^2 / fwhm^2).
    static const double gnorm = 2 * std::sqrt(std::log(2.0) / pi);
    const double gau = gnorm / fwhm * std::exp(-4 * ln2 * x2 / f2);
    const double gau_dx = -gau * 8 * ln2 * dx / f2;
    const double gau_df = gau * (-1 / fwhm + 8 * ln2 * x2 / (f2 * fwhm));
    return {eta * lor + (1 - eta) * gau, eta * lor_dx + (1 - eta) * gau_dx,
            eta * lor_df + (1 - eta) * gau_df, lor - gau};
}

double fcj_extent(double two_theta_deg, double s, double h) {
    const double tt = (two_theta_deg > 90 ? 180 - two_theta_deg : two_theta_deg) * deg;
    const double cmin = std::cos(tt) * std::sqrt((h + s) * (h + s) + 1);
    if (!(cmin < 1)) return tt / deg;
    return (tt - std::acos(cmin)) / deg;
}

std::size_t fcj_nodes(double extent, double fwhm) {
    if (!(extent > 0.05 * fwhm)) return 1;
    const double n = std::ceil(6 * extent / fwhm) + 4;
    return static_cast<std::size_t>(std::clamp(n, 5.0, static_cast<double>(max_nodes)));
}

Asymmetry fcj(double two_theta_deg, double s, double h, std::size_t n) {
    Asymmetry a;
    a.nodes = std::clamp<std::size_t>(n, 1, max_nodes);
    a.extent = fcj_extent(two_theta_deg, s, h);
    if (a.nodes == 1) {
        a.weight[0] = 1;
        return a;
    }
    fcj_nodes_at(two_theta_deg, s, h, a.nodes, a.shift.data(), a.weight.data());
    std::array<double, max_nodes> su{}, wu{}, sd{}, wd{};
    const double es = 1e-6 * std::max(s, 1e-3), eh = 1e-6 * std::max(h, 1e-3);
    fcj_nodes_at(two_theta_deg, s + es, h, a.nodes, su.data(), wu.data());
    fcj_nodes_at(two_theta_deg, std::max(s - es, 0.0), h, a.nodes, sd.data(), wd.data());
    const double ds = s + es - std::max(s - es, 0.0);
    for (std::size_t j = 0; j < a.nodes; ++j) {
        a.d_shift_s[j] = (su[j] - sd[j]) / ds;
        a.d_weight_s[j] = (wu[j] - wd[j]) / ds;
    }
    fcj_nodes_at(two_theta_deg, s, h + eh, a.nodes, su.data(), wu.data());
    fcj_nodes_at(two_theta_deg, s, std::max(h - eh, 0.0), a.nodes, sd.data(), wd.data());
    const double dh = h + eh - std::max(h - eh, 0.0);
    for (std::size_t j = 0; j < a.nodes; ++j) {
        a.d_shift_h[j] = (su[j] - sd[j]) / dh;
        a.d_weight_h[j] = (wu[j] - wd[j]) / dh;
    }
    const double et = 1e-5;
    fcj_nodes_at(two_theta_deg + et, s, h, a.nodes, su.data(), wu.data());
    fcj_nodes_at(two_theta_deg - et, s, h, a.nodes, sd.data(), wd.data());
    for (std::size_t j = 0; j < a.nodes; ++j) {
        a.d_shift_t[j] = (su[j] - sd[j]) / (2 * et);
        a.d_weight_t[j] = (wu[j] - wd[j]) / (2 * et);
    }
    return a;
}

double window_half_width(double fwhm, double eta, double tail) {
    // Gaussian: the fraction outside +-a is erfc(2 sqrt(ln2) a / fwhm).
    double lo = 0, hi = 10;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (std::erfc(mid) > tail ? lo : hi) = mid;
    }
    const double a_gauss = hi * fwhm / (2 * std::sqrt(ln2));
    // Lorentzian: outside +-a lies (2/pi) atan(fwhm / 2a) of its area.
    double a_lor = 0;
    if (eta > tail) a_lor = fwhm / (2 * std::tan(pi * tail / (2 * eta)));
    return std::max(a_gauss, a_lor);
}

} // namespace peakfit
