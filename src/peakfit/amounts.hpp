// How much of each phase a Rietveld fit finds: the weight fractions of its
// Rietveld phases with esds from the fit's covariance of scales and
// volumes, each phase's linear attenuation, and on request Brindley's
// microabsorption correction and the amorphous part beside a standard.
#pragma once

#include "peakfit/model.hpp"
#include "peakfit/qpa.hpp"
#include "peakfit/refine.hpp"

#include <optional>
#include <string>
#include <vector>

namespace peakfit {

struct AmountOptions {
    // The internal standard: index into model.phases() (a Rietveld phase)
    // and its weight fraction of the mixture (0 to 1).
    std::optional<Standard> standard;
    // Brindley's correction: the particle radius of each phase (cm), by
    // index into model.phases(); empty or 0 for none.
    std::vector<double> brindley_radius;
    // The radius the microabsorption warning assumes (cm): 5 um, the
    // particles of a powder ground for diffraction.
    double assumed_radius = 5e-4;
};

struct PhaseAmount {
    int phase = 0; // index into model.phases()
    double scale = 0, scale_esd = NAN;
    double volume = 0, volume_esd = NAN; // cubic angstroms
    double cell_mass = 0;                // Z M, daltons
    double mu = NAN;                     // linear attenuation, 1/cm (X-rays only)
    double tau = 1;                      // Brindley's factor applied
    Fraction weight;                     // of the crystalline phases
    std::optional<Fraction> absolute;    // of the mixture, beside a standard
};

struct Amounts {
    std::vector<PhaseAmount> phases; // the Rietveld phases, in the model's order
    std::optional<Fraction> amorphous, amorphous_original;
    // Without a Brindley correction, the largest change of a weight fraction
    // that particles of the assumed radius would make (0 to 1).
    double bias = 0;
    std::vector<std::string> warnings;
};

// The amounts of the model's Rietveld phases at its values, the esds from
// result's covariance (the scales and, through the volume's derivatives,
// the cells' metric parameters, correlations included). Where the fit's
// covariance is singular, the esds are those with the parameters involved
// held at their values (said in a warning). Each Rietveld phase's contents
// must be set.
Amounts amounts(Model& model, const RefineResult& result, const AmountOptions& options);

// The volume of the cell of metric A, 1 / sqrt(det G*), cubic angstroms.
double volume_of(const Metric& a);

} // namespace peakfit
