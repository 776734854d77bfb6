// The text form of a deck as read, shared by the peakpos side of the
// comparison with the f2c run-time library (libf2c_dump.c prints the same):
//
//   dnam <the 25 name bytes in hex>
//   reals <a b c alpha beta gamma wave ymin ymax zero, bit patterns in hex>
//   npeak <n>
//   h <h(1) ... h(npeak)>      (and k, l, extinct alike)
//
// or a single line "refused <why>" for a deck that cannot be read.
#pragma once

#include "peakpos/io.hpp"
#include "peakpos/run.hpp"

#include <string>
#include <string_view>

namespace peakpos::test {

std::string record_text(const Run& run);

// Reads deck with read_deck into run (reset first) and returns its text form.
std::string read_as_text(std::string_view deck, Run& run);

} // namespace peakpos::test
