// Preferred orientation: the March-Dollase correction of a reflection set's
// intensity for crystallites lying with one reciprocal direction along the
// specimen's normal.
#pragma once

#include "peakfit/metric.hpp"

#include "peakhkl/reflections.hpp"

#include <gemmi/symmetry.hpp>

#include <array>
#include <vector>

namespace peakfit {

using Miller = peakhkl::Miller;

// The members of the set of hkl: its orbit under the rotations of ops and
// the inversion (Friedel mates, which powder diffraction cannot tell
// apart), each member once. Their number is the set's multiplicity.
std::vector<Miller> set_members(const gemmi::GroupOps& ops, const Miller& hkl);

// The March-Dollase factor of each set of a list, along the reciprocal
// direction axis (the normal of the planes axis = (h k l)):
//   P(r) = (1/m) sum over the m members j of (r^2 cos^2 a_j + sin^2 a_j / r)^(-3/2),
// a_j the angle between the member's reciprocal vector and the axis in the
// metric A. r = 1 is a random powder (P = 1); r < 1 plates lying on the
// axis (sets along it stronger), r > 1 needles. The members and their
// angles are found once; set_metric follows a refined cell.
class MarchDollase {
  public:
    MarchDollase(const gemmi::GroupOps& ops, const std::vector<Miller>& sets, const Miller& axis,
                 const Metric& metric);

    // cos^2 of each member's angle to the axis again, in the metric A.
    void set_metric(const Metric& metric);

    struct Value {
        double p;     // P(r)
        double dp_dr; // its derivative in r
    };
    // P of set i at r (r > 0).
    Value operator()(std::size_t i, double r) const;

    std::size_t size() const { return first_.size() - 1; }

  private:
    std::vector<Miller> members_;    // every set's members, one after the other
    std::vector<std::size_t> first_; // set i's members: [first_[i], first_[i+1])
    Miller axis_;
    std::vector<double> cos2_; // of each member
};

} // namespace peakfit
