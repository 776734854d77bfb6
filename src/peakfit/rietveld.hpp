// The intensities of a phase whose atoms are known (Rietveld with fixed
// atoms): each set's m |F|^2 computed once from peakhkl's structure
// factors, times the phase's scale, an overall displacement factor and the
// preferred-orientation factor. The Lorentz-polarization factor, which
// moves with the line's position, is the profile model's.
#pragma once

#include "peakfit/orientation.hpp"

#include "peakhkl/crystal.hpp"
#include "peakhkl/intensity.hpp"
#include "peakhkl/reflections.hpp"

#include <optional>
#include <vector>

namespace peakfit {

class StructureIntensities {
  public:
    // m |F|^2 of each set of list (electrons^2 or fm^2), |F|^2 as
    // peakhkl::set_f2 gives it for sites and beam (form factors, f', f'',
    // neutron lengths, the atoms' own displacements). po_axis: the
    // March-Dollase direction, none without preferred orientation.
    StructureIntensities(const peakhkl::Crystal& crystal,
                         const std::vector<gemmi::SmallStructure::Site>& sites,
                         const std::vector<peakhkl::Reflection>& list, const peakhkl::Beam& beam,
                         const std::optional<Miller>& po_axis, const Metric& metric);

    // The cell moved: s^2 = 1/(4 d^2) and the orientation angles again.
    void set_metric(const Metric& metric);

    struct Value {
        double i;      // S m |F|^2 exp(-2 B s^2) P(r)
        double di_ds;  // its derivatives in S,
        double di_db;  // B (overall, added to each atom's own, A^2)
        double di_dr;  // and r (0 without preferred orientation)
        double di_ds2; // and in s^2, for the cell's derivatives
    };
    // Set k at scale S, overall B and March-Dollase r, at the cell of the
    // last set_metric, or at s2 = (sin theta / lambda)^2 = 1 / (4 d^2).
    Value operator()(std::size_t k, double scale, double b, double r) const {
        return at(k, scale, b, r, s2_[k]);
    }
    Value at(std::size_t k, double scale, double b, double r, double s2) const;
    bool oriented() const { return po_.has_value(); }

    const std::vector<double>& mf2() const { return mf2_; }

  private:
    std::vector<peakhkl::Miller> hkl_;
    std::vector<double> mf2_;
    std::vector<double> s2_;
    std::optional<MarchDollase> po_;
};

} // namespace peakfit
