// The text of measured patterns as old and new programs write it: lines,
// decimal numbers (Fortran's D exponent, a leading point, a decimal comma)
// and the quoting of a file's text in a message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pattern::text {

// Walks the lines of a text: each without its '\n' and a final '\r'.
class Lines {
  public:
    explicit Lines(std::string_view text) : rest_(text) {}
    // The next line and its number (from 1); false at the end.
    bool next(std::string_view& line);
    std::size_t number() const { return number_; }
    // Passes over the lines ahead that hold only blanks, in one tight loop
    // (a file of blank lines is read in a fraction of a second).
    void skip_blank_lines();

  private:
    std::string_view rest_;
    std::size_t number_ = 0;
};

inline bool is_blank(char c) { // ' ', '\t', '\r', '\f', '\v'
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
inline std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// The decimal number at the start of s: an optional sign, digits with an
// optional point (the decimal comma where point is ','), an optional
// exponent (E, e, D or d, with or without a sign). Returns its length, 0
// where s starts with no number. The value is the nearest double, +-inf
// past the largest one, +-0 below the smallest.
std::size_t scan_number(std::string_view s, char point, double& value);

// The length of a word NaN, Inf or Infinity (any case, optional sign) at
// the start of s, 0 otherwise.
std::size_t scan_nonfinite(std::string_view s);

// s as a message may quote it: control characters as \xNN, cut to at
// most max bytes ("..." after it).
std::string quoted(std::string_view s, std::size_t max = 60);

// v as the shortest text that reads back as v.
std::string number_text(double v);

} // namespace pattern::text
