// Le Bail's partition of the observed counts among the reflections.
#pragma once

#include "peakfit/model.hpp"

#include <vector>

namespace peakfit {

// Cycles of the partition, for every Le Bail phase, at parameter values p
// (the profiles computed once, the cycles repeated `iterations` times):
//   I_k <- I_k sum_i P_ki (y_obs,i - b_i) / (y_calc,i - b_i) / sum_i P_ki,
// P_ki the profile of reflection k (both lines) at point i per unit
// intensity, the sums over each line's core (4 FWHM on each side, and the
// axial divergence's reach). A reflection none of whose lines reaches a point is given the
// phase's mean intensity, so that it starts afresh where it enters the
// range (re-seeding); a negative result is set to 0.
void partition(Model& model, const std::vector<double>& p, int iterations = 1);

// Every Le Bail phase's intensities set equal, their sum near the counts
// above the background, then partitioned `cycles` times.
void seed(Model& model, const std::vector<double>& p, int cycles);

} // namespace peakfit
