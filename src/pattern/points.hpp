// The checks every format's points go through, in one place: each point
// appended to the pattern's current range is finite and within the
// magnitude the plot and the fit can handle, its 2theta above the one
// before, its sigma not negative; then each range gets its default sigma
// and its gaps.
#pragma once

#include "pattern/pattern.hpp"

#include <cstddef>
#include <limits>
#include <string>

namespace pattern {

inline constexpr double max_magnitude = 1e100; // a larger value is refused
// A step of more than this many times the range's median step is a gap.
inline constexpr double gap_factor = 5.0;

class Points {
  public:
    Points(std::string file, const Options& options, Pattern& pattern);

    // Closes the current range (kept where it has points) and opens another.
    void start_range();
    // Appends the point read at line (0 where the format has no lines; the
    // message then says which point of which range). sigma: NaN where the
    // file gives none (a reader passes a sigma written as NaN as infinity). A value that is no
    // finite number (NaN, an infinity, a number past the largest double) makes no point: the line
    // is skipped and counted for a note (returns false). Throws ReadError for the rest.
    bool add(double x, double y, double sigma, std::size_t line);
    // Appends the extra columns of the last point (Options::all_columns).
    Range& current();
    // Ends the last range, notes the skipped lines, fills in the default
    // sigma and finds the gaps. Throws ReadError where the file holds
    // fewer than two points (why: the first line that was not read, or
    // empty).
    void finish(const std::string& why);

    std::size_t count() const { return count_; }

  private:
    [[noreturn]] void fail(std::size_t line, const std::string& reason) const;
    std::string where(std::size_t line) const;

    std::string file_;
    const Options& options_;
    Pattern& pattern_;
    std::size_t count_ = 0;
    std::size_t last_line_ = 0;
    std::size_t skipped_ = 0;
    std::size_t first_skipped_ = 0;
    std::size_t zero_sigma_ = 0;
    std::size_t first_zero_sigma_ = 0;
};

// The indices i where x[i] - x[i-1] exceeds gap_factor times the median step.
std::vector<std::size_t> find_gaps(const std::vector<double>& x);

} // namespace pattern
