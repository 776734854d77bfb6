// peakpos: reads a deck (cell, wavelength, reflections) on standard input
// and writes the plot script of the reflection positions on standard output.
// With --check it writes the reflections as a table instead and warns about
// what looks mistaken in the deck.
//
// Exit status: 0 after a complete run (with --check: and nothing to warn
// about); 2 when the deck cannot be read (the reason on standard error,
// nothing on standard output) or the arguments are wrong; 1 when the output
// cannot be written (the reason on standard error), after an interrupt or a
// termination request, and with --check when there are warnings.

#include "check.hpp"
#include "deck.hpp"
#include "io.hpp"
#include "pipeline.hpp"
#include "run.hpp"
#include "signals.hpp"

#include <cstdio>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

peakpos::Run run; // about 140 KiB: kept off the stack

constexpr const char* usage = R"(usage: peakpos [--check] < DECK
       peakpos --help | --version

Reads a deck on standard input: a name line; a b c alpha beta gamma wave;
ymin ymax zero; npeak; the h, the k and the l of every reflection; optionally
a flag per reflection (0 allowed, else extinct). Writes the plot script of
the reflections' 2theta on standard output.

  --check    read and compute the same, but write the reflections as a table
             (i h k l d 2theta extinct) and warn on standard error about what
             a hand-written deck often gets wrong
  --help     write this help and exit
  --version  write the version and exit

Exit status: 0 done (--check: nothing to warn about); 1 the output could not
be written, or interrupted (--check: warnings); 2 the deck cannot be read
(standard error says where and why), or a wrong argument.

The deck format, the script and examples: man peakpos
)";

enum class Mode { script, check };

// Refuses an argument; a file name gets the way to give it.
int refuse(std::string_view arg) {
    struct stat st;
    const std::string name(arg);
    if (!arg.starts_with('-') || stat(name.c_str(), &st) == 0)
        std::fprintf(stderr, "peakpos: %s: the deck goes on standard input: peakpos < %s\n",
                     name.c_str(), name.c_str());
    else
        std::fprintf(stderr, "peakpos: %s: unknown option\n", name.c_str());
    std::fputs(usage, stderr);
    return 2;
}

int run_mode(Mode mode) {
    peakpos::install_signal_handlers();
    try {
        peakpos::FdSource in(STDIN_FILENO);
        if (mode == Mode::script) {
            peakpos::FdSink out(STDOUT_FILENO);
            peakpos::run_deck(in, out, run);
            return 0;
        }
        peakpos::FdSink out(STDOUT_FILENO, "the table");
        const auto warnings = peakpos::check_deck(in, run);
        peakpos::write_table(run, out);
        for (const auto& w : warnings)
            std::fprintf(stderr, "peakpos: %s\n", peakpos::warning_line(w).c_str());
        return warnings.empty() ? 0 : 1;
    } catch (const peakpos::DeckError& e) {
        std::fprintf(stderr, "peakpos: %s\n", e.what());
        return 2;
    } catch (const peakpos::IoError& e) {
        std::fprintf(stderr, "peakpos: %s\n", e.what.c_str());
        return e.reading ? 2 : 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 1) return run_mode(Mode::script);
    const std::string_view arg = argv[1];
    if (argc > 2) return refuse(arg == "--check" ? argv[2] : argv[1]);
    if (arg == "--check") return run_mode(Mode::check);
    if (arg == "--help") {
        std::fputs(usage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (arg == "--version") {
        std::printf("peakpos %s\n", PEAKPOS_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return refuse(arg);
}
