// peakfit's speed: a laboratory pattern (7,000 points, 3 phases, about 300
// reflections) and a synchrotron one (60,000 points, 2 phases, about 1,500
// reflections), each simulated by peakfit's own model with Poisson noise
// and fitted by Le Bail from cells 0.05 % off. Prints the time to
// convergence, the iterations and the peak memory.
//   cmake --build build --target peakfit_bench && build/bench/peakfit_bench [lab|sync [SECONDS]]
#include "peakfit/model.hpp"
#include "peakfit/phase.hpp"
#include "peakfit/refine.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace peakfit;

struct PhaseSetup {
    const char* name;
    peakhkl::CellValues cell;
    const char* sg;
};

peakhkl::Crystal crystal(const PhaseSetup& s) {
    return peakhkl::make_crystal(s.cell, peakhkl::symmetry_from_symbol(s.sg, s.cell, "--sg"),
                                 "--cell");
}

Data grid(double lo, double hi, std::size_t n) {
    Data d;
    for (std::size_t i = 0; i < n; ++i) {
        d.x.push_back(lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(n - 1));
        d.y.push_back(0);
        d.sigma.push_back(1);
    }
    d.start = {0, n};
    d.range_of_segment = {0};
    d.x_lo = lo;
    d.x_hi = hi;
    return d;
}

double time_limit = 0; // seconds, 0: none (the second argument)

void bench(const char* what, const Instrument& in, Data d, const std::vector<PhaseSetup>& setups,
           double w, double x) {
    std::vector<Phase> truth_phases;
    for (const PhaseSetup& s : setups)
        truth_phases.push_back(make_phase(s.name, crystal(s), Mode::lebail, d, in));
    Model truth(d, in, truth_phases);
    std::vector<double> p = truth.values();
    p[truth.background] = 300;
    p[truth.zero] = 0.01;
    p[truth.asym_s] = 0.01;
    p[truth.asym_h] = 1e-6;
    std::size_t reflections = 0;
    for (std::size_t f = 0; f < truth.phases().size(); ++f) {
        Phase& ph = truth.phases()[f];
        p[ph.profile + 2] = w;
        p[ph.profile + 3] = x;
        for (std::size_t k = 0; k < ph.intensity.size(); ++k)
            ph.intensity[k] = 50.0 * (1 + static_cast<double>((k * 7) % 5)) * w / 0.004;
        reflections += ph.reflections.size();
    }
    truth.set_values(p);
    truth.refresh(p);
    std::vector<double> yc, bg;
    truth.calculate(p.data(), yc, bg);
    std::mt19937 rng(1);
    for (std::size_t i = 0; i < d.size(); ++i) {
        d.y[i] = static_cast<double>(std::poisson_distribution<long>(yc[i])(rng));
        d.sigma[i] = std::sqrt(std::max(d.y[i], 1.0));
    }
    std::vector<Phase> phases;
    for (PhaseSetup s : setups) {
        for (int j = 0; j < 3; ++j) s.cell[j] *= 1.0005;
        phases.push_back(make_phase(s.name, crystal(s), Mode::lebail, d, in));
    }
    const auto t0 = std::chrono::steady_clock::now();
    Model m(d, in, phases);
    start_values(m);
    RefineOptions o;
    o.zero = true;
    o.time_limit = time_limit;
    o.say = [](const std::string& line) { std::fprintf(stderr, "  %s\n", line.c_str()); };
    const RefineResult r = refine(m, o);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    int iterations = 0;
    for (const StageReport& st : r.stages) iterations += st.iterations;
    // How far the refined cells and zero are from the truth, in their
    // standard uncertainties.
    double worst = 0;
    bool with_esd = false;
    const std::vector<double> fitted = m.values();
    std::vector<int> checked{m.zero};
    for (const Phase& ph : m.phases())
        for (int j = 0; j < ph.constraint.free(); ++j) checked.push_back(ph.metric + j);
    for (const int q : checked)
        if (r.esd[static_cast<std::size_t>(q)] > 0) {
            with_esd = true;
            worst = std::max(worst, std::abs(fitted[static_cast<std::size_t>(q)] -
                                             p[static_cast<std::size_t>(q)]) /
                                        r.esd[static_cast<std::size_t>(q)]);
        }
    char against[64] = "no esd to compare the truth with";
    if (with_esd)
        std::snprintf(against, sizeof against, "cells and zero within %.2f esd of the truth",
                      worst);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%s: %zu points, %zu phases, %zu reflections: %.2f s, %d iterations, Rwp %.3f%%, "
                "GoF %.3f, %s, %s, peak memory %.0f MiB\n",
                what, d.size(), setups.size(), reflections, s, iterations, r.r.rwp, r.r.gof,
                against, r.converged ? "converged" : r.reason.c_str(),
                static_cast<double>(ru.ru_maxrss) / 1024);
}

} // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "both";
    if (argc > 2) time_limit = std::atof(argv[2]);
    if (which == "lab" || which == "both") {
        Instrument in;
        in.alpha1 = 1.5405929;
        in.alpha2 = 1.5444274;
        bench("laboratory", in, grid(10, 80, 7000),
              {{"si", {5.4311, 5.4311, 5.4311, 90, 90, 90}, "Fd-3m"},
               {"corundum", {4.759, 4.759, 12.991, 90, 90, 120}, "R-3c"},
               {"mono", {7.12, 5.21, 9.33, 90, 103.5, 90}, "P21/c"}},
              0.004, 0.03);
    }
    if (which == "sync" || which == "both") {
        Instrument in;
        in.alpha1 = 0.459;
        in.alpha2 = 0;
        in.beam.polarized = 0.95;
        bench("synchrotron", in, grid(2, 32, 60000),
              {{"si", {5.4311, 5.4311, 5.4311, 90, 90, 90}, "Fd-3m"},
               {"mono", {9.12, 6.33, 11.41, 90, 101.3, 90}, "P21/c"}},
              0.00002, 0.002);
    }
}
