#include "signals.hpp"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace peakpos {

namespace {

// Only async-signal-safe calls from here on.
void say(const char* message) {
    const std::size_t n = std::strlen(message);
    [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, message, n);
}

void die_aborting() {
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

extern "C" void on_interrupt(int) {
    say("Interrupt\n");
    ::_exit(1);
}
extern "C" void on_termination(int) {
    say("Killed\n");
    ::_exit(1);
}
extern "C" void on_floating_point(int) {
    say("Floating Exception\n");
    die_aborting();
}
extern "C" void on_abort(int) {
    say("IOT Trap\n");
    die_aborting();
}

void handle(int sig, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

} // namespace

void install_signal_handlers() {
    struct sigaction old {};
    sigaction(SIGINT, nullptr, &old);
    if (old.sa_handler != SIG_IGN) handle(SIGINT, on_interrupt);
    handle(SIGTERM, on_termination);
    handle(SIGFPE, on_floating_point);
    handle(SIGABRT, on_abort);
}

} // namespace peakpos
