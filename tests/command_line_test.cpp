// The command line of the real program: what each argument writes on the
// two streams and the exit status it gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Runs peakpos with args on deck as standard input (and standard output on
// out_path, when given).
Outcome run(const std::vector<std::string>& args, const std::string& deck,
            const char* out_path = nullptr) {
    char dir[] = "/tmp/peakpos-cli-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    const std::string in = std::string(dir) + "/in", out = std::string(dir) + "/out",
                      err = std::string(dir) + "/err";
    std::ofstream(in, std::ios::binary) << deck;
    const pid_t pid = fork();
    if (pid == 0) {
        const char* paths[] = {in.c_str(), out_path ? out_path : out.c_str(), err.c_str()};
        for (int fd = 0; fd < 3; ++fd) {
            const int f = fd == 0 ? open(paths[0], O_RDONLY)
                                  : open(paths[fd], O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(f, fd);
            close(f);
        }
        std::vector<char*> argv{const_cast<char*>("peakpos")};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(PEAKPOS_BINARY, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), slurp(out),
              slurp(err)};
    for (const auto& p : {in, out, err}) std::remove(p.c_str());
    rmdir(dir);
    return o;
}

const std::string example = "NaCl\n5.64 5.64 5.64 90 90 90 1.54\n0 100 0.05\n5\n"
                            "1 2 2 1 9\n1 0 2 0 9\n1 0 0 0 9\n0 0 0 1 0\n";
const std::string table = "i\th\tk\tl\td\t2theta\textinct\n"
                          "1\t1\t1\t1\t3.25625563\t27.3563347\t0\n"
                          "2\t2\t0\t0\t2.81999993\t31.6916389\t0\n"
                          "3\t2\t2\t0\t1.99404109\t45.4303703\t0\n"
                          "4\t1\t0\t0\t5.63999987\t15.6936054\t1\n"
                          "5\t9\t9\t9\t0.361806184\t-1.\t0\n";
const std::string transposed = "NaCl\n5.64 5.64 5.64 90 90 90 1.54\n0 100 0.05\n2\n1 1 1 0\n2 0 "
                               "0 0\n1 0\n";
const std::string refusal = "peakpos: line 4, column 1: npeak: expected a number, found \"x\"\n";
const std::string usage_start = "usage: peakpos [--check] < DECK\n";

struct CommandCase {
    const char* what;
    std::vector<std::string> args;
    std::string deck;
    int status;
    std::string out; // exactly, or its start when out_prefix
    bool out_prefix = false;
    std::string err;        // its start
    bool err_exact = false; // err is the whole of it
};

// The arguments refused: each is followed by the whole usage on standard error.
bool refused_argument(const CommandCase& c) {
    return c.status == 2 && !c.args.empty() && c.args != std::vector<std::string>{"--check"};
}

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.what;
}

class Commands : public testing::TestWithParam<CommandCase> {};

TEST_P(Commands, AnswerOnTheirStreams) {
    const CommandCase& c = GetParam();
    const Outcome o = run(c.args, c.deck);
    EXPECT_EQ(o.status, c.status) << o.err;
    if (c.out_prefix)
        EXPECT_EQ(o.out.substr(0, c.out.size()), c.out);
    else
        EXPECT_EQ(o.out, c.out);
    if (c.err_exact)
        EXPECT_EQ(o.err, c.err);
    else
        EXPECT_EQ(o.err.substr(0, c.err.size()), c.err);
    // Every refused argument shows the whole usage, on standard error.
    if (refused_argument(c)) {
        EXPECT_NE(o.err.find(usage_start), std::string::npos) << o.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Process, Commands,
    testing::Values(
        CommandCase{
            "no argument: the plot script", {}, example, 0, " set NaCl(x) {\n", true, "", true},
        CommandCase{"a sound deck checked: the table, no warning",
                    {"--check"},
                    example,
                    0,
                    table,
                    false,
                    "",
                    true},
        CommandCase{"a transposed deck checked: the table and warnings",
                    {"--check"},
                    transposed,
                    1,
                    "i\th\tk\tl\td\t2theta\textinct\n1\t1\t2\t1\t2.30252051\t39.0740776\t0\n"
                    "2\t1\t0\t0\t5.63999987\t15.6936054\t0\n",
                    false,
                    "peakpos: line 5, column 5: warning: \"1 0\" after h(2) is not read: a read "
                    "ignores the rest of its last line (one reflection per line, npeak too small, "
                    "or a line missing?)\n"
                    "peakpos: line 6, column 5: warning: \"0 0\" after k(2) is not read"},
        CommandCase{"a refused deck checked: the plain run's refusal",
                    {"--check"},
                    "NaCl\n5 5 5 90 90 90 1\n0 1 0\nx\n",
                    2,
                    "",
                    false,
                    refusal,
                    true},
        CommandCase{"a refused deck",
                    {},
                    "NaCl\n5 5 5 90 90 90 1\n0 1 0\nx\n",
                    2,
                    "",
                    false,
                    refusal,
                    true},
        CommandCase{
            "--help: the usage on standard output", {"--help"}, "", 0, usage_start, true, "", true},
        CommandCase{
            "--version", {"--version"}, "", 0, "peakpos " PEAKPOS_VERSION "\n", false, "", true},
        CommandCase{"a file name: the way to give it",
                    {"deck.file"},
                    example,
                    2,
                    "",
                    false,
                    "peakpos: deck.file: the deck goes on standard input: peakpos < deck.file\n" +
                        usage_start},
        CommandCase{"an unknown option",
                    {"--bogus"},
                    example,
                    2,
                    "",
                    false,
                    "peakpos: --bogus: unknown option\n" + usage_start},
        CommandCase{"a file after --check",
                    {"--check", "examples/nacl.deck"},
                    example,
                    2,
                    "",
                    false,
                    "peakpos: examples/nacl.deck: the deck goes on standard input: peakpos < "
                    "examples/nacl.deck\n"}));

TEST(Commands, ATableThatCannotBeWrittenIsReported) {
    const Outcome o = run({"--check"}, example, "/dev/full");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "peakpos: cannot write the table: No space left on device\n");
}

TEST(Commands, AnExistingFileThatLooksLikeAnOptionGetsTheWayToGiveIt) {
    const char* name = "-peakpos-cli-test.deck";
    std::ofstream(name) << example;
    const Outcome o = run({name}, example);
    std::remove(name);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.substr(0, o.err.find('\n') + 1),
              std::string("peakpos: ") + name + ": the deck goes on standard input: peakpos < " +
                  name + "\n");
}

} // namespace
