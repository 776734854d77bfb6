// The measured points a fit uses: the pattern's ranges cut to the 2theta
// range asked for, without the excluded regions, on one intensity scale.
#pragma once

#include "pattern/pattern.hpp"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace peakfit {

// Points in segments: each segment (one range of the pattern) sorted by x;
// segment s holds the points from start[s] to start[s + 1].
struct Data {
    std::vector<double> x, y, sigma;
    std::vector<std::size_t> start{0};
    std::vector<int> range_of_segment; // the pattern's range each segment came from
    double x_lo = 0, x_hi = 0;         // the span of all points

    std::size_t size() const { return x.size(); }
    std::size_t segments() const { return start.size() - 1; }
};

struct Selection {
    double lo = -1e300, hi = 1e300;                  // --range
    std::vector<std::pair<double, double>> excluded; // --exclude
};

// The points of the pattern within the selection. Where the ranges were
// counted for different times per step, counts and sigma are divided by
// the step time (counts per second), and a note says so.
Data select_points(const pattern::Pattern& pattern, const Selection& selection,
                   std::vector<std::string>& notes);

// A pattern of one range from columns, for tests and benchmarks.
pattern::Pattern pattern_of(std::vector<double> x, std::vector<double> y,
                            std::vector<double> sigma = {});

} // namespace peakfit
