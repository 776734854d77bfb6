// peakpos: reads a deck (cell, wavelength, reflections) on standard input
// and writes the plot script of the reflection positions on standard output.
//
// Exit status: 0 after a complete run; 2 when the deck cannot be read (the
// reason on standard error, nothing on standard output); 1 when the script
// cannot be written (the reason on standard error), or after an interrupt
// or a termination request.

#include "deck.hpp"
#include "io.hpp"
#include "pipeline.hpp"
#include "run.hpp"
#include "signals.hpp"

#include <cstdio>
#include <unistd.h>

namespace {
peakpos::Run run; // about 140 KiB: kept off the stack
}

int main() {
    peakpos::install_signal_handlers();
    try {
        peakpos::FdSource in(STDIN_FILENO);
        peakpos::FdSink out(STDOUT_FILENO);
        peakpos::run_deck(in, out, run);
    } catch (const peakpos::DeckError& e) {
        std::fprintf(stderr, "peakpos: %s\n", e.what());
        return 2;
    } catch (const peakpos::IoError& e) {
        std::fprintf(stderr, "peakpos: %s\n", e.what.c_str());
        return e.reading ? 2 : 1;
    }
    return 0;
}
