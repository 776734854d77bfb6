// peakview's layout of the h k l labels, compiled: the rule of
// tools/lib/peakview/labels.tcl (place, and the labels of one view from a
// plan) as Tcl commands, so that a zoom or a pan lays out the labels of
// thousands of sticks in a few milliseconds. The Tcl procedures stay the
// reference and the fallback; the tests run the same cases against both.
//
//   peakview::labels::placeCompiled ITEMS TAKEN BOUNDS TIERS GAP
//   peakview::labels::arrangeCompiled PLAN SPANS VIEW TAKEN BOUNDS TIERS GAP
//
// return what peakview::labels::place and peakview::labels::arrange
// return for the same arguments (see labels.tcl).

#pragma once

#include <tcl.h>

namespace peakview {

// Creates the commands above in INTERP.
void create_label_commands(Tcl_Interp* interp);

} // namespace peakview
