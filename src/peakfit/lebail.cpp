#include "peakfit/lebail.hpp"

#include <algorithm>
#include <cmath>

namespace peakfit {

namespace {

// Calls visit(i, profile) for each point of the line's window.
template <class Visit> void each_point(const Data& data, const Line& l, Visit visit) {
    for (std::size_t s = 0; s < data.segments(); ++s) {
        const auto first = data.x.begin() + static_cast<long>(data.start[s]);
        const auto last = data.x.begin() + static_cast<long>(data.start[s + 1]);
        for (auto it = std::lower_bound(first, last, l.lo); it != last && *it <= l.hi; ++it)
            visit(static_cast<std::size_t>(it - data.x.begin()),
                  l.strength * Model::line_value(l, *it).value);
    }
}

} // namespace

void partition(Model& model, const std::vector<double>& p) {
    std::vector<double> ycalc, bg;
    model.calculate(p.data(), ycalc, bg);
    const Data& data = model.data();
    double top = 0;
    for (std::size_t i = 0; i < ycalc.size(); ++i) top = std::max(top, ycalc[i] - bg[i]);
    const double floor = 1e-9 * std::max(top, 1e-300);
    const int lines = model.has_alpha2() ? 2 : 1;
    for (std::size_t f = 0; f < model.phases().size(); ++f) {
        Phase& ph = model.phases()[f];
        if (ph.mode != Mode::lebail) continue;
        std::vector<double> next(ph.intensity.size());
        std::vector<bool> seen(ph.intensity.size(), false);
        double sum = 0;
        int count = 0;
        for (std::size_t k = 0; k < ph.reflections.size(); ++k) {
            double num = 0, den = 0;
            for (int w = 0; w < lines; ++w) {
                const Line l = model.line(p.data(), static_cast<int>(f), static_cast<int>(k), w);
                if (!l.ok) continue;
                each_point(data, l, [&](std::size_t i, double profile) {
                    const double calc = std::max(ycalc[i] - bg[i], floor);
                    num += profile * (data.y[i] - bg[i]) / calc;
                    den += profile;
                });
            }
            if (den > 0) {
                next[k] = std::max(ph.intensity[k] * num / den, 0.0);
                seen[k] = true;
                sum += next[k];
                ++count;
            }
        }
        const double mean = count > 0 ? sum / count : 1;
        for (std::size_t k = 0; k < next.size(); ++k) ph.intensity[k] = seen[k] ? next[k] : mean;
    }
}

void seed(Model& model, const std::vector<double>& p, int cycles) {
    const Data& data = model.data();
    std::vector<double> ycalc, bg;
    for (Phase& ph : model.phases()) std::fill(ph.intensity.begin(), ph.intensity.end(), 0.0);
    model.calculate(p.data(), ycalc, bg);
    double area = 0;
    for (std::size_t s = 0; s < data.segments(); ++s)
        for (std::size_t i = data.start[s] + 1; i < data.start[s + 1]; ++i)
            area += std::max(data.y[i] - bg[i], 0.0) * (data.x[i] - data.x[i - 1]);
    std::size_t lines = 0;
    for (const Phase& ph : model.phases()) lines += ph.reflections.size();
    const double each = area / static_cast<double>(std::max<std::size_t>(lines, 1));
    for (Phase& ph : model.phases()) std::fill(ph.intensity.begin(), ph.intensity.end(), each);
    for (int c = 0; c < cycles; ++c) partition(model, p);
}

} // namespace peakfit
