// The reflection list as a table for a person or a spreadsheet.
#pragma once

#include "peakhkl/reflections.hpp"

#include <string>
#include <vector>

namespace peakhkl {

// A header line "h k l d 2theta multiplicity extinct", then one row per
// reflection in list order, tab-separated: d in angstroms, 2theta in
// degrees from 2 asin(wave / 2d) in double precision (-1 where the
// wavelength cannot reach the reflection), extinct 1 or 0.
std::string table_text(const std::vector<Reflection>& list, double wave);

// 2 asin(wave / 2d) in degrees, or -1 when wave > 2d.
double two_theta(double d, double wave);

} // namespace peakhkl
