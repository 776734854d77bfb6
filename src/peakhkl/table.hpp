// The reflection list as a table for a person, a spreadsheet or peakview.
#pragma once

#include "peakhkl/reflections.hpp"

#include <string>
#include <vector>

namespace peakhkl {

// How strong each reflection of a list is: |F|^2 and the intensity on the
// scale where the strongest allowed one is 100 (NaN where the wavelength
// cannot reach it).
struct Strengths {
    std::vector<double> f2;
    std::vector<double> intensity;
};

// A header line "h k l d 2theta multiplicity extinct F2 intensity", then
// one row per reflection in list order, tab-separated: d in angstroms to
// 1e-6, 2theta in degrees to 1e-4 from 2 asin(wave / 2d) in double
// precision (-1 where the wavelength cannot reach the reflection), extinct
// 1 or 0, F2 to 1e-6 and intensity to 1e-3; "-" in both where there are no
// strengths (a crystal without atoms), "-" for the intensity where 2theta
// is -1.
std::string table_text(const std::vector<Reflection>& list, double wave,
                       const Strengths* strengths);

} // namespace peakhkl
