// The data-set name: its 25 columns on a deck's first line, the word a plot
// script is named after, and what a Tcl front end and BLT vectors accept as
// that word. peakpos's reader and writer and peakhkl all follow these rules.
#pragma once

#include <array>
#include <string_view>

namespace peakpos {

inline constexpr int namelen = 25; // width of the data-set name

// The first blank-delimited word of the name (only the space counts as a
// blank); a single blank when the name is all blanks.
std::string_view name_word(const std::array<char, namelen>& dnam);

// The first byte of word that a Tcl front end would not take as plain text
// (brackets, braces, $, backslash, ;, ", control characters, or a leading
// #); -1 when the word is safe. peakpos refuses a deck whose word has one.
int unsafe_name_byte(std::string_view word);

// Where word stops being a name that a Tcl front end can give its array
// variable and its BLT vectors: the index of the first byte that is not an
// ASCII letter, digit, '_', '.' or ':', or of the second colon of "::"
// (Tcl takes a::b for a namespace that does not exist); -1 when word can
// name them. peakhkl writes only such words; peakpos --check warns about
// any other.
int vector_name_fault(std::string_view word);

} // namespace peakpos
