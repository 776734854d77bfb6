// The anomalous terms peakhkl adds to the X-ray form factors, for the cctbx
// comparison to give cctbx the same f' and f'':
//
//   peakhkl_fprime WAVE ELEMENT...   ->   "ELEMENT f' f''" lines
//
// gemmi's Cromer-Liberman calculation at the energy hc / WAVE.
#include <gemmi/elem.hpp>
#include <gemmi/fprime.hpp>
#include <gemmi/math.hpp>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: peakhkl_fprime WAVE ELEMENT...\n", stderr);
        return 2;
    }
    const double energy = gemmi::hc() / std::atof(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const gemmi::Element el(argv[i]);
        double fpp = 0;
        const double fp = gemmi::cromer_liberman(el.atomic_number(), energy, &fpp);
        std::printf("%s %.17g %.17g\n", argv[i], fp, fpp);
    }
    return 0;
}
