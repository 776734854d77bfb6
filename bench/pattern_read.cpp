// The pattern reader on large files: a million points of plain columns,
// 128 MiB of blank lines, a GSAS STD file of a million counts. Writes each
// file (in a stream of small writes, so that writing it takes no memory),
// reads it through pattern::read and prints the seconds the read took and
// the process's peak memory after it (one file per run: pass its kind).
//
//   pattern_read_bench columns|blank|std [DIR]
#include "pattern/pattern.hpp"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pattern_read_bench columns|blank|std [DIR]\n");
        return 2;
    }
    const std::string kind = argv[1];
    const std::string path = std::string(argc > 2 ? argv[2] : "/tmp") + "/pattern_bench." + kind;
    {
        std::ofstream out(path);
        char line[64];
        if (kind == "columns") {
            for (long k = 0; k < 1'000'000; ++k) {
                const int n =
                    std::snprintf(line, sizeof line, "%.4f %.1f\n", 5 + 0.0001 * k, 100.0 + k % 97);
                out.write(line, n);
            }
        } else if (kind == "blank") {
            const std::string blanks(1 << 20, '\n');
            for (int k = 0; k < 128; ++k) out << blanks;
        } else if (kind == "std") {
            out << "a million counts\nBANK 1 1000000 100000 CONST 500.00 0.01 0 0 STD\n";
            for (long k = 0; k < 1'000'000; ++k) {
                std::snprintf(line, sizeof line, "%8ld", 100 + k % 97);
                out << line << ((k + 1) % 10 == 0 ? "\n" : "");
            }
        } else {
            std::fprintf(stderr, "pattern_read_bench: no kind %s\n", kind.c_str());
            return 2;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    std::string what;
    try {
        const pattern::Pattern p = pattern::read(path);
        what = std::to_string(p.points()) + " points";
    } catch (const pattern::ReadError& e) {
        what = std::string("refused: ") + e.what();
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%-8s %.3f s, %.0f MiB at most: %s\n", kind.c_str(), s, ru.ru_maxrss / 1024.0,
                what.c_str());
    std::remove(path.c_str());
    return 0;
}
