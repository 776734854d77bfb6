// The quantities of phases: cell contents from a CIF's atoms, weight
// fractions and their esds, absorption and Brindley's factor, and the
// March-Dollase factor of a set.
#include "peakfit/absorption.hpp"
#include "peakfit/orientation.hpp"
#include "peakfit/qpa.hpp"

#include "peakhkl/cif.hpp"
#include "peakhkl/error.hpp"
#include "peakhkl/reflections.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

const std::string data = QPA_DATA_DIR;

peakhkl::CifCrystal phase(const std::string& name) {
    return peakhkl::read_cif(data + "/" + name + ".cif", "");
}

// A CIF written for one test, removed when it ends.
struct TempCif {
    std::string path;
    explicit TempCif(const std::string& text) {
        char name[] = "/tmp/qpa_test_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        close(fd);
        path = name;
        std::ofstream(path) << text;
    }
    ~TempCif() { std::remove(path.c_str()); }
};

// A CIF's text: the cell (a b c alpha beta gamma), the space group, and the
// atom rows (label, type, x y z, occupancy, U_iso).
std::string cif_text(const std::string& cell, const std::string& group, const std::string& rows) {
    std::istringstream in(cell);
    std::string text = "data_x\n";
    for (const char* tag :
         {"length_a", "length_b", "length_c", "angle_alpha", "angle_beta", "angle_gamma"}) {
        std::string v;
        in >> v;
        text += std::string("_cell_") + tag + " " + v + "\n";
    }
    return text + "_symmetry_space_group_name_H-M '" + group +
           "'\nloop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
           "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_occupancy\n"
           "_atom_site_U_iso_or_equiv\n" +
           rows;
}

// Textbook contents of a cell: 6 Al2O3 in corundum (Z M = 6 x 101.961),
// 4 CaF2, 2 ZnO, 1 Mg(OH)2, with IUPAC's atomic weights.
TEST(CellContents, TextbookPhases) {
    struct Case {
        const char* cif;
        const char* formula;
        double cell_mass;
        double volume;
    };
    const Case cases[] = {
        {"corundum", "O18 Al12", 611.767668, 254.59984},
        {"fluorite", "F8 Ca4", 312.299224, 162.97689},
        {"zincite", "O2 Zn2", 162.7588, 47.573},
        {"brucite", "H2 O2 Mg1", 58.31968, 40.856},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cif);
        const peakhkl::CifCrystal x = phase(c.cif);
        const peakfit::CellContents contents = peakfit::cell_contents(x.crystal, x.atoms.sites);
        EXPECT_EQ(peakfit::formula(contents), c.formula);
        EXPECT_NEAR(contents.mass, c.cell_mass, 1e-6);
        EXPECT_NEAR(x.crystal.unit_cell.volume, c.volume, 2e-3);
    }
    // Z M V of corundum as a textbook gives it: Z = 6, M = 101.96, V = 254.6.
    const peakhkl::CifCrystal corundum = phase("corundum");
    EXPECT_NEAR(peakfit::cell_contents(corundum.crystal, corundum.atoms.sites).mass *
                    corundum.crystal.unit_cell.volume / (6 * 101.96 * 254.6),
                1, 1e-4);
}

// A CIF's occupancy is chemical: 0.9 of a site on a special position of
// F m -3 m (4 images in the cell) is 3.6 atoms, not 0.9 x 192 operations;
// a general position of P -1 is 2 images.
TEST(CellContents, ChemicalOccupancyOnSpecialAndGeneralPositions) {
    const TempCif nacl(cif_text("5.64 5.64 5.64 90 90 90", "F m -3 m",
                                "Na1 Na 0 0 0 0.9 0.01\nCl1 Cl 0.5 0.5 0.5 1 0.01\n"));
    const peakhkl::CifCrystal x = peakhkl::read_cif(nacl.path, "");
    EXPECT_EQ(peakfit::formula(peakfit::cell_contents(x.crystal, x.atoms.sites)), "Na3.6 Cl4");

    const TempCif triclinic(cif_text("5 6 7 80 85 95", "P -1",
                                     "Fe1 Fe 0.1 0.2 0.3 0.25 0.01\nFe2 Fe 0.5 0.5 0.5 1 0.01\n"));
    const peakhkl::CifCrystal t = peakhkl::read_cif(triclinic.path, "");
    EXPECT_EQ(peakfit::formula(peakfit::cell_contents(t.crystal, t.atoms.sites)), "Fe1.5");
}

