// peakpos --check: the deck read and computed exactly as a plain run reads
// and computes it, shown as a table of its reflections, with warnings about
// what a hand-written deck commonly gets wrong: a layout that the
// free-format reads take otherwise than meant, a cell or a wavelength that
// gives no sticks, indices and flags that look slid by a line, a name that a
// front end cannot use.
#pragma once

#include "deck.hpp"
#include "io.hpp"
#include "run.hpp"

#include <string>
#include <vector>

namespace peakpos {

struct Warning {
    Position at; // where the deck shows it
    std::string text;
};

// "line 4, column 3: warning: ...", without the program's name.
std::string warning_line(const Warning& w);

// Reads the deck into run (all zero on entry) as read_deck does, refusing
// the same decks with the same DeckError, and computes d and 2-theta as a
// plain run does. Returns the warnings in the order of the deck.
std::vector<Warning> check_deck(ByteSource& in, Run& run);

// The reflections as a table: the line "i\th\tk\tl\td\t2theta\textinct",
// then one tab-separated line per reflection, d and 2theta as the plot
// script writes them without their leading blanks ("3.25625563", "-1.",
// "INF"), extinct the flag as read.
void write_table(const Run& run, Sink& out);

} // namespace peakpos
