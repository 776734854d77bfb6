// Reflection positions: d-spacing and 2-theta of every reflection.
#pragma once

#include "run.hpp"

namespace peakpos {

// The angle scale's pi: one unit in the last place below the float nearest
// pi (0x40490FDA).
extern const float Pi;

// Sets flag4..flag6 from prcp, then ds(i) and tt(i) for i = 1..npeak from
// h, k, l, prcp and wave. tt(i) is -1.0 where the wavelength cannot reach
// the reflection.
void positions(Run& run);

} // namespace peakpos