TEST(CellContents, AtomWithoutMassRefusedByName) {
    const TempCif dummy(cif_text("5 5 5 90 90 90", "P 1", "Q1 Q 0 0 0 1 0.01\n"));
    const peakhkl::CifCrystal x = peakhkl::read_cif(dummy.path, "");
    try {
        peakfit::cell_contents(x.crystal, x.atoms.sites);
        FAIL() << "a dummy atom taken";
    } catch (const peakhkl::InputError& e) {
        EXPECT_NE(e.where.find("Q1"), std::string::npos) << e.where;
        EXPECT_NE(e.where.find(dummy.path + ":"), std::string::npos) << e.where;
    }
}

// Three phases, correlated scales and volumes: the fractions and their esds
// against a numeric propagation (central differences, computed apart).
struct ThreePhases {
    std::vector<peakfit::PhaseScale> phases{
        {2.0e-4, 611.767, 254.6}, {5.0e-5, 162.7588, 47.57}, {1.2e-4, 312.2992, 162.98}};
    Eigen::MatrixXd covariance() const {
        const double sd[6] = {2e-6, 1e-6, 1.5e-6, 0.01, 0.004, 0.006};
        Eigen::MatrixXd corr = Eigen::MatrixXd::Identity(6, 6);
        corr(0, 1) = corr(1, 0) = -0.6; // scales
        corr(0, 3) = corr(3, 0) = 0.3;  // a scale with its volume
        corr(2, 5) = corr(5, 2) = 0.5;
        Eigen::MatrixXd c(6, 6);
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 6; ++j) c(i, j) = corr(i, j) * sd[i] * sd[j];
        return c;
    }
};

TEST(WeightFractions, ValuesAndEsdsWithCorrelations) {
    const ThreePhases t;
    const peakfit::Composition c = peakfit::weight_fractions(t.phases, t.covariance());
    const double w[3] = {0.8274737319155081, 0.010283179326942301, 0.1622430887575496};
    const double esd[3] = {0.0022776983750279504, 0.0002644063145009557, 0.00215618389482341};
    ASSERT_EQ(c.weight.size(), 3u);
    for (int p = 0; p < 3; ++p) {
        EXPECT_NEAR(c.weight[p].value, w[p], 1e-12);
        EXPECT_NEAR(c.weight[p].esd, esd[p], 1e-8);
        EXPECT_TRUE(c.weight[p].detected);
    }
    EXPECT_FALSE(c.amorphous);
}

TEST(WeightFractions, InternalStandardGivesTheAmorphousPart) {
    const ThreePhases t;
    const peakfit::Composition c =
        peakfit::weight_fractions(t.phases, t.covariance(), peakfit::Standard{0, 0.2});
    const double a[3] = {0.2, 0.0024854394599663977, 0.039214075927697475};
    const double esd[3] = {0, 6.762242148845431e-05, 0.0006285867646204957};
    for (int p = 0; p < 3; ++p) {
        EXPECT_NEAR(c.absolute[p].value, a[p], 1e-12);
        EXPECT_NEAR(c.absolute[p].esd, esd[p], 1e-9);
    }
    ASSERT_TRUE(c.amorphous && c.amorphous_original);
    EXPECT_NEAR(c.amorphous->value, 0.7583004846123361, 1e-12);
    EXPECT_NEAR(c.amorphous->esd, 0.0006653003864236452, 1e-9);
    EXPECT_NEAR(c.amorphous_original->value, 0.7583004846123361 / 0.8, 1e-12);
}

// A phase whose scale went to zero or below is not detected: fraction 0,
// never negative, with the esd its scale's uncertainty gives; the others
// share the whole.
TEST(WeightFractions, ScaleAtOrBelowZeroIsNotDetected) {
    for (const double scale : {0.0, -3e-7}) {
        SCOPED_TRACE(scale);
        ThreePhases t;
        t.phases[1].scale = scale;
        const peakfit::Composition c = peakfit::weight_fractions(t.phases, t.covariance());
        EXPECT_FALSE(c.weight[1].detected);
        EXPECT_EQ(c.weight[1].value, 0);
        // dW/dS = Z M V / sum(x): 1e-6 of scale is worth this much.
        const double sum = 2.0e-4 * 611.767 * 254.6 + 1.2e-4 * 312.2992 * 162.98;
        EXPECT_NEAR(c.weight[1].esd, 1e-6 * 162.7588 * 47.57 / sum, 1e-12);
        EXPECT_NEAR(c.weight[0].value + c.weight[2].value, 1, 1e-14);
    }
}

