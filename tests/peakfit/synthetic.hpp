// Synthetic patterns from peakfit's own model, for the tests.
#pragma once

#include "peakfit/model.hpp"
#include "peakfit/phase.hpp"

#include "peakhkl/crystal.hpp"
#include "peakhkl/wavelengths.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace peakfit::test {

// A laboratory copper tube: Kalpha1 and Kalpha2 as peakhkl names them, and
// a background of this many terms.
inline Instrument copper(int background_terms) {
    Instrument in;
    in.alpha1 = *peakhkl::named_line("CuKa1");
    in.alpha2 = *peakhkl::named_line("CuKa2");
    in.background_terms = background_terms;
    return in;
}

inline peakhkl::Crystal crystal(const peakhkl::CellValues& cell, const std::string& sg) {
    return peakhkl::make_crystal(cell, peakhkl::symmetry_from_symbol(sg, cell, "--sg"), "--cell");
}

// Points from lo to hi by step, y = 0 (to be filled).
inline Data grid(double lo, double hi, double step) {
    Data d;
    for (double x = lo; x <= hi + 1e-9; x += step) {
        d.x.push_back(x);
        d.y.push_back(0);
        d.sigma.push_back(1);
    }
    d.start = {0, d.x.size()};
    d.range_of_segment = {0};
    d.x_lo = d.x.front();
    d.x_hi = d.x.back();
    return d;
}

// The model's own pattern at its values, with Poisson noise (seeded) or
// without (seed 0), as counts with sigma sqrt(max(y, 1)).
inline Data simulate(const Model& model, unsigned seed) {
    std::vector<double> yc, bg;
    model.calculate(model.values().data(), yc, bg);
    Data d = model.data();
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < d.size(); ++i) {
        double y = yc[i];
        if (seed != 0) y = static_cast<double>(std::poisson_distribution<long>(yc[i])(rng));
        d.y[i] = y;
        d.sigma[i] = std::sqrt(std::max(y, 1.0));
    }
    return d;
}

// How far the analytic derivative of the residuals of chunk c by parameter q
// lies from central differences with step h: {largest |numeric|, largest
// |numeric - analytic|}; evaluated false where the model refused a point.
struct ColumnCheck {
    bool evaluated = false;
    double scale = 0, worst = 0;
};
inline ColumnCheck check_column(const Model& m, const std::vector<double>& p, const Model::Chunk& c,
                                const std::vector<int>& column_of, std::size_t q, double h) {
    const std::size_t n = c.end - c.begin;
    std::vector<std::vector<double>> jac(p.size(), std::vector<double>(n));
    std::vector<double*> ptr;
    for (auto& col : jac) ptr.push_back(col.data());
    std::vector<double> r(n), up(n), down(n);
    std::vector<double> a = p, b = p;
    a[q] += h;
    b[q] -= h;
    if (!m.evaluate(p.data(), c, column_of, r.data(), ptr.data()) ||
        !m.evaluate(a.data(), c, column_of, up.data(), nullptr) ||
        !m.evaluate(b.data(), c, column_of, down.data(), nullptr))
        return {};
    ColumnCheck out;
    out.evaluated = true;
    for (std::size_t i = 0; i < n; ++i) {
        const double numeric = (up[i] - down[i]) / (2 * h);
        out.scale = std::max(out.scale, std::abs(numeric));
        out.worst = std::max(out.worst, std::abs(numeric - jac[q][i]));
    }
    return out;
}

} // namespace peakfit::test
