// Cell conversion: direct or reciprocal cell in, both cells and the
// quarter-metric coefficients out.
#pragma once

#include "run.hpp"

namespace peakpos {

// The degree-to-radian factor: the float nearest pi/180 (0x3C8EFA35).
extern const float K;

// Given the cell a, b, c, al, be, ga (direct when a > 1, else reciprocal),
// returns the direct cell in a..ga, the direct volume rcv, the reciprocal
// cell rcp(1..6) = a*, b*, c*, cos alpha*, cos beta*, cos gamma*, the
// reciprocal volume vol and
//   prcp = a*^2/4, b*^2/4, c*^2/4, a*b*cos gamma*/4, a*c*cos beta*/4, b*c*cos alpha*/4.
// Nothing is checked: impossible cells give infinities or NaNs.
void celcon(float& a, float& b, float& c, float& al, float& be, float& ga, float& rcv,
            Array1<float, 6>& rcp, float& vol, Array1<float, 6>& prcp);

} // namespace peakpos
