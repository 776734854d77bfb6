// peakfit's Rietveld fit of a laboratory pattern of three phases: the
// round robin's sample 1h (tests/data/qpa), 5 to 150 degrees, 7251 points,
// corundum, zincite and fluorite with fixed atoms, every stage of the plan
// from the start values a user has; the time, the memory and what it found.
//
//   cmake --build build --target peakfit_rietveld_bench && build/bench/peakfit_rietveld_bench
//   [RUNS]
#include "peakfit/amounts.hpp"
#include "peakfit/data.hpp"
#include "peakfit/phase.hpp"
#include "peakfit/refine.hpp"

#include "pattern/pattern.hpp"
#include "peakhkl/cif.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace peakfit;
    const std::string dir = QPA_DATA_DIR;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const pattern::Pattern pat = pattern::read(dir + "/cpd-1h.xy");
    std::vector<std::string> notes;
    const Data d = select_points(pat, Selection{}, notes);
    Instrument in;
    in.alpha1 = 1.5405929;
    in.alpha2 = 1.5444274;
    in.beam.monochromator = 26.6;
    in.radius = 173;
    std::vector<Phase> phases;
    std::vector<std::string> warnings;
    for (const char* name : {"corundum", "zincite", "fluorite"}) {
        const peakhkl::CifCrystal x = peakhkl::read_cif(dir + "/" + name + ".cif", "");
        phases.push_back(make_rietveld_phase(name, x.crystal, x.atoms.sites, d, in, std::nullopt,
                                             false, warnings));
    }
    std::size_t reflections = 0;
    for (const Phase& ph : phases) reflections += ph.reflections.size();
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        Model m(d, in, phases);
        const auto t0 = std::chrono::steady_clock::now();
        start_values(m);
        RefineOptions o;
        o.displacement = true;
        if (run == 0)
            o.say = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
        const RefineResult r = refine(m, o);
        const Amounts a = amounts(m, r, {});
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        if (run == 0) {
            std::printf("%zu points, %zu reflections, 3 phases: Rwp %.2f%%, %zu stages\n", d.size(),
                        reflections, r.r.rwp, r.stages.size());
            for (const PhaseAmount& p : a.phases)
                std::printf("  %-9s %6.2f(%.2f) wt%%\n", m.phases()[p.phase].name.c_str(),
                            100 * p.weight.value, 100 * p.weight.esd);
        }
    }
    std::sort(seconds.begin(), seconds.end());
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("fit and weight fractions: median %.2f s of %d runs (best %.2f s), %.0f MiB\n",
                seconds[seconds.size() / 2], runs, seconds.front(),
                static_cast<double>(u.ru_maxrss) / 1024);
}
