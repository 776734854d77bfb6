// One whole run without the standard streams: read the deck, convert the
// cell, compute the positions, write the plot script.
#pragma once

#include "io.hpp"
#include "run.hpp"

namespace peakpos {

// Throws DeckError (from read_deck) before anything is written to out.
void run_deck(ByteSource& in, Sink& out, Run& run);

// The computing part of a run, on a run record as read from a deck: the
// cell conversion, then d and 2-theta of every reflection.
void compute(Run& run);

} // namespace peakpos
