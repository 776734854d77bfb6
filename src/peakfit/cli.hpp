// peakfit's command line: the options, the phases, the fit they ask for
// and the files it writes, kept in memory (but for the files under
// --out) so that the tests run it without a process.
#pragma once

#include <string>
#include <vector>

namespace peakfit {

struct Outcome {
    int status = 0;  // 0 converged, 1 written but not converged, 2 refused
    std::string out; // the summary table (or the help, the version)
    std::string err; // notes, one line per stage, the reason of a refusal
};

// Runs peakfit with args (without the program name). say, when given,
// receives each line for standard error as it comes (the stages' progress).
Outcome run(const std::vector<std::string>& args, void (*say)(const std::string&) = nullptr);

std::string usage();

} // namespace peakfit
