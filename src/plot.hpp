// The plot script: Tcl commands that hand the 2-theta and d-spacing lists
// and the stick marks to a plotting front end.
#pragma once

#include "io.hpp"
#include "run.hpp"

#include <array>
#include <string>
#include <string_view>

namespace peakpos {

// The first blank-delimited word of the name; a single blank when the name
// is all blanks.
std::string_view name_word(const std::array<char, namelen>& dnam);

// The first byte of word that a Tcl front end would not take as plain text
// (brackets, braces, $, backslash, ;, ", control characters, or a leading
// #); -1 when the word is safe.
int unsafe_name_byte(std::string_view word);

// The field of one real value in a record: blank, sign column, "%.9G" text
// with a point added where it has none ("  100.", " -1.", "  1.E+10",
// "  INF", "  -NAN.").
std::string real_field(float v);

// Writes the whole script for run, one flush after every record.
void write_plot(const Run& run, Sink& out);

} // namespace peakpos
