// peakpos --check: the warning each common mistake of a hand-written deck
// gives, none for a sound deck, the same refusals as a plain run, the table.
#include "peakpos/check.hpp"
#include "peakpos/deck.hpp"
#include "peakpos/pipeline.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

namespace peakpos {
namespace {

// The warnings of a deck, one "line N, column M: warning: ..." a line.
std::string warnings_of(const std::string& deck) {
    auto run = std::make_unique<peakpos::Run>();
    MemorySource in(deck);
    std::string text;
    for (const Warning& w : check_deck(in, *run)) text += warning_line(w) + "\n";
    return text;
}

const std::string head = "NaCl\n5.64 5.64 5.64 90 90 90 1.54\n0 100 0.05\n";
const std::string example = head + "5\n1 2 2 1 9\n1 0 2 0 9\n1 0 0 0 9\n0 0 0 1 0\n";
const std::string one_each = "1\n1\n1\n1\n"; // one reflection, (1 1 1), allowed

struct CheckCase {
    const char* mistake;
    std::string deck;
    std::string warnings;
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.mistake;
}

class Mistakes : public testing::TestWithParam<CheckCase> {};

TEST_P(Mistakes, GiveTheirWarning) {
    EXPECT_EQ(warnings_of(GetParam().deck), GetParam().warnings) << GetParam().mistake;
}

const std::string dropped = " is not read: a read ignores the rest of its last line";
const std::string slid = dropped + " (one reflection per line, npeak too small, or a line "
                                   "missing?)\n";
const std::string odd_flag = ": any flag but 0 marks an extinct reflection, but a flag other "
                             "than 0 and 1 is often an index on the wrong line\n";
const std::string blt = ", which a BLT vector name cannot (letters, digits, _, . and : only): a "
                        "front end cannot make its vectors\n";

INSTANTIATE_TEST_SUITE_P(
    HandWrittenDecks, Mistakes,
    testing::Values(
        CheckCase{"the example deck is sound", example, ""},
        CheckCase{"comments after a slash, ! or #, blank lines at the end",
                  head + "3 / reflections\n1 2 3 ! h\n1 1 1 # k\n1 1 1\n0 0 0 /flags\n\n \n", ""},
        CheckCase{"one reflection per line", head + "3\n1 1 1 0\n2 0 0 0\n2 2 0 0\n",
                  "line 5, column 7: warning: \"0\" after h(3)" + slid +
                      "line 6, column 7: warning: \"0\" after k(3)" + slid +
                      "line 7, column 7: warning: \"0\" after l(3)" + slid},
        CheckCase{"as many reflections as columns: the zero indices and the slid flags",
                  head + "4\n1 1 1 0\n2 0 0 0\n2 2 0 0\n3 1 1 1\n",
                  "line 5, column 7: warning: reflection 4 has the indices 0 0 0: no reflection\n"
                  "line 8, column 1: warning: extinct(1) is 3" +
                      odd_flag},
        CheckCase{"no npeak line", head + "1 2 2 1 9\n1 0 2 0 9\n1 0 0 0 9\n0 0 0 1 0\n",
                  "line 4, column 3: warning: \"2 2 1 9\" after npeak" + dropped +
                      " (is the npeak line missing?)\n"
                      "line 5, column 3: warning: \"0 2 0 9\" after h(1)" +
                      slid + "line 6, column 3: warning: \"0 0 0 9\" after k(1)" + slid +
                      "line 7, column 3: warning: \"0 0 1 0\" after l(1)" + slid},
        CheckCase{"a short l line takes from the flags",
                  head + "5\n1 2 2 1 9\n1 0 2 0 9\n1 0 0 0\n0 0 0 1 0\n",
                  "line 8, column 3: warning: \"0 0 1 0\" after l(5)" + slid},
        CheckCase{"four-index h k i l lines", head + "3\n1 1 2\n0 1 0\n-1 -2 -2\n0 0 2\n0 0 0\n",
                  "line 8, column 5: warning: extinct(3) is 2" + odd_flag +
                      "line 9, column 1: warning: 1 line after the extinct flags' line is not "
                      "read, from \"0 0 0\" (four-index h k i l lines, or a line too many?)\n"},
        CheckCase{"a fifth index with npeak 4", head + "4\n1 2 2 1 9\n1 0 2 0\n1 0 0 0\n",
                  "line 5, column 9: warning: \"9\" after h(4)" + slid},
        CheckCase{"an overline copied from a paper", head + "2\n1 1\xCC\x84\n1 0\n1 0\n",
                  "line 5, column 4: warning: \"\\xCC\\x84\" after h(2)" + slid},
        CheckCase{"a cell in nm", "x\n0.5431 0.5431 0.5431 90 90 90 1.54\n0 1 0\n" + one_each,
                  "line 2, column 1: warning: a is 0.5431, not above 1: the cell is taken as a "
                  "reciprocal cell (a*, b*, c* and their angles); lengths in nm? a direct cell "
                  "wants them in the wavelength's unit\n"},
        CheckCase{"decimal commas", "x\n5,431 5,431 5,431 90 90 90 1,54\n0 1 0,05\n" + one_each,
                  "line 2, column 19: warning: no reflection gives a stick: of 1, 1 beyond the "
                  "wavelength's reach (2theta -1)\n"
                  "line 2, column 22: warning: \"90 90 1,54\" after wave" +
                      dropped +
                      " (a value too many, or a decimal comma?)\n"
                      "line 3, column 7: warning: \"05\" after zero" +
                      dropped + " (a value too many, or a decimal comma?)\n"},
        CheckCase{"angles that make no cell", "x\n5 5 5 60 60 150 1.54\n0 1 0\n" + one_each,
                  "line 2, column 7: warning: the cell 5 5 5 60 60 150 has no volume (NaN): its "
                  "angles cannot close a cell (each must be below the sum of the other two, and "
                  "the three below 360): d and 2theta mean nothing\n"},
        CheckCase{"an angle whose sine is 0", "x\n5 5 5 90 90 0 1.54\n0 1 0\n" + one_each,
                  "line 2, column 13: warning: the cell 5 5 5 90 90 0 has an angle of 0 or 180, "
                  "or within about 0.014 of it, whose sine is 0: d and 2theta mean nothing\n"},
        CheckCase{"a length of 0", "x\n5 5 0 90 90 90 1.54\n0 1 0\n" + one_each,
                  "line 2, column 5: warning: the cell 5 5 0 90 90 90 has a length that is not a "
                  "number above 0: d and 2theta mean nothing\n"},
        CheckCase{"a wavelength not above 0", "x\n5 5 5 90 90 90 -1.54\n0 1 0\n" + one_each,
                  "line 2, column 16: warning: wave is -1.54, not above 0: no reflection can "
                  "give a stick\n"},
        CheckCase{"a wavelength of 0", "x\n5 5 5 90 90 90 0\n0 1 0\n" + one_each,
                  "line 2, column 16: warning: wave is 0, not above 0: no reflection can give a "
                  "stick\n"},
        CheckCase{"no reflection within the wavelength's reach",
                  "x\n5 5 5 90 90 90 1.54\n0 1 0\n2\n9 8\n9 8\n9 8\n",
                  "line 2, column 16: warning: no reflection gives a stick: of 2, 2 beyond the "
                  "wavelength's reach (2theta -1)\n"},
        CheckCase{"npeak 0", head + "0\n\n\n",
                  "line 4, column 1: warning: npeak is 0: the deck "
                  "lists no reflection\n"},
        CheckCase{"npeak 0 with indices", head + "0\n1 2\n1 0\n1 0\n",
                  "line 4, column 1: warning: npeak is 0: the deck lists no reflection\n"
                  "line 5, column 1: warning: \"1 2\" on the h line is not read: with npeak 0 the "
                  "h read takes no value\n"
                  "line 6, column 1: warning: \"1 0\" on the k line is not read: with npeak 0 the "
                  "k read takes no value\n"
                  "line 7, column 1: warning: \"1 0\" on the l line is not read: with npeak 0 the "
                  "l read takes no value\n"},
        CheckCase{"a long text after a read is cut",
                  head + "1 " + std::string(50, 'w') + "\n1\n1\n1\n",
                  "line 4, column 3: warning: \"" + std::string(40, 'w') + "\"... after npeak" +
                      dropped + " (is the npeak line missing?)\n"},
        CheckCase{"a reflection twice", head + "3\n1 2 1\n1 0 1\n1 0 1\n",
                  "line 5, column 5: warning: reflection 3 (1 1 1) repeats reflection 1\n"},
        CheckCase{"many repeats: the first five, then a count", head + "8\n8*1\n8*1\n8*1\n",
                  "line 5, column 1: warning: reflection 2 (1 1 1) repeats reflection 1\n"
                  "line 5, column 1: warning: reflection 3 (1 1 1) repeats reflection 1\n"
                  "line 5, column 1: warning: reflection 4 (1 1 1) repeats reflection 1\n"
                  "line 5, column 1: warning: reflection 5 (1 1 1) repeats reflection 1\n"
                  "line 5, column 1: warning: reflection 6 (1 1 1) repeats reflection 1\n"
                  "line 5, column 1: warning: 2 more reflections repeat an earlier one\n"},
        CheckCase{"an extinct flag of 3", head + "2\n1 2\n1 0\n1 0\n0 3\n",
                  "line 8, column 3: warning: extinct(2) is 3" + odd_flag},
        CheckCase{"a name word that is no vector name",
                  "Fe-1 x\n5 5 5 90 90 90 1\n0 1 0\n" + one_each,
                  "line 1, column 3: warning: the name word \"Fe-1\" holds \"-\"" + blt},
        CheckCase{"a name word that Tcl takes for a namespace",
                  "Fe::Cr x\n5 5 5 90 90 90 1\n0 1 0\n" + one_each,
                  "line 1, column 3: warning: the name word \"Fe::Cr\" holds \"::\", which Tcl "
                  "takes for a namespace: a front end cannot make its vectors\n"},
        CheckCase{"a blank name line", "\n5 5 5 90 90 90 1\n0 1 0\n" + one_each,
                  "line 1: warning: the name line is blank in its first 25 columns: the data set "
                  "has no name for its vectors\n"},
        CheckCase{"the 25-column cut inside a UTF-8 character",
                  std::string(24, 'x') + "\xC3\xA9\n5 5 5 90 90 90 1\n0 1 0\n" + one_each,
                  "line 1, column 25: warning: the name word \"" + std::string(24, 'x') +
                      "\\xC3\" holds \"\\xC3\"" + blt +
                      "line 1, column 25: warning: the name line is cut at column 25 inside a "
                      "UTF-8 character: the name word ends in \"\\xC3\"\n"},
        CheckCase{"the 25-column cut inside a 4-byte UTF-8 character, 3 bytes kept",
                  std::string(22, 'x') + "\xF0\x9F\x98\x80x\n5 5 5 90 90 90 1\n0 1 0\n" + one_each,
                  "line 1, column 23: warning: the name word \"" + std::string(22, 'x') +
                      "\\xF0\\x9F\\x98\" holds \"\\xF0\"" + blt +
                      "line 1, column 23: warning: the name line is cut at column 25 inside a "
                      "UTF-8 character: the name word ends in \"\\xF0\\x9F\\x98\"\n"},
        CheckCase{"a = 1 exactly is reciprocal", "x\n1 1 1 90 90 90 0.5\n0 1 0\n" + one_each,
                  "line 2, column 1: warning: a is 1, not above 1: the cell is taken as a "
                  "reciprocal cell (a*, b*, c* and their angles); lengths in nm? a direct cell "
                  "wants them in the wavelength's unit\n"},
        CheckCase{"every reflection 0 0 0", head + "2\n0 0\n0 0\n0 0\n",
                  "line 2, column 25: warning: no reflection gives a stick: of 2, 2 with 2theta 0 "
                  "or below\n"
                  "line 5, column 1: warning: reflection 1 has the indices 0 0 0: no reflection\n"
                  "line 5, column 3: warning: reflection 2 has the indices 0 0 0: no reflection\n"},
        CheckCase{"0 0 1 is a reflection, 0 0 0 is none", head + "2\n0 0\n0 0\n1 0\n",
                  "line 5, column 3: warning: reflection 2 has the indices 0 0 0: no reflection\n"},
        CheckCase{"a negative extinct flag", head + "2\n1 2\n1 0\n1 0\n0 -1\n",
                  "line 8, column 3: warning: extinct(2) is -1" + odd_flag},
        CheckCase{"a byte-order mark", "\xEF\xBB\xBFNaCl\n5 5 5 90 90 90 1\n0 1 0\n" + one_each,
                  "line 1, column 1: warning: the deck begins with a byte-order mark (EF BB BF), "
                  "which becomes part of the name word\n"}));

// The check reads with the plain run's reader: it refuses the same decks
// with the same message.
TEST(Check, RefusesWhatThePlainRunRefuses) {
    for (const std::string& deck :
         {std::string(""), head + "five\n", std::string("NaCl\n5.43l 5.43\n"),
          head + "2\n1 2\n1 0\n2*", std::string("NaCl\r5 5 5 90 90 90 1\r0 1 0\r")}) {
        std::string plain, checked;
        try {
            auto run = std::make_unique<peakpos::Run>();
            MemorySource in(deck);
            StringSink out;
            run_deck(in, out, *run);
        } catch (const DeckError& e) {
            plain = e.what();
        }
        try {
            warnings_of(deck);
        } catch (const DeckError& e) {
            checked = e.what();
        }
        EXPECT_NE(plain, "") << deck;
        EXPECT_EQ(checked, plain) << deck;
    }
}

// An input that never ends: TEXT, then BYTE for ever.
class EndlessSource final : public ByteSource {
  public:
    EndlessSource(std::string text, char byte) : text_(std::move(text)), byte_(byte) {}
    std::size_t read(char* buf, std::size_t n) override {
        std::size_t i = 0;
        for (; i < n && at_ < text_.size(); ++i) buf[i] = text_[at_++];
        for (; i < n; ++i) buf[i] = byte_;
        return n;
    }

