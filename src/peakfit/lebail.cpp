#include "peakfit/lebail.hpp"

#include <algorithm>
#include <cmath>

namespace peakfit {

namespace {

std::size_t sz(int i) {
    return static_cast<std::size_t>(i);
}

constexpr double core = 4; // FWHMs on each side

} // namespace

void partition(Model& model, const std::vector<double>& p, int iterations) {
    const Data& data = model.data();
    std::vector<double> ycalc, bg;
    model.calculate(p.data(), ycalc, bg);
    // The counts above the background that the Le Bail phases share: the
    // observed pattern less the background and the other phases.
    std::vector<double> others = ycalc;
    // Each Le Bail reflection's profile at the points of its windows,
    // computed once: the iterations only multiply and add. The counts are
    // shared within each line's core only (its far tails hold mostly the
    // background's noise), and normalized over the same core.
    struct Run {
        std::size_t first, count;       // points first .. first + count - 1
        std::size_t core_from, core_to; // the core's part of them (offsets)
    };
    struct Profile {
        int phase, reflection;
        std::vector<Run> runs;
        std::vector<double> value; // at the runs' points, in order
        double den = 0;            // the profile's sum over its core
    };
    std::vector<Profile> profiles;
    const std::vector<Line>& all_lines = model.lines(p.data());
    const std::vector<Model::Profile>& all_profiles = model.profiles(p.data());
    const auto& keys = model.line_keys();
    for (std::size_t key = 0; key < keys.size(); ++key) {
        const auto [f, k, w] = keys[key];
        const Phase& ph = model.phases()[sz(f)];
        if (ph.mode != Mode::lebail) continue;
        if (w == 0) profiles.push_back({f, k, {}, {}, 0});
        Profile& pr = profiles.back();
        const Line& l = all_lines[key];
        if (!l.ok) continue;
        double lo = 0, hi = 0;
        for (std::size_t j = 0; j < l.asymmetry.nodes; ++j) {
            lo = std::min(lo, l.asymmetry.shift[j]);
            hi = std::max(hi, l.asymmetry.shift[j]);
        }
        lo = l.position + lo - core * l.width.fwhm;
        hi = l.position + hi + core * l.width.fwhm;
        const Model::Profile& mp = all_profiles[key];
        std::size_t j = 0;
        for (const auto& [begin, count] : mp.runs) {
            Run run{begin, count, count, count};
            for (std::size_t n = 0; n < count; ++n, ++j) {
                const std::size_t i = begin + n;
                const double profile = l.strength * mp.value[j];
                pr.value.push_back(profile);
                if (data.x[i] >= lo && data.x[i] <= hi) {
                    if (run.core_from == count) run.core_from = n;
                    run.core_to = n + 1;
                    pr.den += profile;
                }
                others[i] -= ph.intensity[sz(k)] * profile;
            }
            if (run.core_from == count) run.core_from = run.core_to = 0;
            pr.runs.push_back(run);
        }
    }
    std::vector<double> calc(data.size()), share(data.size());
    for (int it = 0; it < iterations; ++it) {
        calc = others;
        for (const Profile& pr : profiles) {
            const double in = model.phases()[sz(pr.phase)].intensity[sz(pr.reflection)];
            const double* v = pr.value.data();
            for (const Run& run : pr.runs) {
                double* c = calc.data() + run.first;
                for (std::size_t n = 0; n < run.count; ++n) c[n] += in * v[n];
                v += run.count;
            }
        }
        double top = 0;
        for (std::size_t i = 0; i < calc.size(); ++i) top = std::max(top, calc[i] - bg[i]);
        const double floor = 1e-9 * std::max(top, 1e-300);
        // Each point's observed over calculated counts above the background.
        for (std::size_t i = 0; i < calc.size(); ++i)
            share[i] = (data.y[i] - bg[i]) / std::max(calc[i] - bg[i], floor);
        double change = 0;
        for (std::size_t f = 0; f < model.phases().size(); ++f) {
            Phase& ph = model.phases()[f];
            if (ph.mode != Mode::lebail) continue;
            double sum = 0;
            int count = 0;
            std::vector<double> next(ph.intensity.size(), NAN);
            for (const Profile& pr : profiles) {
                if (pr.phase != static_cast<int>(f)) continue;
                double num = 0;
                const double* v = pr.value.data();
                for (const Run& run : pr.runs) {
                    const double* sh = share.data() + run.first;
                    for (std::size_t n = run.core_from; n < run.core_to; ++n) num += v[n] * sh[n];
                    v += run.count;
                }
                if (pr.den > 0) {
                    const double v = std::max(ph.intensity[sz(pr.reflection)] * num / pr.den, 0.0);
                    next[sz(pr.reflection)] = v;
                    sum += v;
                    ++count;
                }
            }
            const double mean = count > 0 ? sum / count : 1;
            for (std::size_t k = 0; k < next.size(); ++k) {
                const double v = std::isnan(next[k]) ? mean : next[k];
                change =
                    std::max(change, std::abs(v - ph.intensity[k]) / std::max(std::abs(v), 1e-300));
                ph.intensity[k] = v;
            }
        }
        // Settled: no intensity moves by a part in 10^10 (further cycles
        // change nothing a fit can see).
        if (change <= 1e-10) break;
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
    partition(model, p, cycles);
}

} // namespace peakfit
