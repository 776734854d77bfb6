// How fast peakpos is on one deck.
//
//   peakpos_bench --deck FILE --peakpos BIN --replay BIN [--runs N] [--iterations N]
//
// 1. The in-memory pipeline: read the deck from memory, convert the cell,
//    compute the positions and write the script into a string, no I/O;
//    the median over the iterations, also split into its phases.
// 2. The whole run: BIN < FILE with standard output on /dev/null and on a
//    pipe that this program drains; the median wall time over the runs, from
//    starting the process to its exit, and its write calls (counted by the
//    kernel: syscw in /proc/PID/io).
// 3. The same for peakpos_replay, a trivial program that makes the very
//    write calls of a peakpos run, with the same bytes (recorded from a run
//    whose standard output is a message socket, one message a write).
//    The two programs take turns, so that a slow spell hits both.
//
// Before timing, it checks that the in-memory script is byte for byte the
// program's. Exit status 0 when it is (whatever the figures), 1 when not.
#include "peakpos/celcon.hpp"
#include "peakpos/deck.hpp"
#include "peakpos/io.hpp"
#include "peakpos/pipeline.hpp"
#include "peakpos/plot.hpp"
#include "peakpos/positions.hpp"
#include "peakpos/run.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void die(const std::string& msg) {
    std::fprintf(stderr, "peakpos_bench: %s\n", msg.c_str());
    std::exit(1);
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// ---- In memory -------------------------------------------------------------

struct Phases {
    double read = 0, compute = 0, write = 0;
};

std::string in_memory_script(const std::string& deck, peakpos::Run& run) {
    run = peakpos::Run{};
    peakpos::MemorySource in(deck);
    peakpos::StringSink out;
    peakpos::run_deck(in, out, run);
    return out.text;
}

double time_pipeline(const std::string& deck, peakpos::Run& run) {
    run = peakpos::Run{};
    peakpos::MemorySource in(deck);
    peakpos::StringSink out;
    const auto t0 = Clock::now();
    peakpos::run_deck(in, out, run);
    return seconds_since(t0);
}

Phases time_phases(const std::string& deck, peakpos::Run& run) {
    run = peakpos::Run{};
    peakpos::MemorySource in(deck);
    peakpos::StringSink out;
    Phases p;
    auto t0 = Clock::now();
    peakpos::read_deck(in, run);
    p.read = seconds_since(t0);
    t0 = Clock::now();
    run.flag4 = run.flag5 = run.flag6 = false;
    peakpos::celcon(run.a, run.b, run.c, run.alpha, run.beta, run.gamma, run.rcv, run.rcp, run.vol,
                    run.prcp);
    peakpos::positions(run);
    p.compute = seconds_since(t0);
    t0 = Clock::now();
    peakpos::write_plot(run, out);
    p.write = seconds_since(t0);
    return p;
}

// ---- Whole runs --------------------------------------------------------------

enum class Out { devnull, pipe, messages };

struct Exec {
    double seconds = 0;
    long writes = -1;              // write calls, from /proc/PID/io
    std::vector<std::string> msgs; // Out::messages: one string a write call
};

long write_calls(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long value;
    while (io >> key >> value)
        if (key == "syscw:") return value;
    return -1;
}

Exec execute(const std::vector<std::string>& argv, const std::string& input, Out out) {
    const int in = ::open(input.c_str(), O_RDONLY);
    if (in < 0) die("cannot open " + input);
    int child_out = -1, ours = -1;
    if (out == Out::devnull) {
        child_out = ::open("/dev/null", O_WRONLY);
    } else {
        int fds[2];
        if (out == Out::pipe ? ::pipe(fds) != 0
                             : ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0)
            die("cannot make a pipe");
        ours = fds[0];
        child_out = fds[1];
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, child_out, STDOUT_FILENO);
    if (ours >= 0) posix_spawn_file_actions_addclose(&fa, ours);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    Exec e;
    pid_t pid;
    const auto t0 = Clock::now();
    if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0)
        die("cannot start " + argv[0]);
    ::close(child_out);
    if (ours >= 0) {
        static std::vector<char> buf(1 << 22);
        for (;;) {
            const ssize_t got = ::read(ours, buf.data(), buf.size());
            if (got < 0) die("cannot read the script");
            if (got == 0) break;
            if (out == Out::messages)
                e.msgs.emplace_back(buf.data(), static_cast<std::size_t>(got));
        }
        ::close(ours);
    }
    // Wait for the exit but keep the process, so that its counters can still be read.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0)
        die("cannot wait for " + argv[0]);
    e.seconds = seconds_since(t0);
    e.writes = write_calls(pid);
    int status;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die(argv[0] + " failed on " + input + ", status " + std::to_string(status));
    posix_spawn_file_actions_destroy(&fa);
    ::close(in);
    return e;
}

void print_ms(const char* what, double s) {
    std::printf("%s%.3f ms", what, s * 1e3);
}

} // namespace

