// The messages and exits of the signals a run can receive.
#pragma once

namespace peakpos {

// Interrupt: "Interrupt", exit 1 (left ignored if it was ignored at start).
// Termination request: "Killed", exit 1. Floating-point exception:
// "Floating Exception", then abort. Abort: "IOT Trap", then abort.
void install_signal_handlers();

} // namespace peakpos
