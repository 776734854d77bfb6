#include "positions.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

namespace peakpos {

const float Pi = std::bit_cast<float>(std::uint32_t{0x40490FDA});

void positions(Run& run) {
    const Array1<float, 6>& prcp = run.prcp;
    // A cross term is skipped only when its coefficient is exactly zero
    // (either sign); a NaN coefficient keeps it.
    run.flag4 = prcp(4) != 0.0f;
    run.flag5 = prcp(5) != 0.0f;
    run.flag6 = prcp(6) != 0.0f;

    for (int i = 1; i <= run.npeak; ++i) {
        // Index products in 64 bits: exact wherever the 32-bit products fit,
        // and no overflow for any pair of 32-bit indices.
        const std::int64_t h = run.h(i), k = run.k(i), l = run.l(i);
        const double hk = static_cast<double>(h * k);
        const double hl = static_cast<double>(h * l);
        const double kl = static_cast<double>(k * l);
        const double hh = static_cast<double>(h * h);
        const double kk = static_cast<double>(k * k);
        const double ll = static_cast<double>(l * l);

        float rd = 0.0f;
        if (run.flag4) rd = static_cast<float>(hk * prcp(4) + rd);
        if (run.flag5) rd = static_cast<float>(hl * prcp(5) + rd);
        if (run.flag6) rd = static_cast<float>(kl * prcp(6) + rd);
        // 1/(4 d^2)
        rd = static_cast<float>(((hh * prcp(1) + kk * prcp(2)) + ll * prcp(3)) + (double{rd} + rd));
        // 1/d
        const float root = static_cast<float>(std::sqrt(double{rd}));
        rd = static_cast<float>(2.0 * root);
        run.ds(i) = static_cast<float>(1.0 / rd);

        // sin(theta) = lambda / (2d), kept in double for the test and for asin.
        const double s = double{run.wave} * 0.5 * rd;
        if (s > 1.0) {
            run.tt(i) = -1.0f; // the wavelength cannot reach this reflection
        } else {
            const float theta = static_cast<float>(std::asin(s));
            run.tt(i) = static_cast<float>(double{theta} * 360.0 / Pi);
        }
    }
}

} // namespace peakpos
