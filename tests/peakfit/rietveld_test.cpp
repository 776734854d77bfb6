// The structure side of a Rietveld phase: m |F|^2 as peakhkl gives it, an
// overall B that is each atom's B raised by as much, and the derivatives.
#include "peakfit/rietveld.hpp"

#include "peakhkl/bragg.hpp"
#include "peakhkl/cif.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

const std::string data = QPA_DATA_DIR;

peakfit::Metric metric_of(const gemmi::UnitCell& c) {
    return {c.ar * c.ar,
            c.br * c.br,
            c.cr * c.cr,
            2 * c.ar * c.br * c.cos_gammar,
            2 * c.ar * c.cr * c.cos_betar,
            2 * c.br * c.cr * c.cos_alphar};
}

TEST(StructureIntensities, OverallBIsEveryAtomsBRaised) {
    const peakhkl::CifCrystal x = peakhkl::read_cif(data + "/zincite.cif", "");
    peakhkl::Beam beam;
    beam.wave = 1.5405929;
    const auto list = peakhkl::reflection_list(x.crystal, 0.8, true, 5000);
    ASSERT_TRUE(list);
    const auto sites = peakhkl::scatterers(x.atoms.sites, beam).sites;
    const peakfit::Metric a = metric_of(x.crystal.unit_cell);
    const peakfit::StructureIntensities s(x.crystal, sites, *list, beam, std::nullopt, a);

    // m |F|^2 against peakhkl's relative intensities divided by Lp.
    const std::vector<double> rel =
        peakhkl::intensities(*list, peakhkl::set_f2(x.crystal, sites, *list, beam), beam);
    const auto lp = [&](std::size_t k) {
        return peakhkl::lorentz_polarization(peakhkl::two_theta((*list)[k].d, beam.wave), beam);
    };
    for (std::size_t k = 1; k < list->size(); ++k)
        EXPECT_NEAR(s(k, 1, 0, 1).i / s(0, 1, 0, 1).i, rel[k] / lp(k) / (rel[0] / lp(0)), 1e-9);

    // B = 0.5 A^2 overall is U = 0.5 / (8 pi^2) more on every atom.
    const double b = 0.5, pi = 3.14159265358979323846;
    auto raised = sites;
    for (auto& site : raised) site.u_iso += b / (8 * pi * pi);
    const std::vector<double> f2 = peakhkl::set_f2(x.crystal, raised, *list, beam);
    for (std::size_t k = 0; k < list->size(); ++k)
        EXPECT_NEAR(s(k, 2, b, 1).i / (2 * (*list)[k].multiplicity * f2[k]), 1, 1e-9);
}

TEST(StructureIntensities, DerivativesAgainstDifferences) {
    const peakhkl::CifCrystal x = peakhkl::read_cif(data + "/brucite.cif", "");
    peakhkl::Beam beam;
    beam.wave = 1.5405929;
    const auto list = peakhkl::reflection_list(x.crystal, 1.0, true, 5000);
    ASSERT_TRUE(list);
    const auto sites = peakhkl::scatterers(x.atoms.sites, beam).sites;
    const peakfit::StructureIntensities s(x.crystal, sites, *list, beam, peakfit::Miller{0, 0, 1},
                                          metric_of(x.crystal.unit_cell));
    const double scale = 3, b = 0.4, r = 0.8, h = 1e-6;
    for (std::size_t k = 0; k < list->size(); ++k) {
        const auto v = s(k, scale, b, r);
        EXPECT_NEAR(v.di_ds, (s(k, scale + h, b, r).i - s(k, scale - h, b, r).i) / (2 * h),
                    1e-6 * v.i);
        EXPECT_NEAR(v.di_db, (s(k, scale, b + h, r).i - s(k, scale, b - h, r).i) / (2 * h),
                    1e-6 * v.i);
        EXPECT_NEAR(v.di_dr, (s(k, scale, b, r + h).i - s(k, scale, b, r - h).i) / (2 * h),
                    1e-6 * v.i);
    }
    // Plates on (001): 00l stronger than at random, hk0 weaker.
    EXPECT_GT(s(0, 1, 0, 0.8).i, s(0, 1, 0, 1).i); // (0 0 1), the largest d
}

} // namespace
