// peakfit: fits the cells, the zero or the specimen displacement and the
// peak shapes of one or more phases to a measured powder pattern.
#include "peakfit/cli.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace {
void say(const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}
} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const peakfit::Outcome o = peakfit::run(args, say);
    std::fputs(o.err.c_str(), stderr);
    if (!o.out.empty() && (std::fputs(o.out.c_str(), stdout) < 0 || std::fflush(stdout) != 0)) {
        std::fputs("peakfit: cannot write to standard output\n", stderr);
        return o.status == 0 ? 1 : o.status;
    }
    return o.status;
}
