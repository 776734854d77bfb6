#include "peakfit/orientation.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace peakfit {

namespace {

// h G* k, the reciprocal metric's scalar product of two reciprocal vectors.
double dot(const Metric& a, const Miller& h, const Miller& k) {
    return a[0] * h[0] * k[0] + a[1] * h[1] * k[1] + a[2] * h[2] * k[2] +
           a[3] * (h[0] * k[1] + h[1] * k[0]) / 2 + a[4] * (h[0] * k[2] + h[2] * k[0]) / 2 +
           a[5] * (h[1] * k[2] + h[2] * k[1]) / 2;
}

} // namespace

std::vector<Miller> set_members(const gemmi::GroupOps& ops, const Miller& hkl) {
    std::vector<Miller> members;
    for (const gemmi::Op& op : ops.sym_ops) {
        const Miller h = op.apply_to_hkl(hkl);
        for (const Miller& m : {h, Miller{-h[0], -h[1], -h[2]}})
            if (std::find(members.begin(), members.end(), m) == members.end()) members.push_back(m);
    }
    return members;
}

MarchDollase::MarchDollase(const gemmi::GroupOps& ops, const std::vector<Miller>& sets,
                           const Miller& axis, const Metric& metric)
    : axis_(axis) {
    if (axis == Miller{0, 0, 0}) throw std::invalid_argument("March-Dollase axis 0 0 0");
    first_.push_back(0);
    for (const Miller& hkl : sets) {
        const std::vector<Miller> m = set_members(ops, hkl);
        members_.insert(members_.end(), m.begin(), m.end());
        first_.push_back(members_.size());
    }
    set_metric(metric);
}

void MarchDollase::set_metric(const Metric& metric) {
    const double axis2 = dot(metric, axis_, axis_);
    cos2_.resize(members_.size());
    for (std::size_t j = 0; j < members_.size(); ++j) {
        const double hh = dot(metric, members_[j], members_[j]);
        const double ha = dot(metric, members_[j], axis_);
        cos2_[j] = hh > 0 ? std::min(1.0, ha * ha / (hh * axis2)) : 0;
    }
}

MarchDollase::Value MarchDollase::operator()(std::size_t i, double r) const {
    const std::size_t begin = first_[i], end = first_[i + 1];
    if (begin == end) return {1, 0};
    double p = 0, dp = 0;
    for (std::size_t j = begin; j < end; ++j) {
        const double c2 = cos2_[j], s2 = 1 - c2;
        const double g = r * r * c2 + s2 / r; // > 0 for r > 0
        const double f = 1 / (g * std::sqrt(g));
        p += f;
        dp += -1.5 * f / g * (2 * r * c2 - s2 / (r * r));
    }
    const double m = static_cast<double>(end - begin);
    return {p / m, dp / m};
}

} // namespace peakfit
