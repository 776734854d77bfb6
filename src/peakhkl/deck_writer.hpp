// The deck peakpos reads, made from a reflection list, and the name word
// the deck and its plot script are named after.
#pragma once

#include "peakhkl/reflections.hpp"

#include <optional>
#include <string>
#include <vector>

namespace peakhkl {

// What a name word must be to name a Tcl variable and BLT vectors: 1 to 25
// letters, digits, '_', '.' or ':', a letter first, no "::" (Tcl would
// take it for a namespace). Empty when word is such a name, else the rule
// it breaks.
std::string name_fault(const std::string& word);

// word with each character outside the rule replaced by '_', an "X" in
// front when it does not begin with a letter, cut at 25 characters.
std::string mended_name(const std::string& word);

struct DeckValues {
    std::string name;   // a word name_fault accepts
    std::string symbol; // the space group, on the name line when it fits
    CellValues cell;
    double wave;
    double ymin, ymax, zero;
};

// The deck: the name line (the word, then a blank and the symbol when both
// fit in 25 columns), the cell and the wavelength, ymin ymax zero, npeak,
// then the h, k, l and extinct lists, each on lines of its own. Every real
// is the shortest text that reads back as the same single-precision value.
std::string deck_text(const DeckValues& values, const std::vector<Reflection>& list);

// The shortest text that reads back as the single-precision value of x
// ("5.64", "100", "1e-05").
std::string float_text(double x);

} // namespace peakhkl