  private:
    std::string text_;
    char byte_;
    std::size_t at_ = 0;
};

struct EndlessCase {
    const char* what;
    std::string text;
    char byte;
    std::string outcome; // the refusal, or the last warning and the flags read
};

// The check ends on an input that never ends: with the plain run's refusal
// where the deck has one, else at its bound.
TEST(Check, EndsOnEndlessInput) {
    const std::string deck = head + "2\n1 2\n1 0\n1 0\n";
    for (const EndlessCase& c : std::initializer_list<EndlessCase>{
             {"NUL bytes (/dev/zero): the name's refusal", "", '\0',
              "line 1, column 1: the name line: expected a name word without Tcl syntax or "
              "control characters, found \"\\x00\""},
             {"a name line without end", "", 'A',
              "line 1: the deck: expected its l values within 64 MiB, found more (a check reads "
              "no further)"},
             {"blank lines before the cell", "NaCl\n", '\n',
              "line 67108861: the deck: expected its l values within 64 MiB, found more (a check "
              "reads no further)"},
             {"blank lines after the l values", deck, '\n',
              "line 1048584: warning: the input goes on past 1 MiB after the l values: not read "
              "further; flags 0 0"},
             {"digits after the flags", deck + "0 1 ", '1',
              "line 8: warning: the input goes on past 1 MiB after the l values: not read "
              "further; flags 0 1"},
         }) {
        auto run = std::make_unique<peakpos::Run>();
        EndlessSource in(c.text, c.byte);
        std::string outcome;
        try {
            const auto warnings = check_deck(in, *run);
            outcome = warning_line(warnings.back()) + "; flags " + std::to_string(run->extinct(1)) +
                      " " + std::to_string(run->extinct(2));
        } catch (const DeckError& e) {
            outcome = e.what();
        }
        EXPECT_EQ(outcome, c.outcome) << c.what;
    }
}

TEST(Check, TableHoldsTheScriptsFields) {
    auto run = std::make_unique<peakpos::Run>();
    MemorySource in(example);
    check_deck(in, *run);
    StringSink out;
    write_table(*run, out);
    EXPECT_EQ(out.text, "i\th\tk\tl\td\t2theta\textinct\n"
                        "1\t1\t1\t1\t3.25625563\t27.3563347\t0\n"
                        "2\t2\t0\t0\t2.81999993\t31.6916389\t0\n"
                        "3\t2\t2\t0\t1.99404109\t45.4303703\t0\n"
                        "4\t1\t0\t0\t5.63999987\t15.6936054\t1\n"
                        "5\t9\t9\t9\t0.361806184\t-1.\t0\n");
}

} // namespace
} // namespace peakpos
