#include "celcon.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "the results are fixed to the bit for IEEE single and double precision");

namespace peakpos {

const float K = std::bit_cast<float>(std::uint32_t{0x3C8EFA35});

namespace {

// Each library result is rounded to single precision before further use;
// its argument is the double-precision expression, never rounded first.
float fcos(double x) {
    return static_cast<float>(std::cos(x));
}
float fsqrt(double x) {
    return static_cast<float>(std::sqrt(x));
}
float facos(double x) {
    return static_cast<float>(std::acos(x));
}

// The volume of the cell with lengths x, y, z and angle cosines cx, cy, cz:
// the product of the lengths rounded to single, times the rounded root.
float volume(double x, double y, double z, double cx, double cy, double cz) {
    const float p = static_cast<float>(x * y * z);
    const double g = (((1.0 - cx * cx) - cy * cy) - cz * cz) + (cx + cx) * cy * cz;
    const float r = fsqrt(g);
    return static_cast<float>(double{p} * double{r});
}

} // namespace

void celcon(float& a, float& b, float& c, float& al, float& be, float& ga, float& rcv,
            Array1<float, 6>& rcp, float& vol, Array1<float, 6>& prcp) {
    const double k = K;
    const float cosal = fcos(al * k);
    const float cosbe = fcos(be * k);
    const float cosga = fcos(ga * k);
    // The positive root is always taken.
    const float sinal = fsqrt(1.0 - double{cosal} * cosal);
    const float sinbe = fsqrt(1.0 - double{cosbe} * cosbe);
    const float singa = fsqrt(1.0 - double{cosga} * cosga);

    const bool direct = a > 1.0f;

    // The same formulas convert either way: a reciprocal cell yields the direct one.
    rcv = volume(a, b, c, cosal, cosbe, cosga);
    rcp(1) = static_cast<float>(double{b} * c * sinal / rcv);
    rcp(2) = static_cast<float>(double{a} * c * sinbe / rcv);
    rcp(3) = static_cast<float>(double{a} * b * singa / rcv);
    rcp(4) = static_cast<float>((double{cosbe} * cosga - cosal) / (double{sinbe} * singa));
    rcp(5) = static_cast<float>((double{cosal} * cosga - cosbe) / (double{sinal} * singa));
    rcp(6) = static_cast<float>((double{cosal} * cosbe - cosga) / (double{sinal} * sinbe));
    vol = volume(rcp(1), rcp(2), rcp(3), rcp(4), rcp(5), rcp(6));

    if (!direct) {
        // Put the results where a direct cell would have them.
        std::swap(a, rcp(1));
        std::swap(b, rcp(2));
        std::swap(c, rcp(3));
        al = static_cast<float>(double{facos(rcp(4))} / k);
        be = static_cast<float>(double{facos(rcp(5))} / k);
        ga = static_cast<float>(double{facos(rcp(6))} / k);
        rcp(4) = cosal;
        rcp(5) = cosbe;
        rcp(6) = cosga;
        std::swap(rcv, vol);
    }

    prcp(1) = static_cast<float>(double{rcp(1)} * rcp(1) * 0.25);
    prcp(2) = static_cast<float>(double{rcp(2)} * rcp(2) * 0.25);
    prcp(3) = static_cast<float>(double{rcp(3)} * rcp(3) * 0.25);
    prcp(4) = static_cast<float>(double{rcp(1)} * rcp(2) * rcp(6) * 0.25);
    prcp(5) = static_cast<float>(double{rcp(1)} * rcp(3) * rcp(5) * 0.25);
    prcp(6) = static_cast<float>(double{rcp(2)} * rcp(3) * rcp(4) * 0.25);
}

} // namespace peakpos
