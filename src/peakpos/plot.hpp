// The plot script: Tcl commands that hand the 2-theta and d-spacing lists
// and the stick marks to a plotting front end.
#pragma once

#include "io.hpp"
#include "run.hpp"

#include <string>

namespace peakpos {

// The field of one real value in a record: blank, sign column, "%.9G" text
// with a point added where it has none ("  100.", " -1.", "  1.E+10",
// "  INF", "  -NAN.").
std::string real_field(float v);

// Writes the whole script for run, one flush after every record.
void write_plot(const Run& run, Sink& out);

} // namespace peakpos
