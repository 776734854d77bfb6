// The input deck: a name line, then seven free-format reads.
//
//   name line   first 25 characters become dnam
//   R2          a b c alpha beta gamma wave
//   R3          ymin ymax zero
//   R4          npeak
//   R5 R6 R7    h(1..npeak), k(1..npeak), l(1..npeak)
//   R8          extinct(1..npeak), optional: the input may end anywhere in it
#pragma once

#include "io.hpp"
#include "run.hpp"

#include <stdexcept>
#include <string>

namespace peakpos {

// Why a deck cannot be read: the line, the item being read, what the reader
// expected there and what it found ("end of input" or the quoted text).
class DeckError : public std::runtime_error {
  public:
    DeckError(long line, std::string item, std::string expected, std::string found);
    long line;
    std::string item;     // "npeak", "h(3)", "dnam", ...
    std::string expected; // "a number", "at most 5000 reflections", ...
    std::string found;    // "\"abc\"" or "end of input"
};

// Reads the whole deck into run (which must be all zero on entry).
// Throws DeckError when the deck cannot be read.
void read_deck(ByteSource& in, Run& run);

} // namespace peakpos
