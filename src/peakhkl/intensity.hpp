// How strong each reflection of a powder pattern is: the structure factors
// of the crystal's atoms and the Lorentz-polarization factor.
#pragma once

#include "peakhkl/atoms.hpp"
#include "peakhkl/crystal.hpp"
#include "peakhkl/reflections.hpp"

#include <optional>
#include <string>
#include <vector>

namespace peakhkl {

enum class Radiation { xray, neutron };

struct Beam {
    Radiation radiation = Radiation::xray;
    double wave = 1;                 // angstroms
    bool dispersion = true;          // X-rays: add f' + i f'' (Cromer-Liberman) at wave
    double monochromator = 0;        // X-rays: the monochromator's 2theta_m, degrees
    std::optional<double> polarized; // X-rays: the beam's fraction F polarized
                                     // perpendicular to the scattering plane
};

// Images of an atom (under the space group's operations) closer than
// special_position_tolerance (angstroms) are the atom once, on a special
// position: coordinates rounded in the file (0.333 for 1/3) leave it a hair
// off its site. Images further apart but closer than split_site_distance are
// a split (disordered) site, or a special position written loosely: when the
// occupancy times the number of distinct images is at most 1 (to 1 %), the
// occupancy already accounts for them and every image is counted (as cctbx
// counts them with a minimum distance below theirs); otherwise they are one
// atom, its occupancy shared among the images.
constexpr double special_position_tolerance = 0.01;
constexpr double split_site_distance = 0.5;

// The atoms that scatter: an atom that cannot be read (AtomSite::fault), or
// whose element has no form factor (X-rays: International Tables 1992, four
// Gaussians; neutrons: the coherent scattering lengths of Neutron News 3
// (1992)), is a fault naming the atom's label and line; the others are
// sites and atoms, in the same order. A charged atom is given the neutral
// atom's X-ray form factor, with a warning: the table holds neutral atoms
// only.
struct Scatterers {
    std::vector<gemmi::SmallStructure::Site> sites;
    std::vector<AtomSite> atoms;       // the atom of each site
    std::vector<AtomFault> faults;     // the atoms left out, in file order
    std::vector<std::string> warnings; // "FILE:LINE: warning: ..."
};
Scatterers scatterers(const std::vector<AtomSite>& atoms, const Beam& beam);

// What is noted about the atoms' places in the crystal: a note naming each
// split site or loosely written special position (see split_site_distance)
// and what is done with it, a warning for an atom of the same element as an
// earlier one at the same place (within special_position_tolerance).
std::vector<std::string> site_notes(const Crystal& crystal, const std::vector<AtomSite>& atoms);

// |F|^2 of each set of the list: electrons^2 for X-rays, fm^2 for neutrons.
//   F(h) = sum over the atoms j of the cell of
//          occ_j (f0_j(s) + f'_j + i f''_j) T_j(h) exp(2 pi i h.x_j),
// s = sin(theta)/lambda, T_j = exp(-8 pi^2 U s^2), or exp(-2 pi^2 h*.U.h*)
// for an anisotropic U, occ_j the crystallographic occupancy (the CIF's
// chemical one over the number of its images that are the atom once, by the
// rule of split_site_distance). The sum runs over
// the space group's operations without the centring vectors, times
// sum over centring vectors c of exp(2 pi i h.c). With f'' the members of a
// set differ: |F(h)|^2 and |F(-h)|^2, and the set's value is their mean.
// The form factors, f', f'' and the sums are gemmi's.
std::vector<double> set_f2(const Crystal& crystal,
                           const std::vector<gemmi::SmallStructure::Site>& sites,
                           const std::vector<Reflection>& list, const Beam& beam);

// The Lorentz-polarization factor of a powder line at 2theta (degrees):
//   Lorentz 1 / (sin^2 theta cos theta);
//   X-rays, polarization (1 + cos^2 2theta_m cos^2 2theta) / (1 + cos^2 2theta_m)
//   with a monochromator at 2theta_m (0: an unpolarized tube, (1 + cos^2 2theta)/2),
//   or F + (1 - F) cos^2 2theta for a beam of polarized fraction F;
//   neutrons, no polarization.
double lorentz_polarization(double tt, const Beam& beam);

// I = multiplicity |F|^2 Lp, scaled so that the strongest allowed set of the
// list is 100; NaN where the wavelength cannot reach the set.
std::vector<double> intensities(const std::vector<Reflection>& list, const std::vector<double>& f2,
                                const Beam& beam);

} // namespace peakhkl
