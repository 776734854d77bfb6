#include "peakfit/data.hpp"

#include <algorithm>
#include <cmath>

namespace peakfit {

Data select_points(const pattern::Pattern& pattern, const Selection& selection,
                   std::vector<std::string>& notes) {
    bool per_second = false;
    if (pattern.ranges.size() > 1) {
        const double t0 = pattern.ranges.front().step_time;
        for (const pattern::Range& r : pattern.ranges)
            if (std::isfinite(t0) && std::isfinite(r.step_time) && r.step_time > 0 &&
                std::abs(r.step_time - t0) > 1e-9 * t0)
                per_second = true;
        if (per_second)
            notes.push_back("the ranges were counted for different times per step: their "
                            "counts are fitted as counts per second");
    }
    Data d;
    d.x_lo = 1e300;
    d.x_hi = -1e300;
    for (std::size_t ri = 0; ri < pattern.ranges.size(); ++ri) {
        const pattern::Range& r = pattern.ranges[ri];
        const double scale = per_second ? 1 / r.step_time : 1;
        const std::size_t before = d.x.size();
        for (std::size_t i = 0; i < r.x.size(); ++i) {
            const double x = r.x[i];
            if (x < selection.lo || x > selection.hi) continue;
            bool out = false;
            for (const auto& [a, b] : selection.excluded)
                if (x >= a && x <= b) out = true;
            if (out || !(r.sigma[i] > 0)) continue;
            d.x.push_back(x);
            d.y.push_back(r.y[i] * scale);
            d.sigma.push_back(r.sigma[i] * scale);
            d.x_lo = std::min(d.x_lo, x);
            d.x_hi = std::max(d.x_hi, x);
        }
        if (d.x.size() > before) {
            d.start.push_back(d.x.size());
            d.range_of_segment.push_back(static_cast<int>(ri));
        }
    }
    return d;
}

pattern::Pattern pattern_of(std::vector<double> x, std::vector<double> y,
                            std::vector<double> sigma) {
    pattern::Pattern p;
    p.format = "columns";
    pattern::Range r;
    if (sigma.empty())
        for (double v : y) sigma.push_back(std::sqrt(std::max(v, 1.0)));
    r.x = std::move(x);
    r.y = std::move(y);
    r.sigma = std::move(sigma);
    p.ranges.push_back(std::move(r));
    return p;
}

} // namespace peakfit
