// peakhkl: writes a deck for peakpos from a crystal, given by a CIF file or
// by a cell and a space group.
//
// Exit status: 0 after a complete deck; 2 when the input is refused (the
// reason on standard error, nothing on standard output); 1 when the deck or
// the table cannot be written.

#include "peakhkl/cli.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const peakhkl::Outcome outcome = peakhkl::run(std::vector<std::string>(argv + 1, argv + argc));
    std::fputs(outcome.err.c_str(), stderr);
    if (outcome.status != 0) return outcome.status;
    if (std::fwrite(outcome.out.data(), 1, outcome.out.size(), stdout) != outcome.out.size() ||
        std::fflush(stdout) != 0) {
        std::fprintf(stderr, "peakhkl: cannot write %s: %s\n", outcome.what.c_str(),
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