// A standard known to be more than it is measured to be: amorphous below
// zero is reported as none, not as a negative fraction.
TEST(WeightFractions, NegativeAmorphousIsNone) {
    const ThreePhases t;
    const peakfit::Composition c =
        peakfit::weight_fractions(t.phases, t.covariance(), peakfit::Standard{0, 0.9});
    ASSERT_TRUE(c.amorphous);
    EXPECT_EQ(c.amorphous->value, 0);
    EXPECT_FALSE(c.amorphous->detected);
}

// Linear attenuation at Cu Kalpha1 against the values QPA papers quote for
// the round robin's phases (corundum about 125, zincite about 280, fluorite
// about 310 per cm; the tables behind them differ by a few percent), and
// the X-ray densities of the textbooks.
TEST(Absorption, RoundRobinPhasesAtCuKalpha1) {
    struct Case {
        const char* cif;
        double mu;
        double rho;
    };
    const Case cases[] = {{"corundum", 125, 3.99}, {"zincite", 280, 5.68}, {"fluorite", 310, 3.18}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cif);
        const peakhkl::CifCrystal x = phase(c.cif);
        const peakfit::CellContents contents = peakfit::cell_contents(x.crystal, x.atoms.sites);
        const double v = x.crystal.unit_cell.volume;
        EXPECT_NEAR(peakfit::density(contents, v), c.rho, 0.01);
        EXPECT_NEAR(peakfit::linear_mu(contents, v, 1.5405929) / c.mu, 1, 0.04);
    }
    // Mo Kalpha goes through: corundum absorbs far less there.
    const peakhkl::CifCrystal x = phase("corundum");
    const peakfit::CellContents contents = peakfit::cell_contents(x.crystal, x.atoms.sites);
    EXPECT_LT(peakfit::linear_mu(contents, x.crystal.unit_cell.volume, 0.7093), 20);
}

TEST(Absorption, ElementWithoutAttenuationEntryRefused) {
    peakfit::CellContents contents;
    contents.atoms[110] = 1; // darmstadtium: no cross sections
    contents.mass = 281;
    EXPECT_THROW(peakfit::linear_mu(contents, 100, 1.54), std::domain_error);
}

// tau against its definition: the mean of exp(-t L) over a sphere of unit
// radius, L the chord through each point, by a direct quadrature over the
// sphere's cylinders (400000 shells, computed apart).
TEST(Brindley, TauAgainstTheSphereIntegral) {
    const double cases[][2] = {{-0.5, 2.154845}, {-0.1, 1.162696}, {0, 1},         {0.01, 0.985119},
                               {0.1, 0.861361},  {0.5, 0.481808},  {3.0, 0.026056}};
    for (const auto& c : cases) EXPECT_NEAR(peakfit::brindley_tau(c[0]), c[1], 2e-6) << c[0];
    // The series and the closed form meet at |2t| = 4.
    for (const double t : {2.0, -2.0})
        EXPECT_NEAR(peakfit::brindley_tau(t - 1e-12) / peakfit::brindley_tau(t + 1e-12), 1, 1e-10);
}

// Corundum, zincite, fluorite in the weights of sample 1h, 5 um particles:
// the factors are self-consistent (each tau is that of its phase's mu
// against the mean of the corrected mixture) and the fine corundum-poor
// bias is several wt%; 0.1 um particles bias nothing that matters.
TEST(Brindley, MixtureFactorsAndBias) {
    const double mu[3] = {125.8, 276.3, 301.8}, rho[3] = {3.986, 5.676, 3.182};
    const double weighed[3] = {0.3512, 0.3019, 0.3469};
    std::vector<peakfit::AbsorbingPhase> phases;
    for (int p = 0; p < 3; ++p) phases.push_back({weighed[p], rho[p], mu[p], 5e-4});
    const std::vector<double> tau = peakfit::brindley_factors(phases);
    double sum = 0, volume = 0, mu_volume = 0;
    for (int p = 0; p < 3; ++p) sum += weighed[p] / tau[p];
    for (int p = 0; p < 3; ++p) {
        const double w = weighed[p] / tau[p] / sum;
        volume += w / rho[p];
        mu_volume += w / rho[p] * mu[p];
    }
    for (int p = 0; p < 3; ++p)
        EXPECT_NEAR(tau[p], peakfit::brindley_tau((mu[p] - mu_volume / volume) * 5e-4), 1e-10);
    EXPECT_GT(tau[0], 1);
    EXPECT_LT(tau[1], 1);
    EXPECT_LT(tau[2], 1);
    EXPECT_GT(peakfit::microabsorption_bias(phases, 5e-4), 0.01);
    EXPECT_LT(peakfit::microabsorption_bias(phases, 1e-5), 0.01);
    // One phase, or phases that absorb alike: nothing to correct.
    phases[1].mu = phases[2].mu = phases[0].mu;
    for (const double t : peakfit::brindley_factors(phases)) EXPECT_NEAR(t, 1, 1e-12);
}

