// The real program as a process: signals, bounded memory, output errors.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string example = "NaCl\n5.64 5.64 5.64 90 90 90 1.54\n0 100 0.05\n5\n"
                            "1 2 2 1 9\n1 0 2 0 9\n1 0 0 0 9\n0 0 0 1 0\n";

struct Child {
    pid_t pid = -1;
    int in = -1, out = -1, err = -1; // our ends of its standard streams
};

// Starts peakpos with pipes on all three streams (or stdout on out_path).
Child spawn(bool ignore_interrupt = false, const char* out_path = nullptr) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        if (out_path) {
            const int fd = open(out_path, O_WRONLY);
            dup2(fd, 1);
        } else {
            dup2(out[1], 1);
        }
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        if (ignore_interrupt) signal(SIGINT, SIG_IGN);
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        execl(PEAKPOS_BINARY, "peakpos", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]), close(out[1]), close(err[1]);
    return Child{pid, in[1], out[0], err[0]};
}

std::string drain(int fd) {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return text;
}

void send(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
}

// True once the process has its handler for the termination request in
// place, read from the caught-signal mask the kernel shows.
bool handlers_installed(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
}

void wait_for_handlers(pid_t pid) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!handlers_installed(pid)) {
        ASSERT_LT(std::chrono::steady_clock::now(), limit)
            << "peakpos never installed its handlers";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct SignalCase {
    int sig;
    const char* message;
    bool aborts; // ends by SIGABRT rather than exit status 1
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << "signal " << c.sig;
}

class Signals : public testing::TestWithParam<SignalCase> {};

TEST_P(Signals, PrintTheirMessageAndEndTheRun) {
    Child c = spawn();
    wait_for_handlers(c.pid);
    send(c.in, "NaCl\n5.64 "); // the reader now waits for more on an open pipe
    ASSERT_EQ(kill(c.pid, GetParam().sig), 0);
    const std::string err = drain(c.err);
    int status = 0;
    waitpid(c.pid, &status, 0);
    close(c.in);
    EXPECT_EQ(drain(c.out), "");
    EXPECT_NE(err.find(GetParam().message), std::string::npos) << err;
    if (GetParam().aborts) {
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGABRT);
    } else {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(err, std::string(GetParam().message));
    }
}

INSTANTIATE_TEST_SUITE_P(Process, Signals,
                         testing::Values(SignalCase{SIGINT, "Interrupt\n", false},
                                         SignalCase{SIGTERM, "Killed\n", false},
                                         SignalCase{SIGFPE, "Floating Exception\n", true},
                                         SignalCase{SIGABRT, "IOT Trap\n", true}));

TEST(Signals, AnInterruptIgnoredAtStartStaysIgnored) {
    Child c = spawn(true);
    wait_for_handlers(c.pid);
    ASSERT_EQ(kill(c.pid, SIGINT), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int status = 0;
    EXPECT_EQ(waitpid(c.pid, &status, WNOHANG), 0) << "the interrupt ended the run";
    send(c.in, example);
    close(c.in);
    const std::string out = drain(c.out);
    EXPECT_EQ(drain(c.err), "");
    waitpid(c.pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(out.rfind(" set NaCl(x) {\n", 0), 0u);
}

// Runs peakpos on what feed writes to its standard input; returns its
// standard output and, in peak_kib, its peak resident size.
std::string run_fed(const std::function<void(int)>& feed, long& peak_kib) {
    Child c = spawn();
    std::thread writer([&] {
        feed(c.in);
        close(c.in);
    });
    const std::string out = drain(c.out);
    drain(c.err);
    writer.join();
    int status = 0;
    rusage usage{};
    wait4(c.pid, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    peak_kib = usage.ru_maxrss;
    return out;
}

TEST(Memory, StaysBoundedWhateverTheLineLength) {
    const char* env = std::getenv("PEAKPOS_BIG_DECK_MIB");
    const std::size_t mib = env ? std::strtoul(env, nullptr, 10) : 1024;
    long small = 0, big = 0;
    const std::string small_out = run_fed([](int fd) { send(fd, example); }, small);
    // The name line, the cell line and the extinct line each carry a third
    // of the filler as trailing words.
    const std::string words(1 << 20, 'w');
    const auto filler = [&](int fd, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) send(fd, words);
    };
    const std::string big_out = run_fed(
        [&](int fd) {
            send(fd, "NaCl ");
            filler(fd, mib / 3);
            send(fd, "\n5.64 5.64 5.64 90 90 90 1.54 ");
            filler(fd, mib / 3);
            send(fd, "\n0 100 0.05\n5\n1 2 2 1 9\n1 0 2 0 9\n1 0 0 0 9\n0 0 0 1 0 ");
            filler(fd, mib - 2 * (mib / 3));
            send(fd, "\n");
        },
        big);
    EXPECT_EQ(big_out, small_out);
    EXPECT_LT(big - small, 4096) << "KiB above the example deck's run, for " << mib
                                 << " MiB of input";
}

TEST(Output, AFailedWriteIsReported) {
    Child c = spawn(false, "/dev/full");
    send(c.in, example);
    close(c.in);
    const std::string err = drain(c.err);
    close(c.out);
    int status = 0;
    waitpid(c.pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(err, "peakpos: cannot write the plot script: No space left on device\n");
}

} // namespace
