// A seeded generator of hostile decks: mostly decks that read, written in
// every form the free-format rules allow, and many that break a rule
// (letters in fields, bad repeat counts, broken exponents, truncation at a
// random byte, a missing line end, stray carriage returns...). Deck number
// i of seed s is always the same text.
#pragma once

#include <cstdint>
#include <string>

namespace peakpos::test {

class DeckGen {
  public:
    DeckGen(std::uint64_t seed, std::uint64_t index);
    std::string deck();

  private:
    std::uint64_t next();
    int below(int n);            // 0 .. n-1
    int between(int lo, int hi); // lo .. hi
    bool chance(double p);
    template <typename T, std::size_t N> const T& pick(const T (&list)[N]) {
        return list[below(static_cast<int>(N))];
    }

    std::string name_line();
    std::string digits(int n, bool leading_nonzero);
    std::string real_text();
    std::string tricky_text(bool integer);
    std::string integer_text(bool flag);
    std::string hostile_text();
    std::string value(bool integer, bool flag);
    std::string separator();
    void list_read(std::string& out, int items, bool integer, bool flag);
    std::string npeak_text(int& npeak);
    void mutate(std::string& deck);

    std::uint64_t state_;
    bool hostile_ = false; // this deck breaks rules now and then
    double newline_p_ = 0; // how often a separator is a line end
    double edge_p_ = 0;    // how often an index is one at or beyond the 32-bit range
};

} // namespace peakpos::test
