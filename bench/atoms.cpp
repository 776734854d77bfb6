// How long peakhkl takes to read the atoms of a large CIF and find the line
// of each for its messages: 50,000 atom sites in P 1, every tenth a
// hydrogen with ? coordinates (a warning naming its line each), the others
// with an anisotropic row. Prints the best processor time of a few whole
// runs; the goal is within one second (the lines are found in one pass).
//
//   peakhkl_atoms_bench [ATOMS [RUNS]]
#include "peakhkl/cli.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    const int atoms = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string cif = "data_bench\n_cell_length_a 80\n_cell_length_b 90\n_cell_length_c 100\n"
                      "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                      "_space_group_IT_number 1\nloop_\n_atom_site_label\n"
                      "_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
                      "_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n";
    std::string aniso = "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n"
                        "_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n_atom_site_aniso_U_12\n"
                        "_atom_site_aniso_U_13\n_atom_site_aniso_U_23\n";
    for (int i = 0; i < atoms; ++i) {
        char row[160];
        if (i % 10 == 9) {
            std::snprintf(row, sizeof row, "H%d H ? ? ? 0.05\n", i);
        } else {
            std::snprintf(row, sizeof row, "C%d C %.6f %.6f %.6f 0.01\n", i, (i % 97) / 97.0,
                          (i % 89) / 89.0, (i % 83) / 83.0 + (i % 7) * 1e-3);
            char u[120];
            std::snprintf(u, sizeof u, "C%d 0.01 0.012 0.011 0.001 0 0.002\n", i);
            aniso += u;
        }
        cif += row;
    }
    cif += aniso;
    const std::string path = "/tmp/peakhkl_atoms_bench_" + std::to_string(getpid()) + ".cif";
    std::ofstream(path) << cif;
    double best = 1e9;
    peakhkl::Outcome o;
    for (int r = 0; r < runs; ++r) {
        const std::clock_t start = std::clock();
        o = peakhkl::run({path, "--wave", "CuKa1", "--tt-max", "10"});
        best = std::min(best, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    std::remove(path.c_str());
    if (o.status != 0) {
        std::fputs(o.err.c_str(), stderr);
        return 1;
    }
    std::printf("%d atom sites read, each line found, %zu bytes of warnings: %.3f s\n", atoms,
                o.err.size(), best);
    return 0;
}