int main(int argc, char** argv) {
    std::string deck_path, peakpos_bin, replay_bin;
    int runs = 200, iterations = 500;
    // Each option with its value.
    for (int i = 1; i < argc; i += 2) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (v && a == "--deck")
            deck_path = v;
        else if (v && a == "--peakpos")
            peakpos_bin = v;
        else if (v && a == "--replay")
            replay_bin = v;
        else if (v && a == "--runs")
            runs = std::atoi(v);
        else if (v && a == "--iterations")
            iterations = std::atoi(v);
        else
            die("usage: peakpos_bench --deck FILE --peakpos BIN --replay BIN [--runs N] "
                "[--iterations N]");
    }
    if (deck_path.empty() || peakpos_bin.empty() || replay_bin.empty() || runs < 1 ||
        iterations < 1)
        die("--deck, --peakpos and --replay are needed, and positive counts");

    const std::string deck = slurp(deck_path);
    auto run = std::make_unique<peakpos::Run>();

    // What the deck is, and the checks.
    const std::string script = in_memory_script(deck, *run);
    const int npeak = run->npeak;
    int visible = 0, extinct = 0;
    for (int i = 1; i <= npeak; ++i) {
        if (run->tt(i) > 0.0f) ++visible;
        if (run->tt(i) > 0.0f && run->extinct(i) != 0) ++extinct;
    }
    const Exec recorded = execute({peakpos_bin}, deck_path, Out::messages);
    std::string joined;
    for (const std::string& m : recorded.msgs) joined += m;
    if (joined != script) die(peakpos_bin + " and the in-memory pipeline write different scripts");
    const std::string calls_path = "peakpos_bench." + std::to_string(::getpid()) + ".calls";
    {
        std::ofstream calls(calls_path, std::ios::binary);
        for (const std::string& m : recorded.msgs) {
            const std::uint32_t n = static_cast<std::uint32_t>(m.size());
            calls.write(reinterpret_cast<const char*>(&n), 4);
            calls.write(m.data(), static_cast<std::streamsize>(n));
        }
        if (!calls) die("cannot write " + calls_path);
    }
    std::printf("deck %s: %d reflections, %d reach the pattern, %d of them extinct; %zu bytes\n",
                deck_path.c_str(), npeak, visible, extinct, deck.size());
    std::printf("script: %zu bytes in %zu write calls\n\n", script.size(), recorded.msgs.size());

    // 1. In memory.
    std::vector<double> whole, read, compute, write;
    for (int i = 0; i < std::max(iterations / 10, 1); ++i) time_pipeline(deck, *run); // warm up
    for (int i = 0; i < iterations; ++i) whole.push_back(time_pipeline(deck, *run));
    for (int i = 0; i < iterations; ++i) {
        const Phases p = time_phases(deck, *run);
        read.push_back(p.read);
        compute.push_back(p.compute);
        write.push_back(p.write);
    }
    const double t = median(whole);
    std::printf("in-memory pipeline (read, compute, write into a buffer), median of %d:\n",
                iterations);
    print_ms("  ", t);
    std::printf("  =  %.2f M reflections/s   (target: 2 M/s or more: %s)\n", npeak / t / 1e6,
                npeak / t >= 2e6 ? "met" : "MISSED");
    print_ms("  phases: read ", median(read));
    print_ms(", compute ", median(compute));
    print_ms(", write ", median(write));
    std::printf("\n\n");

    // 2. and 3. Whole runs, taking turns.
    long other_writes = 0;
    for (Out out : {Out::devnull, Out::pipe}) {
        std::vector<double> pp, rp;
        long pw = -1, rw = -1;
        for (int i = 0; i < runs + 5; ++i) {
            const Exec a = execute({peakpos_bin}, deck_path, out);
            const Exec b = execute({replay_bin, calls_path}, deck_path, out);
            if (i < 5) continue; // warm up
            pp.push_back(a.seconds);
            rp.push_back(b.seconds);
            pw = a.writes;
            rw = b.writes;
        }
        const double p = median(pp), r = median(rp);
        std::printf("whole run, standard output on %s, median of %d:\n",
                    out == Out::devnull ? "/dev/null" : "a pipe", runs);
        print_ms("  peakpos  ", p);
        std::printf(", %ld write calls\n", pw);
        print_ms("  replay   ", r);
        std::printf(", %ld write calls (the same calls and bytes, nothing else)\n", rw);
        print_ms("  peakpos above the replay: ", p - r);
        std::printf("   (target: 1 ms or less: %s)\n\n", p - r <= 1e-3 ? "met" : "MISSED");
        other_writes = std::max({other_writes, pw - static_cast<long>(recorded.msgs.size()),
                                 rw - static_cast<long>(recorded.msgs.size())});
    }
    std::remove(calls_path.c_str());
    if (other_writes > 0)
        std::printf("note: up to %ld write calls of a run went elsewhere than standard output "
                    "(a sanitizer's run-time library, for one)\n",
                    other_writes);
    return 0;
}
