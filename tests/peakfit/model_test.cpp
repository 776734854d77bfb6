// The profile and the model's analytic Jacobian against central
// differences, and the profile's area.
#include "synthetic.hpp"

#include "peakfit/profile.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace peakfit {
namespace {

using test::crystal;
using test::grid;

// Two phases (a cubic one by Le Bail, a monoclinic one by Pawley), both
// lines, the axial divergence, a displacement and a zero, the 1/2theta
// background: every kind of column.
Model rich_model() {
    Instrument in = test::copper(4);
    in.inverse_term = true;
    in.beam.monochromator = 26.6;
    Data d = grid(20, 60, 0.01);
    std::vector<Phase> phases;
    phases.push_back(make_phase("si", crystal({5.4311, 5.4311, 5.4311, 90, 90, 90}, "Fd-3m"),
                                Mode::lebail, d, in));
    phases.push_back(
        make_phase("mono", crystal({7.1, 5.2, 9.3, 90, 103.5, 90}, "P21/c"), Mode::pawley, d, in));
    Model m(d, in, phases);
    std::vector<double> p = m.values();
    p[m.background] = 100;
    p[m.background + 1] = -20;
    p[m.inverse] = 30;
    p[m.zero] = 0.013;
    p[m.displacement] = 0.05;
    p[m.ratio] = 0.48;
    p[m.asym_s] = 0.025;
    p[m.asym_h] = 2.5e-5;
    for (const Phase& ph : m.phases()) {
        p[ph.profile + 0] = 0.004;
        p[ph.profile + 1] = -0.002;
        p[ph.profile + 2] = 0.003;
        p[ph.profile + 3] = 0.02;
        p[ph.profile + 4] = 0.01;
    }
    for (Phase& ph : m.phases())
        for (std::size_t k = 0; k < ph.reflections.size(); ++k) {
            const double i = 50 + 10 * static_cast<double>(k % 7);
            ph.intensity[k] = i;
            if (ph.mode == Mode::pawley) p[ph.intensity0 + static_cast<int>(k)] = i;
        }
    m.set_values(p);
    m.refresh(p);
    return m;
}

TEST(Model, JacobianMatchesCentralDifferences) {
    const Model m = rich_model();
    const std::vector<double> p = m.values();
    const std::size_t np = p.size();
    std::vector<int> column_of(np);
    for (std::size_t q = 0; q < np; ++q) column_of[q] = static_cast<int>(q);
    // The chunk that looks at the most lines.
    std::size_t busiest = 0;
    for (std::size_t k = 0; k < m.chunks().size(); ++k)
        if (m.chunks()[k].lines.size() > m.chunks()[busiest].lines.size()) busiest = k;
    const Model::Chunk& c = m.chunks()[busiest];
    int checked = 0;
    for (std::size_t q = 0; q < np; ++q) {
        const double h = 1e-6 * std::max(std::abs(p[q]), 1e-2);
        const auto [evaluated, scale, worst] =
            peakfit::test::check_column(m, p, c, column_of, q, h);
        ASSERT_TRUE(evaluated) << m.parameters()[q].name;
        if (scale == 0) continue; // a Pawley intensity of a line elsewhere
        ++checked;
        EXPECT_LT(worst, 1e-4 * scale) << m.parameters()[q].name;
    }
    EXPECT_GT(checked, 25);
}

// The pseudo-Voigt has unit area, and its parts by FWHM and eta match
// central differences.
TEST(Profile, PseudoVoigtAreaAndDerivatives) {
    for (const double eta : {0.0, 0.4, 1.0}) {
        double area = 0;
        const double f = 0.1;
        for (double x = -200; x <= 200; x += 0.001) area += pseudo_voigt(x, f, eta).value * 0.001;
        EXPECT_NEAR(area, 1, 2e-3) << eta;
        const double x = 0.037, h = 1e-7;
        const PseudoVoigt v = pseudo_voigt(x, f, eta);
        EXPECT_NEAR(v.d_dx,
                    (pseudo_voigt(x + h, f, eta).value - pseudo_voigt(x - h, f, eta).value) /
                        (2 * h),
                    1e-5 * std::abs(v.d_dx) + 1e-6);
        EXPECT_NEAR(v.d_fwhm,
                    (pseudo_voigt(x, f + h, eta).value - pseudo_voigt(x, f - h, eta).value) /
                        (2 * h),
                    1e-5 * std::abs(v.d_fwhm) + 1e-6);
    }
}

// TCH's widths: a pure Gaussian and a pure Lorentzian keep their FWHM and
// give eta 0 and 1; the parts by U..Y match central differences.
TEST(Profile, TchWidths) {
    const Width g = tch_width(0.3, 0, 0, 0.01, 0, 0);
    EXPECT_NEAR(g.fwhm, 0.1, 1e-12);
    EXPECT_NEAR(g.eta, 0, 1e-12);
    const Width l = tch_width(0.3, 0, 0, 1e-20, 0.1, 0);
    EXPECT_NEAR(l.fwhm, 0.1 / std::cos(0.3), 1e-6);
    EXPECT_NEAR(l.eta, 1, 2e-5);
    EXPECT_FALSE(tch_width(0.3, 0, -1, 0.01, 0, 0).ok); // FWHM^2 below 0
    const std::array<double, 5> p{0.004, -0.002, 0.003, 0.02, 0.01};
    const Width w = tch_width(0.4, p[0], p[1], p[2], p[3], p[4]);
    for (int k = 0; k < 5; ++k) {
        auto a = p, b = p;
        a[k] += 1e-7;
        b[k] -= 1e-7;
        const Width wa = tch_width(0.4, a[0], a[1], a[2], a[3], a[4]);
        const Width wb = tch_width(0.4, b[0], b[1], b[2], b[3], b[4]);
        EXPECT_NEAR(w.d_fwhm[k], (wa.fwhm - wb.fwhm) / 2e-7, 1e-5) << k;
        EXPECT_NEAR(w.d_eta[k], (wa.eta - wb.eta) / 2e-7, 1e-5) << k;
    }
}

// The axial divergence moves a low-angle line's centroid to lower angles
// and a back-reflection line's to higher ones, keeps its area, and is
// absent at 90 degrees.
TEST(Profile, AxialDivergenceShiftsTheCentroid) {
    struct Row {
        double tt;
        int sign;
    };
    for (const Row row : {Row{15, -1}, Row{40, -1}, Row{150, +1}}) {
        const Asymmetry a = fcj(row.tt, 0.025, 2.5e-5, 20);
        double sum = 0, centroid = 0;
        for (std::size_t j = 0; j < a.nodes; ++j) {
            sum += a.weight[j];
            centroid += a.weight[j] * a.shift[j];
        }
        EXPECT_NEAR(sum, 1, 1e-12);
        EXPECT_EQ(centroid > 0 ? 1 : -1, row.sign) << row.tt;
        EXPECT_GT(std::abs(centroid), 1e-4) << row.tt;
    }
    EXPECT_LT(fcj_extent(89.9, 0.03, 0.02), 1e-3);
    EXPECT_EQ(fcj_nodes(1e-4, 0.1), 1u);
}

// The divergence's profile against the Finger-Cox-Jephcoat (1994) integral
// taken directly: the pseudo-Voigt weighted by W(psi) / (h(psi) cos psi)
// over psi_min < psi < 2theta, h(psi) = sqrt(cos^2 psi / cos^2 2theta - 1),
// W = H/L + S/L - h below psi_infl and 2 min(H/L, S/L) above it, here by a
// fine midpoint rule in v = sqrt(2theta - psi) (mirrored above 90
// degrees). The model with the node count it picks agrees to 3e-4 of the
// peak; a wrong W (max for min) is off by 0.5-10 %, a wrong side of the
// line by 3-40 %, as is a line placed anywhere but at the sharp edge.
// Rows: 11-BM-like lines (0.01 degree wide, S/L 0.002, H/L 0.001) at 5.7,
// 10 and 20 degrees, laboratory-like ones at 10 and 160 degrees.
TEST(Profile, AxialDivergenceIsTheIntegralOfFingerCoxJephcoat) {
    struct Row {
        double tt, s, h, fwhm, eta;
    };
    const double deg = std::numbers::pi / 180;
    for (const Row r : {Row{5.7, 0.002, 0.001, 0.01, 0.5}, Row{10, 0.002, 0.001, 0.01, 0.5},
                        Row{20, 0.002, 0.001, 0.01, 0.5}, Row{10, 0.02, 0.01, 0.06, 0.3},
                        Row{160, 0.02, 0.01, 0.1, 0.3}}) {
        const bool high = r.tt > 90;
        const double tt = (high ? 180 - r.tt : r.tt) * deg, c = std::cos(tt);
        const double psi_min = std::acos(c * std::sqrt((r.h + r.s) * (r.h + r.s) + 1));
        const double psi_infl = std::acos(c * std::sqrt((r.h - r.s) * (r.h - r.s) + 1));
        const int n = 40000;
        const double vmax = std::sqrt(tt - psi_min);
        std::vector<double> shift(n), weight(n);
        double total = 0;
        for (int i = 0; i < n; ++i) {
            const double v = (i + 0.5) / n * vmax, psi = tt - v * v;
            // cos^2 psi - cos^2 2theta as a product, exact to rounding near 2theta.
            const double hp = std::sqrt(std::sin(v * v) * std::sin(tt + psi)) / c;
            const double w = psi < psi_infl ? r.h + r.s - hp : 2 * std::min(r.h, r.s);
            // d psi = 2 v dv.
            weight[static_cast<std::size_t>(i)] = std::max(w, 0.0) / (hp * std::cos(psi)) * 2 * v;
            shift[static_cast<std::size_t>(i)] = (high ? v * v : -v * v) / deg;
            total += weight[static_cast<std::size_t>(i)];
        }
        const double mean = (r.s + r.h) / 2, half2 = (r.s - r.h) * (r.s - r.h) / 4;
        const Asymmetry a = fcj(r.tt, mean, half2, fcj_nodes(fcj_extent(r.tt, r.s, r.h), r.fwhm));
        const double peak = pseudo_voigt_value(0, r.fwhm, r.eta);
        double worst = 0;
        for (double x = -3 * r.fwhm; x <= 3 * r.fwhm; x += r.fwhm / 20) {
            double direct = 0, model = 0;
            for (int i = 0; i < n; ++i)
                direct += weight[static_cast<std::size_t>(i)] *
                          pseudo_voigt_value(x - shift[static_cast<std::size_t>(i)], r.fwhm, r.eta);
            direct /= total;
            for (std::size_t j = 0; j < a.nodes; ++j)
                model += a.weight[j] * pseudo_voigt_value(x - a.shift[j], r.fwhm, r.eta);
            const double error = std::abs(model - direct) / peak;
            if (!(error <= worst)) worst = error; // NaN too
        }
        EXPECT_LT(worst, 2e-3) << r.tt << " " << r.s << " " << r.h << " " << r.fwhm;
    }
}

// The window leaves out the tail it is asked to.
TEST(Profile, WindowLeavesOutTheTailAskedFor) {
    for (const double eta : {0.0, 0.3, 1.0}) {
        const double f = 0.08, tail = 2e-3;
        const double a = window_half_width(f, eta, tail);
        double inside = 0;
        const double step = a / 200000;
        for (double x = -a; x <= a; x += step) inside += pseudo_voigt(x, f, eta).value * step;
        EXPECT_LT(1 - inside, 2.2 * tail) << eta;
        EXPECT_GT(1 - inside, 0.3 * tail) << eta;
    }
}

} // namespace
} // namespace peakfit
