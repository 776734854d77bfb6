// Why peakhkl cannot make a deck: where the fault is (an option, or a CIF
// file with its line and tag), what was expected there and what was found.
#pragma once

#include <stdexcept>
#include <string>

namespace peakhkl {

class InputError : public std::runtime_error {
  public:
    InputError(std::string where, std::string expected, std::string found);
    std::string where;    // "--cell", "quartz.cif:7: _cell_length_a", ...
    std::string expected; // "a positive length", ...
    std::string found;    // "\"-3\"", "none", ...
};

// The text between double quotes, as found in an error message.
std::string quoted(const std::string& text);

// The shortest text that reads back as the same double ("5.431", "1e-05").
std::string number_text(double value);

} // namespace peakhkl
