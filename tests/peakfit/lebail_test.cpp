// Le Bail's partition: from equal intensities, a noise-free pattern's own
// intensities come back, overlapped reflections included (their sum).
#include "synthetic.hpp"

#include "peakfit/lebail.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace peakfit {
namespace {

TEST(LeBail, PartitionRecoversTheIntensitiesOfANoiseFreePattern) {
    Instrument in = test::copper(2);
    Data d = test::grid(20, 80, 0.01);
    const auto c = test::crystal({5.70, 7.61, 5.43, 90, 90, 90}, "Pnma");
    Model truth(d, in, {make_phase("x", c, Mode::lebail, d, in)});
    std::vector<double> p = truth.values();
    p[truth.background] = 50;
    p[truth.asym_s] = 0.02;
    p[truth.asym_h] = 1e-5;
    p[truth.phases()[0].profile + 2] = 0.004;
    p[truth.phases()[0].profile + 3] = 0.03;
    truth.set_values(p);
    auto& want = truth.phases()[0].intensity;
    for (std::size_t k = 0; k < want.size(); ++k) want[k] = 20 + 15 * static_cast<double>(k % 4);
    truth.refresh(p);
    Model m(test::simulate(truth, 0), in, {make_phase("x", c, Mode::lebail, d, in)});
    m.set_values(p);
    m.refresh(p);
    seed(m, p, 300);
    const auto& got = m.phases()[0].intensity;
    ASSERT_EQ(got.size(), want.size());
    // Reflections closer than a tenth of the FWHM share their sum.
    std::size_t compared = 0;
    for (std::size_t k = 0; k < got.size(); ++k) {
        const double tt = m.line(p.data(), 0, static_cast<int>(k), 0).position;
        if (tt < 21 || tt > 79) continue;
        double sum_got = 0, sum_want = 0;
        bool alone = true;
        for (std::size_t j = 0; j < got.size(); ++j)
            if (std::abs(m.line(p.data(), 0, static_cast<int>(j), 0).position - tt) < 0.01) {
                sum_got += got[j];
                sum_want += want[j];
                alone = alone && j == k;
            }
        EXPECT_NEAR(sum_got, sum_want, 2e-3 * sum_want) << k << (alone ? "" : " (overlapped)");
        ++compared;
    }
    EXPECT_GT(compared, 40u);
}

} // namespace
} // namespace peakfit
