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
#include <string_view>

namespace peakpos {

// A place in the deck: line and column from 1, the column counted in bytes.
// Column 0 stands for the line as a whole (the end of the input has none).
struct Position {
    long line = 0;
    long column = 0;
};

// "line 2, column 5", or "line 2" without a column.
std::string where(Position at);

// Bytes of the deck as a diagnostic shows them: in double quotes, with every
// byte outside printable ASCII (and " and \) as \xNN.
std::string quoted(std::string_view bytes);

// Why a deck cannot be read: where, the item being read, what the reader
// expected there and what it found ("end of input" or the quoted text).
class DeckError : public std::runtime_error {
  public:
    DeckError(Position at, std::string item, std::string expected, std::string found);
    Position at;
    std::string item;     // "npeak", "h(3)", "the name line", ...
    std::string expected; // "a number", "at most 5000 reflections", ...
    std::string found;    // "\"abc\"", "\"l\" right after 5.43" or "end of input"
};

// The reads after the name line, numbered by their place in the deck.
enum class Read { cell = 2, range = 3, npeak = 4, h = 5, k = 6, l = 7, extinct = 8 };

// What the reader passes over without complaint, for a check of the deck.
// Reading with an observer gives the same run record and the same refusals.
class DeckObserver {
  public:
    virtual ~DeckObserver() = default;
    // Item index (from 1) of read got its value from the field at `at`, or
    // kept its value at the null, slash or end of input found there.
    virtual void item(Read read, int index, Position at) = 0;
    // After the read's last item the rest of its line held text (the first
    // 40 bytes of it, trailing blanks dropped; cut: there was more).
    virtual void discarded(Read read, Position at, std::string_view text, bool cut) = 0;
    // After the last read, `lines` more lines held text; the first of them
    // begins at `at` with text.
    virtual void left_over(Position at, std::string_view text, bool cut, long lines) = 0;
    // The input went on past look_max bytes after the l values (in the
    // flags or after them); nothing from `at` on was read.
    virtual void looked_no_further(Position at) = 0;
};

// How far a read with an observer goes, so that a check of a deck ends
// on an input that never does: the deck up to its l values within
// deck_max bytes (beyond: a DeckError, or the plain run's refusal of the
// name line where it has one), and at most look_max bytes after them.
constexpr long deck_max = 64L << 20;
constexpr long look_max = 1L << 20;

// Reads the whole deck into run (which must be all zero on entry), telling
// observer, when there is one, what it passed over (within the bounds
// above). Throws DeckError when the deck cannot be read.
void read_deck(ByteSource& in, Run& run, DeckObserver* observer = nullptr);

} // namespace peakpos
