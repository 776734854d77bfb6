// How long peakhkl takes over the intensities of a large structure: 100
// atom sites on general positions of F m -3 m (192 operations), the first
// 5000 reflection sets of the list, X-rays with f' and f''. Prints the
// best processor time of a few runs of the structure factors alone and of
// a whole peakhkl run on the same crystal written as a CIF.
//
//   peakhkl_intensity_bench [RUNS]
#include "peakhkl/intensity.hpp"
#include "peakhkl/cli.hpp"
#include "peakhkl/crystal.hpp"
#include "peakhkl/reflections.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr int sites = 100;
constexpr double a = 30; // angstroms: 5000 sets reach d of about 0.77 A

// Processor time: the other work of a shared machine does not count.
double seconds_since(std::clock_t start) {
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const peakhkl::CellValues cell{a, a, a, 90, 90, 90};
    const peakhkl::Crystal crystal = peakhkl::make_crystal(
        cell, peakhkl::symmetry_from_symbol("F m -3 m", cell, "bench"), "bench");

    // The sites, and the same as a CIF.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coordinate(0.01, 0.24), u(0.005, 0.02);
    const char* elements[] = {"O", "Si", "Fe", "Ba", "Cl"};
    std::vector<peakhkl::AtomSite> atoms;
    std::string cif = "data_bench\n_cell_length_a 30\n_cell_length_b 30\n_cell_length_c 30\n"
                      "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                      "_space_group_name_H-M_alt 'F m -3 m'\nloop_\n_atom_site_label\n"
                      "_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
                      "_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n";
    for (int i = 0; i < sites; ++i) {
        peakhkl::AtomSite atom;
        auto& s = atom.site;
        s.type_symbol = elements[i % 5];
        s.label = s.type_symbol + std::to_string(i + 1);
        s.element = gemmi::Element(s.type_symbol);
        // x > y > z > 0, below 1/4: a general position of F m -3 m.
        double x[3] = {coordinate(rng), coordinate(rng), coordinate(rng)};
        std::sort(x, x + 3);
        x[2] += 0.01, x[1] += 0.005;
        s.fract = gemmi::Fractional(x[2], x[1], x[0]);
        s.u_iso = u(rng);
        char row[160];
        std::snprintf(row, sizeof row, "%s %s %.6f %.6f %.6f %.5f\n", s.label.c_str(),
                      s.type_symbol.c_str(), x[2], x[1], x[0], s.u_iso);
        cif += row;
        atoms.push_back(atom);
    }

    auto list = *peakhkl::reflection_list(crystal, 0.7, false, 100000);
    // 5000 sets, or the fewer that end where d changes.
    std::size_t n = 5000;
    while (list[n].d == list[n - 1].d) --n;
    char d_min[32];
    std::snprintf(d_min, sizeof d_min, "%.9g", (list[n - 1].d + list[n].d) / 2);
    list.resize(n);
    peakhkl::Beam beam;
    beam.wave = 0.7093172; // MoKa1: every set within reach
    const peakhkl::Scatterers scatterers = peakhkl::scatterers(atoms, beam);

    double best = 1e9;
    for (int r = 0; r < runs; ++r) {
        const std::clock_t start = std::clock();
        const auto f2 = peakhkl::set_f2(crystal, scatterers.sites, list, beam);
        const auto intensity = peakhkl::intensities(list, f2, beam);
        best = std::min(best, seconds_since(start));
        if (intensity.size() != list.size()) return 1;
    }
    std::printf("structure factors and intensities: %d sets, %d sites, 192 operations: %.3f s\n",
                static_cast<int>(list.size()), sites, best);

    const std::string path = "/tmp/peakhkl_bench_" + std::to_string(getpid()) + ".cif";
    std::ofstream(path) << cif;
    double whole = 1e9;
    peakhkl::Outcome o;
    for (int r = 0; r < runs; ++r) {
        const std::clock_t start = std::clock();
        o = peakhkl::run({path, "--wave", "MoKa1", "--d-min", d_min, "--table", "/dev/null"});
        whole = std::min(whole, seconds_since(start));
    }
    std::remove(path.c_str());
    if (o.status != 0) {
        std::fputs(o.err.c_str(), stderr);
        return 1;
    }
    std::printf("a whole peakhkl run with --table: %.3f s\n", whole);
    return 0;
}
