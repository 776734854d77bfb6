// The metric constraint: one row per Laue class (and setting), the number
// of free parameters and the d-spacings of peakhkl's reflection list from
// the constrained metric, also after a step within the subspace.
#include "synthetic.hpp"

#include "peakfit/metric.hpp"

#include "peakhkl/reflections.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace peakfit {
namespace {

struct Row {
    const char* laue;
    peakhkl::CellValues cell;
    const char* sg;
    int free;
};

const Row rows[] = {
    {"-1", {5.1, 6.2, 7.3, 95, 102, 88}, "P-1", 6},
    {"2/m b", {7.1, 5.2, 9.3, 90, 103.5, 90}, "P 1 21/c 1", 4},
    {"2/m c", {7.1, 9.3, 5.2, 90, 90, 103.5}, "P 1 1 21/b", 4},
    {"2/m a", {9.3, 7.1, 5.2, 103.5, 90, 90}, "B 2/b 1 1", 4},
    {"mmm", {5.7, 7.6, 5.4, 90, 90, 90}, "Pnma", 3},
    {"4/m", {12.6, 12.6, 5.9, 90, 90, 90}, "I41/a", 2},
    {"4/mmm", {3.785, 3.785, 9.514, 90, 90, 90}, "I41/amd", 2},
    {"-3 hexagonal axes", {13.7, 13.7, 8.9, 90, 90, 120}, "R-3:H", 2},
    {"-3 rhombohedral axes", {6.1, 6.1, 6.1, 82, 82, 82}, "R-3:R", 2},
    {"-3m1", {4.91, 4.91, 5.40, 90, 90, 120}, "P-3m1", 2},
    {"-31m", {5.2, 5.2, 4.9, 90, 90, 120}, "P-31m", 2},
    {"-3m rhombohedral", {5.13, 5.13, 5.13, 55.3, 55.3, 55.3}, "R-3c:R", 2},
    {"6/m", {9.4, 9.4, 6.9, 90, 90, 120}, "P63/m", 2},
    {"6/mmm", {3.2498, 3.2498, 5.2066, 90, 90, 120}, "P63/mmc", 2},
    {"m-3", {7.4, 7.4, 7.4, 90, 90, 90}, "Pa-3", 1},
    {"m-3m", {5.4311, 5.4311, 5.4311, 90, 90, 90}, "Fd-3m", 1},
};

TEST(Metric, ConstraintKeepsTheCrystalSystem) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.laue);
        const peakhkl::Crystal c = test::crystal(row.cell, row.sg);
        const Constraint k = constraint_of(c.symmetry.ops);
        ASSERT_EQ(k.free(), row.free);
        std::vector<double> p = k.parameters(metric_of_cell(row.cell));
        const auto list = peakhkl::reflection_list(c, 1.0, false, 100000);
        ASSERT_TRUE(list);
        // The projection keeps the metric: peakhkl's d-spacings.
        for (const auto& r : *list)
            ASSERT_NEAR(1 / std::sqrt(inverse_d2(k.metric(p.data()), r.hkl)), r.d, 1e-9 * r.d);
        // A step within the subspace keeps equivalent reflections together:
        // the members of each set share their d (the rotations' images of
        // the representative).
        for (std::size_t i = 0; i < p.size(); ++i) p[i] *= 1 + 0.01 * static_cast<double>(i + 1);
        const Metric a = k.metric(p.data());
        ASSERT_TRUE(positive_definite(a));
        for (const auto& r : *list) {
            const double s = inverse_d2(a, r.hkl);
            for (const gemmi::Op& op : c.symmetry.ops.sym_ops) {
                const auto h = op.apply_to_hkl(gemmi::Op::Miller{r.hkl[0], r.hkl[1], r.hkl[2]});
                ASSERT_NEAR(inverse_d2(a, {h[0], h[1], h[2]}), s, 1e-12);
            }
        }
        // The cell of the metric: back to the cell.
        const auto back = cell_of_metric(metric_of_cell(row.cell));
        for (int j = 0; j < 6; ++j) EXPECT_NEAR(back[j], row.cell[j], 1e-9);
        // Standard uncertainties: none for an angle the system fixes (the
        // summary prints it plain, the json's esd is null), some for the rest.
        const std::vector<double> q = k.parameters(metric_of_cell(row.cell));
        const Eigen::MatrixXd cov = 1e-12 * Eigen::MatrixXd::Identity(k.free(), k.free());
        const CellWithEsd e = cell_with_esd(k, q, cov);
        for (int j = 0; j < 6; ++j) {
            const bool fixed = j >= 3 && (row.cell[j] == 90 || row.cell[j] == 120);
            if (fixed)
                EXPECT_EQ(e.esd[j], 0) << j;
            else
                EXPECT_GT(e.esd[j], 1e-9) << j;
        }
    }
}

TEST(Metric, NotPositiveDefiniteIsRefused) {
    EXPECT_TRUE(positive_definite(metric_of_cell({5, 6, 7, 90, 100, 90})));
    EXPECT_FALSE(positive_definite({0.04, 0.03, -0.01, 0, 0, 0}));
    EXPECT_FALSE(positive_definite({0.04, 0.04, 0.04, 0.09, 0, 0})); // |2 G12| > 2 sqrt(G11 G22)
}

} // namespace
} // namespace peakfit
