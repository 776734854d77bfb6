// How much of each phase a sample holds: the mass of a unit cell's
// contents, and the weight fractions of Hill and Howard (1987) from the
// Rietveld scale factors, with their standard uncertainties.
#pragma once

#include "peakhkl/atoms.hpp"
#include "peakhkl/crystal.hpp"

#include <Eigen/Core>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace peakfit {

// What a unit cell holds: the number of atoms of each element (atomic
// number, a site's chemical occupancy times the number of its images in the
// cell) and their mass, Z M in daltons (g/mol of cells).
struct CellContents {
    std::map<int, double> atoms; // atomic number -> atoms per cell
    double mass = 0;             // Z M, daltons
};

// The contents of the cell of crystal with the atoms of a CIF (chemical
// occupancies, as read_atoms gives them). An atom on a special position is
// one atom per image in the cell: two images closer than
// peakhkl::special_position_tolerance are the same atom, as in |F|^2.
// Masses are gemmi's (IUPAC standard atomic weights). Throws
// peakhkl::InputError naming the atom for a dummy or unknown atom (no mass).
CellContents cell_contents(const peakhkl::Crystal& crystal,
                           const std::vector<peakhkl::AtomSite>& atoms);

// "Al12 O18": the contents as a formula, elements by atomic number, counts
// rounded to 0.001.
std::string formula(const CellContents& contents);

// A phase of a Rietveld fit as the weight fractions see it.
struct PhaseScale {
    double scale;     // S_p, the refined scale factor
    double cell_mass; // Z M, daltons
    double volume;    // V, cubic angstroms
    double tau = 1;   // Brindley's particle absorption factor (1: no correction)
};

// A fraction (0 to 1) and its standard uncertainty. A phase whose scale
// is zero or below is not detected: its fraction is 0, never negative, and
// its esd says how much of it could still be there.
struct Fraction {
    double value = 0;
    double esd = 0;
    bool detected = true;
};

// An internal standard: phase number phase was added to the sample at
// weight fraction fraction (0 to 1) of the mixture.
struct Standard {
    std::size_t phase;
    double fraction;
};

struct Composition {
    // W_p = x_p / sum_q x_q, x_p = S_p (Z M V)_p / tau_p: the fractions of
    // the crystalline phases, summing to 1.
    std::vector<Fraction> weight;
    // With a standard s: each phase's fraction of the whole mixture,
    // W_p f_s / W_s, and what is left, 1 - sum_p W_p f_s / W_s: the
    // amorphous or unidentified part of the mixture, and of the sample as it
    // was before the standard was added (divided by 1 - f_s).
    std::vector<Fraction> absolute;
    std::optional<Fraction> amorphous;          // of the mixture
    std::optional<Fraction> amorphous_original; // of the sample without the standard
};

// The weight fractions of phases, their esds propagated through the
// covariance of (S_1 ... S_P, V_1 ... V_P) (2P x 2P; correlations included;
// a volume held fixed has zero rows): cov(W) = J C J^T with J the
// derivatives of the fractions. tau is taken as exact.
Composition weight_fractions(const std::vector<PhaseScale>& phases,
                             const Eigen::MatrixXd& covariance,
                             const std::optional<Standard>& standard = std::nullopt);

} // namespace peakfit
