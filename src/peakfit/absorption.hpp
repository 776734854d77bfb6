// How strongly a phase absorbs X-rays, and what that does to the weight
// fractions of a powder whose phases absorb differently (microabsorption,
// Brindley 1945).
#pragma once

#include "peakfit/qpa.hpp"

#include <vector>

namespace peakfit {

// The density of a phase, rho = Z M u / V (u the atomic mass unit),
// g/cm^3, from its cell's contents and volume in cubic angstroms.
double density(const CellContents& contents, double volume);

// The linear attenuation coefficient of a phase at the wavelength (angstroms),
// in 1/cm: mu = (1/V) sum over the cell's atoms of their total cross
// sections (photoabsorption, Rayleigh and Compton), xraylib's CS_Total
// (mass attenuation, cm^2/g) times its atomic weight. Throws
// std::domain_error naming the element when xraylib has no entry for it at
// that energy.
double linear_mu(const CellContents& contents, double volume, double wave);

// Brindley's particle absorption factor of a spherical particle,
//   tau = (1/V) integral over the particle of exp(-(mu - mu_bar) x) dV,
// x the path of the ray that the volume element diffracts through the
// particle, taken along its chord: tau(t) = 3 integral_0^1 u^2 exp(-2 t u) du
// with t = (mu - mu_bar) R. tau = 1 - 1.5 t + ... for small t: a particle
// absorbing more than the mixture (t > 0) diffracts less than its share.
// Brindley's table spans |t| <= 0.5; beyond it the model itself fails.
double brindley_tau(double t);

// A phase as the microabsorption correction sees it.
struct AbsorbingPhase {
    double x;      // S (Z M V), the uncorrected weight in the mixture
    double rho;    // density, g/cm^3
    double mu;     // linear attenuation coefficient, 1/cm
    double radius; // particle radius, cm
};

// The tau of each phase of a mixture. mu_bar, the mixture's mean linear
// attenuation (sum of volume fractions times mu), depends on the
// corrected fractions W_p = (x_p / tau_p) / sum_q (x_q / tau_q), and they on
// tau: iterated to self-consistency (a fraction changing by less than
// 1e-12).
std::vector<double> brindley_factors(const std::vector<AbsorbingPhase>& phases);

// The largest change of a weight fraction (0 to 1) that the correction
// of particles of radius (cm) makes: the bias left in the uncorrected
// fractions if the particles are that large.
double microabsorption_bias(std::vector<AbsorbingPhase> phases, double radius);

} // namespace peakfit
