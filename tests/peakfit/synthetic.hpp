// Synthetic patterns from peakfit's own model, for the tests.
#pragma once

#include "peakfit/model.hpp"
#include "peakfit/phase.hpp"

#include "peakhkl/crystal.hpp"

#include <random>
#include <string>
#include <vector>

namespace peakfit::test {

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

} // namespace peakfit::test