// March-Dollase by hand: {100} of a cube along [001], r = 0.5: four
// members at 90 degrees (r^(3/2)), two along the axis (r^-3); the twelve
// members of zincite's {101} all at the angle cos^2 = (1/c^2) / d*^2(101).
TEST(MarchDollase, HandValues) {
    const peakhkl::Crystal cube = peakhkl::make_crystal(
        {4, 4, 4, 90, 90, 90},
        peakhkl::symmetry_from_symbol("P m -3 m", {4, 4, 4, 90, 90, 90}, "test"), "test");
    const peakfit::Metric a_cube{1 / 16.0, 1 / 16.0, 1 / 16.0, 0, 0, 0};
    peakfit::MarchDollase cubic(cube.symmetry.ops, {{1, 0, 0}, {1, 1, 1}}, {0, 0, 1}, a_cube);
    EXPECT_NEAR(cubic(0, 0.5).p, 2.9023689271, 1e-9);
    EXPECT_NEAR(cubic(0, 1).p, 1, 1e-14);
    EXPECT_NEAR(cubic(1, 1).p, 1, 1e-14);

    const peakhkl::CifCrystal zincite = phase("zincite");
    const gemmi::UnitCell& cell = zincite.crystal.unit_cell;
    // A0 = A1 = A3 = 4 / (3 a^2), A2 = 1 / c^2.
    const double a_star2 = 4 / (3 * cell.a * cell.a);
    const peakfit::Metric a_hex{a_star2, a_star2, 1 / (cell.c * cell.c), a_star2, 0, 0};
    peakfit::MarchDollase hex(zincite.crystal.symmetry.ops, {{1, 0, 1}}, {0, 0, 1}, a_hex);
    EXPECT_EQ(peakfit::set_members(zincite.crystal.symmetry.ops, {1, 0, 1}).size(), 12u);
    EXPECT_NEAR(hex(0, 0.7).p, 0.7454498089, 1e-9);
    // dP/dr against a central difference.
    const double h = 1e-6;
    EXPECT_NEAR(hex(0, 0.7).dp_dr, (hex(0, 0.7 + h).p - hex(0, 0.7 - h).p) / (2 * h), 1e-7);
    EXPECT_NEAR(cubic(0, 1.3).dp_dr, (cubic(0, 1.3 + h).p - cubic(0, 1.3 - h).p) / (2 * h), 1e-7);
}

// The members of every set are as many as peakhkl's multiplicity, in each
// Laue class of the round robin's phases and a monoclinic one.
TEST(MarchDollase, MembersAreTheMultiplicity) {
    std::vector<peakhkl::Crystal> crystals;
    for (const char* name : {"corundum", "zincite", "fluorite", "brucite"})
        crystals.push_back(phase(name).crystal);
    const peakhkl::CellValues mono{5, 6, 7, 90, 100, 90};
    crystals.push_back(
        peakhkl::make_crystal(mono, peakhkl::symmetry_from_symbol("P 21/c", mono, "test"), "test"));
    for (const peakhkl::Crystal& c : crystals) {
        const auto list = peakhkl::reflection_list(c, 1.0, false, 5000);
        ASSERT_TRUE(list);
        for (const peakhkl::Reflection& r : *list)
            ASSERT_EQ(peakfit::set_members(c.symmetry.ops, r.hkl).size(),
                      static_cast<std::size_t>(r.multiplicity))
                << r.hkl[0] << " " << r.hkl[1] << " " << r.hkl[2];
    }
}

} // namespace
