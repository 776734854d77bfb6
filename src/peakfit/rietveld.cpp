#include "peakfit/rietveld.hpp"

#include <cmath>

namespace peakfit {

namespace {

double s2_of(const Metric& a, const Miller& h) {
    const double inverse_d2 = a[0] * h[0] * h[0] + a[1] * h[1] * h[1] + a[2] * h[2] * h[2] +
                              a[3] * h[0] * h[1] + a[4] * h[0] * h[2] + a[5] * h[1] * h[2];
    return inverse_d2 / 4;
}

} // namespace

StructureIntensities::StructureIntensities(const peakhkl::Crystal& crystal,
                                           const std::vector<gemmi::SmallStructure::Site>& sites,
                                           const std::vector<peakhkl::Reflection>& list,
                                           const peakhkl::Beam& beam,
                                           const std::optional<Miller>& po_axis,
                                           const Metric& metric) {
    const std::vector<double> f2 = peakhkl::set_f2(crystal, sites, list, beam);
    for (std::size_t k = 0; k < list.size(); ++k) {
        hkl_.push_back(list[k].hkl);
        mf2_.push_back(list[k].multiplicity * f2[k]);
    }
    if (po_axis) po_.emplace(crystal.symmetry.ops, hkl_, *po_axis, metric);
    set_metric(metric);
}

void StructureIntensities::set_metric(const Metric& metric) {
    s2_.resize(hkl_.size());
    for (std::size_t k = 0; k < hkl_.size(); ++k) s2_[k] = s2_of(metric, hkl_[k]);
    if (po_) po_->set_metric(metric);
}

StructureIntensities::Value StructureIntensities::at(std::size_t k, double scale, double b,
                                                     double r, double s2) const {
    const double t = std::exp(-2 * b * s2);
    const MarchDollase::Value p = po_ ? (*po_)(k, r) : MarchDollase::Value{1, 0};
    const double base = mf2_[k] * t; // per unit scale, P = 1
    const double i = scale * base * p.p;
    return {i, base * p.p, -2 * s2 * i, scale * base * p.dp_dr, -2 * b * i};
}

} // namespace peakfit
