// Plain columns: 2theta, counts and an optional sigma, one point a line,
// between them blanks, tabs, commas or semicolons; comments (#, !, ' and
// after the values); a first line holding the wavelength alone; "# range N"
// lines between ranges; decimal commas where the columns are separated
// otherwise.
#pragma once

#include "pattern/pattern.hpp"

#include <string>
#include <string_view>

namespace pattern::columns {

// The decimal point of the numbers of text: ',' where the file writes
// decimal commas (recognised where its columns are separated by
// semicolons or tabs), '.' otherwise. Throws ReadError where the file has
// both, or commas between digits that may as well separate columns.
char decimal_point(std::string_view text, const std::string& file);

Pattern read(std::string_view text, const std::string& file, const Options& options);

} // namespace pattern::columns
