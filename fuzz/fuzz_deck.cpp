// libFuzzer target: any bytes as a deck, through the whole run in memory
// (read, convert, compute, write the plot script into a string).
//
// Besides the sanitizers' findings it checks what a user relies on:
// a refused deck writes nothing, a deck that reads gives a script of whole
// lines, and a deck with CR LF line ends gives the same script as with LF.
#include "peakpos/deck.hpp"
#include "peakpos/io.hpp"
#include "peakpos/pipeline.hpp"
#include "peakpos/run.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

// What one run made of a deck: refused, or the plot script.
struct Outcome {
    bool refused = false;
    std::string script;
};

Outcome run_once(std::string_view deck) {
    static auto run = std::make_unique<peakpos::Run>(); // too large for the stack
    *run = peakpos::Run{};
    peakpos::MemorySource in(deck);
    peakpos::StringSink out;
    Outcome o;
    try {
        peakpos::run_deck(in, out, *run);
    } catch (const peakpos::DeckError&) {
        o.refused = true;
        if (!out.text.empty()) {
            std::fprintf(stderr, "a refused deck wrote %zu bytes\n", out.text.size());
            std::abort();
        }
        return o;
    }
    if (out.text.empty() || out.text.back() != '\n' || out.flushes == 0) {
        std::fprintf(stderr, "the script does not end in a flushed line\n");
        std::abort();
    }
    o.script = std::move(out.text);
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view deck(reinterpret_cast<const char*>(data), size);
    const Outcome lf = run_once(deck);
    if (deck.find('\r') == std::string_view::npos && deck.find('\n') != std::string_view::npos) {
        std::string crlf;
        for (const char c : deck) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        const Outcome o = run_once(crlf);
        if (o.refused != lf.refused || o.script != lf.script) {
            std::fprintf(stderr, "CR LF line ends change the outcome\n");
            std::abort();
        }
    }
    return 0;
}
