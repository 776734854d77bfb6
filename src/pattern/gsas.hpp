// The GSAS raw formats (libxy has no reader for them): a title line, then
// for each bank a line "BANK n npts nrec CONST|CONS start step 0 0 TYPE"
// (2theta in centidegrees) and its records:
//   STD   ten counts a line, 8 characters each (I2 count of detectors and
//         F6 count, or F8 count): sigma = sqrt(count / detectors)
//   ESD   five (value, sigma) pairs a line, 8 characters each
//   FXYE  one point a line: 2theta (centidegrees), value, sigma
//   FXY   one point a line: 2theta (centidegrees), value
// Comment lines (#) may say the wavelength ("# Calibrated wavelength =
// 0.41384 A", as 11-BM writes it).
#pragma once

#include "pattern/pattern.hpp"

#include <string>
#include <string_view>

namespace pattern::gsas {

// True where text has a BANK line after its title, before any data.
bool looks_like(std::string_view text);

Pattern read(std::string_view text, const std::string& file, const Options& options);

} // namespace pattern::gsas
