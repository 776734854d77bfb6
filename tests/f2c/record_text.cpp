#include "record_text.hpp"

#include "peakpos/deck.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace peakpos::test {

namespace {

void append_list(std::string& s, const char* name, const Array1<std::int32_t, maxpeak>& v, int n) {
    s += name;
    for (int i = 1; i <= n; ++i) s += " " + std::to_string(v(i));
    s += '\n';
}

} // namespace

std::string record_text(const Run& run) {
    std::string s = "dnam ";
    char hex[16];
    for (const char ch : run.dnam) {
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(ch));
        s += hex;
    }
    s += "\nreals";
    for (const float v : {run.a, run.b, run.c, run.alpha, run.beta, run.gamma, run.wave, run.ymin,
                          run.ymax, run.zero}) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        std::snprintf(hex, sizeof hex, " %08x", static_cast<unsigned>(bits));
        s += hex;
    }
    s += "\nnpeak " + std::to_string(run.npeak) + "\n";
    const int n = run.npeak > 0 ? run.npeak : 0;
    append_list(s, "h", run.h, n);
    append_list(s, "k", run.k, n);
    append_list(s, "l", run.l, n);
    append_list(s, "extinct", run.extinct, n);
    return s;
}

std::string read_as_text(std::string_view deck, Run& run) {
    run = Run{};
    MemorySource in(deck);
    try {
        read_deck(in, run);
    } catch (const DeckError& e) {
        return std::string("refused ") + e.what() + "\n";
    }
    return record_text(run);
}

} // namespace peakpos::test
