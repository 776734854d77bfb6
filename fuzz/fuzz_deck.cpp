// libFuzzer target: any bytes as a deck, through the whole run in memory
// (read, convert, compute, write the plot script into a string).
//
// Besides the sanitizers' findings it checks what a user relies on:
// a refused deck writes nothing, a deck that reads gives a script of whole
// lines, and a deck with CR LF line ends gives the same script as with LF.
// The check (peakpos --check) runs on every deck too: it must refuse the
// decks a plain run refuses, with the same message, and compute for the
// others exactly what the plain run writes.
#include "peakpos/check.hpp"
#include "peakpos/deck.hpp"
#include "peakpos/io.hpp"
#include "peakpos/pipeline.hpp"
#include "peakpos/plot.hpp"
#include "peakpos/run.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

// What one run made of a deck: refused (and why), or the plot script.
struct Outcome {
    bool refused = false;
    std::string why;
    std::string script;
};

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

Outcome run_once(std::string_view deck) {
    static auto run = std::make_unique<peakpos::Run>(); // too large for the stack
    *run = peakpos::Run{};
    peakpos::MemorySource in(deck);
    peakpos::StringSink out;
    Outcome o;
    try {
        peakpos::run_deck(in, out, *run);
    } catch (const peakpos::DeckError& e) {
        o.refused = true;
        o.why = e.what();
        if (!out.text.empty()) fault("a refused deck wrote to the script");
        return o;
    }
    if (out.text.empty() || out.text.back() != '\n' || out.flushes == 0)
        fault("the script does not end in a flushed line");
    o.script = std::move(out.text);
    return o;
}

// The check of a deck against the plain run's outcome.
void check_once(std::string_view deck, const Outcome& plain) {
    static auto run = std::make_unique<peakpos::Run>();
    *run = peakpos::Run{};
    peakpos::MemorySource in(deck);
    std::vector<peakpos::Warning> warnings;
    try {
        warnings = peakpos::check_deck(in, *run);
    } catch (const peakpos::DeckError& e) {
        if (!plain.refused || plain.why != e.what()) fault("the check refuses otherwise");
        return;
    }
    if (plain.refused) fault("the check reads a deck that the plain run refuses");
    for (const auto& w : warnings)
        if (w.at.line < 1 || w.text.empty()) fault("a warning without its line or text");
    peakpos::StringSink script, table;
    peakpos::write_plot(*run, script);
    if (script.text != plain.script) fault("the check computes otherwise than the plain run");
    peakpos::write_table(*run, table);
    if (std::count(table.text.begin(), table.text.end(), '\n') !=
        1 + std::max<std::int32_t>(run->npeak, 0))
        fault("the table does not hold one line a reflection");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view deck(reinterpret_cast<const char*>(data), size);
    const Outcome lf = run_once(deck);
    check_once(deck, lf);
    if (deck.find('\r') == std::string_view::npos && deck.find('\n') != std::string_view::npos) {
        std::string crlf;
        for (const char c : deck) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        const Outcome o = run_once(crlf);
        if (o.refused != lf.refused || o.script != lf.script)
            fault("CR LF line ends change the outcome");
    }
    return 0;
}
