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
// 90 degrees (tt in radians); false where it has no extent. The density in
// psi is W(psi) / (h(psi) cos psi), h(psi) = sqrt(cos^2 psi / cos^2 2theta - 1),
// W = 2 min(H, S) / L from psi_infl to 2theta and H/L + S/L - h below it. The
// integral is taken in u, psi = 2theta - span u^2 (no singularity at 2theta),
// in two Gauss-Legendre pieces that meet at the kink psi_infl, half the
// nodes each.
bool fcj_low(double tt, double s, double h, std::size_t n, double* shift, double* weight) {
    const double c = std::cos(tt);
    const double cmin = c * std::sqrt((h + s) * (h + s) + 1);
    if (!(cmin < 1) || n < 2) return false;
    const double psi_min = std::acos(cmin);
    const double cinfl = c * std::sqrt((h - s) * (h - s) + 1);
    const double psi_infl = std::max(cinfl < 1 ? std::acos(cinfl) : 0.0, psi_min);
    const double span = tt - psi_min;
    if (!(span > 0)) return false;
    const double u_infl = std::sqrt(std::clamp((tt - psi_infl) / span, 0.0, 1.0));
    const std::size_t n1 = n / 2, n2 = n - n1;
    double total = 0;
    std::size_t j = 0;
    const auto piece = [&](double u0, double u1, std::size_t m) -> bool {
        const Rule& rule = legendre(m);
        for (std::size_t i = 0; i < m; ++i, ++j) {
            const double u = u0 + (u1 - u0) * rule.x[i];
            const double g = span * u * u; // 2theta - psi
            const double psi = tt - g;
            const double cp = std::cos(psi);
            // h(psi) = sqrt(sin(g) sin(2 2theta - g)) / cos 2theta, written
            // as u times a factor that stays finite as u goes to 0.
            const double sg = u > 0 ? std::sin(g) / (u * u) : span;
            const double root = std::sqrt(std::max(sg * std::sin(2 * tt - g), 0.0)) / c;
            const double hp = u * root;
            const double wp = psi < psi_infl ? h + s - hp : 2 * std::min(h, s);
            if (!(root > 0)) return false;
            const double f = std::max(wp, 0.0) / (root * cp) * 2 * span * rule.w[i] * (u1 - u0);
            shift[j] = (psi - tt) / deg;
            weight[j] = f;
            total += f;
        }
        return true;
    };
    if (!piece(0, u_infl, n1) || !piece(u_infl, 1, n2) || !(total > 0)) return false;
    for (std::size_t i = 0; i < n; ++i) weight[i] /= total;
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

PvShape pv_shape(double fwhm, double eta) {
    static const double gnorm = 2 * std::sqrt(std::log(2.0) / pi);
    PvShape c;
    c.fwhm = fwhm;
    c.eta = eta;
    c.f2 = fwhm * fwhm;
    c.two_f = 2 * fwhm;
    c.f3 = c.f2 * fwhm;
    c.g_over_f = gnorm / fwhm;
    c.minus_inv_f = -1 / fwhm;
    return c;
}

PseudoVoigt pseudo_voigt(double dx, double fwhm, double eta) {
    return pseudo_voigt(dx, pv_shape(fwhm, eta));
}

double pseudo_voigt_value(double dx, double fwhm, double eta) {
    return pseudo_voigt_value(dx, pv_shape(fwhm, eta));
}

double fcj_extent(double two_theta_deg, double s, double h) {
    h = std::max(h, 0.0);
    const double tt = (two_theta_deg > 90 ? 180 - two_theta_deg : two_theta_deg) * deg;
    const double cmin = std::cos(tt) * std::sqrt((h + s) * (h + s) + 1);
    if (!(cmin < 1)) return tt / deg;
    return (tt - std::acos(cmin)) / deg;
}

std::size_t fcj_nodes(double extent, double fwhm) {
    if (!(extent > 0.05 * fwhm)) return 1;
    // Nodes a quarter of a FWHM apart over the divergence's reach: at half a
    // FWHM apart the profile moves by a percent of chi^2 when a node is added,
    // enough to keep a fit from settling.
    const double n = std::ceil(4 * extent / fwhm) + 4;
    return static_cast<std::size_t>(std::clamp(n, 4.0, 20.0));
}

Asymmetry fcj(double two_theta_deg, double mean, double half2, std::size_t n) {
    Asymmetry a;
    a.nodes = std::clamp<std::size_t>(n, 1, max_nodes);
    const double half = half2;
    const auto sh = [](double m, double q) {
        const double d = std::sqrt(std::max(q, 0.0));
        return std::array<double, 2>{m + d, std::max(m - d, 0.0)};
    };
    const auto at = [&](double tt, double m, double d, double* shift, double* weight) {
        const auto [s, h] = sh(m, d);
        fcj_nodes_at(tt, s, h, a.nodes, shift, weight);
    };
    {
        const auto [s, h] = sh(mean, half);
        a.extent = fcj_extent(two_theta_deg, s, h);
    }
    if (a.nodes == 1) {
        a.weight[0] = 1;
        return a;
    }
    at(two_theta_deg, mean, half, a.shift.data(), a.weight.data());
    std::array<double, max_nodes> su{}, wu{}, sd{}, wd{};
    // By the mean: central differences.
    const double em = 1e-6 * std::max(mean, 1e-3);
    at(two_theta_deg, mean + em, half, su.data(), wu.data());
    at(two_theta_deg, std::max(mean - em, 0.0), half, sd.data(), wd.data());
    const double dm = mean + em - std::max(mean - em, 0.0);
    for (std::size_t j = 0; j < a.nodes; ++j) {
        a.d_shift_m[j] = (su[j] - sd[j]) / dm;
        a.d_weight_m[j] = (wu[j] - wd[j]) / dm;
    }
    // By the squared half difference, on its side of 0.
    const double ed = 1e-6 * std::max(mean * mean, 1e-8);
    const double d0 = std::max(half - ed, 0.0), d1 = half + ed;
    at(two_theta_deg, mean, d1, su.data(), wu.data());
    at(two_theta_deg, mean, d0, sd.data(), wd.data());
    for (std::size_t j = 0; j < a.nodes; ++j) {
        a.d_shift_d[j] = (su[j] - sd[j]) / (d1 - d0);
        a.d_weight_d[j] = (wu[j] - wd[j]) / (d1 - d0);
    }
    const double et = 1e-5;
    at(two_theta_deg + et, mean, half, su.data(), wu.data());
    at(two_theta_deg - et, mean, half, sd.data(), wd.data());
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
