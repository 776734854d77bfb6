// Checks the plot script's number fields against the C library's printf:
// for every float whose bit pattern is a multiple of STRIDE (1 = all 2^32 of
// them; negative ones and NaNs included), real_field(v) must be the blank,
// the sign column and printf's "%.9G" text of v's magnitude with a point
// added where the text has none.
//
//   peakpos_fields_check [STRIDE [FIRST LAST]]   (bit patterns, hex or decimal)
//
// The script's formatting works the digits out itself where it can, so this
// is the proof that it writes what "%.9G" writes.
#include "peakpos/plot.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string reference(float v) {
    std::string f = " ";
    double mag = v;
    if (v < 0.0f) {
        f += '-';
        mag = -mag;
    } else {
        f += ' ';
    }
    if (mag == 0.0) return f + "0.";
    char text[64];
    std::snprintf(text, sizeof text, "%.9G", mag);
    if (text[0] == 'I' || text[0] == 'N' || std::strchr(text, '.') != nullptr) return f + text;
    const char* e = std::strchr(text, 'E');
    if (e == nullptr) return f + text + ".";
    return f + std::string(text, static_cast<std::size_t>(e - text)) + "." + e;
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t stride = argc > 1 ? std::strtoull(argv[1], nullptr, 0) : 1;
    const std::uint64_t first = argc > 3 ? std::strtoull(argv[2], nullptr, 0) : 0;
    const std::uint64_t last = argc > 3 ? std::strtoull(argv[3], nullptr, 0) : 0xFFFFFFFFu;
    if (stride == 0 || first > last || last > 0xFFFFFFFFu) return 2;
    const unsigned nthreads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::uint64_t> checked(nthreads), wrong(nthreads);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < nthreads; ++t) {
        threads.emplace_back([&, t] {
            for (std::uint64_t b = first + t * stride; b <= last; b += nthreads * stride) {
                const float v = std::bit_cast<float>(static_cast<std::uint32_t>(b));
                const std::string got = peakpos::real_field(v), want = reference(v);
                ++checked[t];
                if (got != want && ++wrong[t] <= 5)
                    std::fprintf(stderr, "0x%08llx (%.9g): \"%s\", printf gives \"%s\"\n",
                                 static_cast<unsigned long long>(b), double{v}, got.c_str(),
                                 want.c_str());
            }
        });
    }
    for (std::thread& th : threads) th.join();
    std::uint64_t n = 0, bad = 0;
    for (unsigned t = 0; t < nthreads; ++t) {
        n += checked[t];
        bad += wrong[t];
    }
    std::printf("%llu floats checked, %llu fields differ from printf's %%.9G\n",
                static_cast<unsigned long long>(n), static_cast<unsigned long long>(bad));
    return bad == 0 ? 0 : 1;
}
