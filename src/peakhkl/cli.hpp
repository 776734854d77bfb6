// peakhkl's command line: the options, the run they ask for, and what it
// writes, kept in memory so that the tests run it without a process.
#pragma once

#include <string>
#include <vector>

namespace peakhkl {

struct Outcome {
    int status = 0;                // 0 done, 2 refused (the reason in err), 1 the table not written
    std::string out;               // the deck, for standard output
    std::string err;               // for standard error: notes, or the reason of a refusal
    std::string what = "the deck"; // what out holds, for a failure to write it
};

// Runs peakhkl with args (without the program name). The table of --table
// is written to its file here; the deck is left in out.
Outcome run(const std::vector<std::string>& args);

// The usage text of --help.
std::string usage();

} // namespace peakhkl
