#include "pattern/points.hpp"

#include "pattern/text.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pattern {

Points::Points(std::string file, const Options& options, Pattern& pattern)
    : file_(std::move(file)), options_(options), pattern_(pattern) {
    pattern_.ranges.emplace_back();
}

void Points::fail(std::size_t line, const std::string& reason) const {
    throw ReadError(file_, line, line == 0 ? where(0) + reason : reason);
}

// "point N of range R: " where the format has no lines.
std::string Points::where(std::size_t line) const {
    if (line != 0) return "";
    return "point " + std::to_string(pattern_.ranges.back().x.size() + 1) + " of range " +
           std::to_string(pattern_.ranges.size()) + ": ";
}

void Points::start_range() {
    if (!pattern_.ranges.back().x.empty()) pattern_.ranges.emplace_back();
}

Range& Points::current() {
    return pattern_.ranges.back();
}

bool Points::add(double x, double y, double sigma, std::size_t line) {
    if (!std::isfinite(x) || !std::isfinite(y) || std::isinf(sigma)) {
        if (skipped_++ == 0) first_skipped_ = line;
        return false;
    }
    for (const double v : {x, y, sigma}) {
        if (std::fabs(v) > max_magnitude)
            fail(line, "the value " + text::number_text(v) +
                           " lies beyond ±1e100, which no pattern holds");
    }
    if (sigma < 0) fail(line, "the σ " + text::number_text(sigma) + " is negative");
    if (sigma == 0 && zero_sigma_++ == 0) first_zero_sigma_ = line;
    Range& r = pattern_.ranges.back();
    if (!r.x.empty() && !(x > r.x.back())) {
        const std::string before =
            last_line_ != 0 ? " (line " + std::to_string(last_line_) + ")" : "";
        fail(line,
             "2θ " + text::number_text(x) + " is not above the point before's " +
                 text::number_text(r.x.back()) + before +
                 ": within a range 2θ must increase (a new range starts at a line \"# range N\")");
    }
    if (count_ >= options_.max_points)
        fail(line, "more than " + std::to_string(options_.max_points) + " points, the most read");
    r.x.push_back(x);
    r.y.push_back(y);
    r.sigma.push_back(sigma); // NaN: filled in by finish
    ++count_;
    last_line_ = line;
    return true;
}

void Points::finish(const std::string& why) {
    auto& ranges = pattern_.ranges;
    ranges.erase(
        std::remove_if(ranges.begin(), ranges.end(), [](const Range& r) { return r.x.empty(); }),
        ranges.end());
    if (skipped_ > 0) {
        pattern_.notes.push_back(
            {first_skipped_,
             std::to_string(skipped_) + (skipped_ == 1 ? " line holds" : " lines hold") +
                 " a value that is no finite number (NaN, infinity, or past the "
                 "largest double) and made no point" +
                 (first_skipped_ != 0 ? "; the first: line " + std::to_string(first_skipped_)
                                      : "")});
    }
    if (zero_sigma_ > 0) {
        pattern_.notes.push_back(
            {first_zero_sigma_,
             std::to_string(zero_sigma_) + (zero_sigma_ == 1 ? " point has" : " points have") +
                 " σ = 0 (no weight can be taken from it)" +
                 (first_zero_sigma_ != 0 ? "; the first: line " + std::to_string(first_zero_sigma_)
                                         : "")});
    }
    if (count_ < 2) {
        const std::string what = count_ == 0 ? "no data point" : "only one data point";
        if (why.empty() && skipped_ > 0 && first_skipped_ != 0)
            throw ReadError(file_, 0,
                            what + "; line " + std::to_string(first_skipped_) +
                                " holds a value that is no finite number");
        throw ReadError(
            file_, 0,
            what + (why.empty() ? " (2θ and intensity, two points at least)" : "; " + why));
    }
    for (Range& r : ranges) {
        r.sigma_given =
            std::none_of(r.sigma.begin(), r.sigma.end(), [](double s) { return std::isnan(s); });
        for (std::size_t i = 0; i < r.x.size(); ++i)
            if (std::isnan(r.sigma[i])) r.sigma[i] = std::sqrt(std::max(r.y[i], 1.0));
        r.gaps = find_gaps(r.x);
    }
}

std::vector<std::size_t> find_gaps(const std::vector<double>& x) {
    std::vector<std::size_t> gaps;
    if (x.size() < 3) return gaps;
    std::vector<double> steps(x.size() - 1);
    for (std::size_t i = 1; i < x.size(); ++i) steps[i - 1] = x[i] - x[i - 1];
    auto mid = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), mid, steps.end());
    const double median = *mid;
    for (std::size_t i = 1; i < x.size(); ++i)
        if (x[i] - x[i - 1] > gap_factor * median) gaps.push_back(i);
    return gaps;
}

} // namespace pattern
