#include "pipeline.hpp"

#include "celcon.hpp"
#include "deck.hpp"
#include "plot.hpp"
#include "positions.hpp"

namespace peakpos {

void run_deck(ByteSource& in, Sink& out, Run& run) {
    read_deck(in, run);
    compute(run);
    write_plot(run, out);
}

void compute(Run& run) {
    run.flag4 = run.flag5 = run.flag6 = false;
    // A reciprocal cell comes back as the direct one; nothing later reads it.
    celcon(run.a, run.b, run.c, run.alpha, run.beta, run.gamma, run.rcv, run.rcp, run.vol,
           run.prcp);
    positions(run);
}

} // namespace peakpos
