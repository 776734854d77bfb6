// The deck reader: every free-format rule, every refusal, on small decks.
#include "peakpos/deck.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>

namespace peakpos {
namespace {

std::unique_ptr<Run> read(const std::string& text) {
    auto run = std::make_unique<peakpos::Run>();
    MemorySource in(text);
    read_deck(in, *run);
    return run;
}

// What the deck put in the run, on one line: the name, then the reads
// separated by " / " (reals in the shortest text that tells each float
// from its neighbours).
std::string summary(const Run& r) {
    std::string s(r.dnam.data(), r.dnam.size());
    const auto real = [&](float v, const char* sep) {
        char buf[40];
        s.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
        s += sep;
    };
    s += "|";
    for (float v : {r.a, r.b, r.c, r.alpha, r.beta, r.gamma}) real(v, " ");
    real(r.wave, " / ");
    real(r.ymin, " ");
    real(r.ymax, " ");
    real(r.zero, " / ");
    s += std::to_string(r.npeak);
    for (const auto* list : {&r.h, &r.k, &r.l, &r.extinct}) {
        s += " /";
        for (int i = 1; i <= std::min(r.npeak, 6); ++i) s += " " + std::to_string((*list)(i));
    }
    return s;
}

const std::string nacl = "NaCl                     |5.64 5.64 5.64 90 90 90 1.54 / 0 100 0.05 / ";
const std::string cell = "NaCl\n5.64 5.64 5.64 90 90 90 1.54\n0 100 0.05\n";

struct ReadCase {
    const char* rule;
    std::string deck;
    std::string expected; // summary()
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.rule;
}

class Reads : public testing::TestWithParam<ReadCase> {};

TEST_P(Reads, FillTheRunRecord) {
    EXPECT_EQ(summary(*read(GetParam().deck)), GetParam().expected) << GetParam().rule;
}

INSTANTIATE_TEST_SUITE_P(
    FreeFormat, Reads,
    testing::Values(
        ReadCase{"the example deck", cell + "5\n1 2 2 1 9\n1 0 2 0 9\n1 0 0 0 9\n0 0 0 1 0\n",
                 nacl + "5 / 1 2 2 1 9 / 1 0 2 0 9 / 1 0 0 0 9 / 0 0 0 1 0"},
        ReadCase{"blanks and tabs",
                 "NaCl\n \t5.64\t5.64  5.64 90 90 90 1.54 \t\n0\t100 0.05\n 2\n1 2\n3 4\n5 6\n",
                 nacl + "2 / 1 2 / 3 4 / 5 6 / 0 0"},
        ReadCase{"commas separate, a comma where a value begins is a null value",
                 "NaCl\n,5.64,,90 , 90,,1.54\n,100,,9\n2\n1,2\n,4\n5, ,\n",
                 "NaCl                     |0 5.64 0 90 90 0 1.54 / 0 100 0 / 2 / 1 2 / 0 4 / 5 0 "
                 "/ 0 0"},
        ReadCase{
            "a comma after a line end is a null value",
            "NaCl\n5.64 5.64 5.64\n,90 90 90 1.54\n0 100 0.05\n1\n1\n1\n1\n",
            "NaCl                     |5.64 5.64 5.64 0 90 90 90 / 0 100 0.05 / 1 / 1 / 1 / 1 / 0"},
        ReadCase{"a read spans lines and blank lines, the next starts after its last value",
                 "NaCl\n5.64\n\n5.64 5.64\n 90 90\n\n90 1.54 7 7\n0 100 0.05\n3\n1\n2\n3 9\n0 1 "
                 "1\n1 0 0\n",
                 nacl + "3 / 1 2 3 / 0 1 1 / 1 0 0 / 0 0 0"},
        ReadCase{"the rest of the line after a read is discarded",
                 cell + "3 reflections, h k l\n1 2 3 x y\n4 5 6 ,,,\n7 8 9 / 1\n1 1 1 1 1\n",
                 nacl + "3 / 1 2 3 / 4 5 6 / 7 8 9 / 1 1 1"},
        ReadCase{
            "a slash ends a read early",
            "NaCl\n5.64 5.64 / 90 90 90 1.54\n0 100/\n2\n1/\n1 2\n3 4\n/ 1 1\n",
            "NaCl                     |5.64 5.64 0 0 0 0 0 / 0 100 0 / 2 / 1 0 / 1 2 / 3 4 / 0 0"},
        ReadCase{
            "repeat counts r*v and null repeats r*",
            "NaCl\n3*5.64 +3*90 1.54\n2* 0.05\n5\n03*1 2*2\n5*0\n2*,3*7\n2*3 /\n",
            "NaCl                     |5.64 5.64 5.64 90 90 90 1.54 / 0 0 0.05 / 5 / 1 1 1 2 2 / "
            "0 0 0 0 0 / 0 0 7 7 7 / 3 3 0 0 0"},
        ReadCase{"a repeat's copies take the separator after the last one",
                 "NaCl\n2*5.64 , 5.64 90 90 90 1.54\n2*1\n,7\n"
                 "2\n1 1\n1 1\n1 1\n",
                 "NaCl                     |5.64 5.64 5.64 90 90 90 1.54 / 1 1 0 / 2 / 1 1 / 1 1 / "
                 "1 1 / 0 0"},
        ReadCase{
            "exponents: e E d D and a bare sign after the digits",
            "NaCl\n564-2 5.64e0 0.564E+1 9d1 9.0D+01 900.-1 154-2\n1.5-3 .5e1 1.e2\n1\n1\n1\n1\n",
            "NaCl                     |5.64 5.64 5.64 90 90 90 1.54 / 0.0015 5 100 / 1 / 1 / "
            "1 / 1 / 0"},
        ReadCase{"integers written as reals are truncated toward zero",
                 cell +
                     "3.9\n1.0 2.7 -2.7\n1e0 9.99 -0.5\n0.99999999999 -1.5-0 25-1\n1.5 0.5 -1.5\n",
                 nacl + "3 / 1 2 -2 / 1 9 0 / 0 -1 2 / 1 0 -1"},
        ReadCase{"a value ends where its number syntax ends",
                 "NaCl\n5.64 5.64 5.64 90 90 90 1.54A\n100.0.05 1\n1\n1\n1\n1\n",
                 "NaCl                     |5.64 5.64 5.64 90 90 90 1.54 / 100 0.05 1 / 1 / 1 / "
                 "1 / 1 / 0"},
        ReadCase{"beyond the single range: infinity; below it: zero; no negative zero",
                 "NaCl\n1e39 -1e39 1e-50 -0 -0.0 90 1e99999999\n0 100 0\n0\n\n\n",
                 "NaCl                     |inf -inf 0 0 0 90 inf / 0 100 0 / 0 / / / /"},
        ReadCase{"the decimal goes to the nearest double, then to single",
                 // 1 + 2^-24 (halfway between two floats) + 1e-25: the double is
                 // the halfway point, which rounds to even; straight to single it
                 // would round up.
                 "NaCl\n1.0000000596046447753906251 1.00000005960464477539062500001 1 1 1 1 1\n0 1 "
                 "0\n0\n\n\n",
                 "NaCl                     |1 1 1 1 1 1 1 / 0 1 0 / 0 / / / /"},
        ReadCase{"digits after the 40th significant one are dropped",
                 // (1 + 2^-24) + 2^-53, just above a double halfway point by
                 // 1e-60: the 40 digits kept fall below it.
                 "NaCl\n"
                 "1.00000005960464488641292746251565404236316680908203125"
                 "00000001 1 1 1 1 1 1\n"
                 "0 1 0\n0\n\n\n",
                 "NaCl                     |1 1 1 1 1 1 1 / 0 1 0 / 0 / / / /"},
        ReadCase{"CR LF line ends read as LF",
                 "NaCl\r\n5.64 5.64 5.64 90 90 90 1.54\r\n0 100 0.05\r\n2\r\n1 2\r\n1 0\r\n1 "
                 "0\r\n0 1\r\n",
                 nacl + "2 / 1 2 / 1 0 / 1 0 / 0 1"},
        ReadCase{"no extinct line", cell + "2\n1 2\n1 0\n1 0\n",
                 nacl + "2 / 1 2 / 1 0 / 1 0 / 0 0"},
        ReadCase{"the l line without its line end", cell + "2\n1 2\n1 0\n1 0",
                 nacl + "2 / 1 2 / 1 0 / 1 0 / 0 0"},
        ReadCase{"a repeat ending the l line at the end of input gives every copy",
                 cell + "3\n1 2 3\n1 0 0\n3*4", nacl + "3 / 1 2 3 / 1 0 0 / 4 4 4 / 0 0 0"},
        ReadCase{"extinct flags: short, spread, ended mid-line, repeats at the end",
                 cell + "4\n1 2 3 4\n0 0 0 0\n0 0 0 0\n-1\n2",
                 nacl + "4 / 1 2 3 4 / 0 0 0 0 / 0 0 0 0 / -1 2 0 0"},
        ReadCase{"extinct repeat at the end of input", cell + "4\n1 2 3 4\n0 0 0 0\n0 0 0 0\n1 3*7",
                 nacl + "4 / 1 2 3 4 / 0 0 0 0 / 0 0 0 0 / 1 7 7 7"},
        ReadCase{"extinct null repeat at the end of input", cell + "3\n1 2 3\n0 0 0\n0 0 0\n5 2*",
                 nacl + "3 / 1 2 3 / 0 0 0 / 0 0 0 / 5 0 0"},
        ReadCase{"npeak 0: the h and k lines are consumed, l and extinct may be missing",
                 cell + "0\n1 2\n3 4\n", nacl + "0 / / / /"},
        ReadCase{"a negative npeak reads no indices", cell + "-3 \n\n\n\n\n", nacl + "-3 / / / /"},
        ReadCase{"5000 reflections in one repeat", cell + "5000\n5000*1\n5000*2\n5000*3\n",
                 nacl + "5000 / 1 1 1 1 1 1 / 2 2 2 2 2 2 / 3 3 3 3 3 3 / 0 0 0 0 0 0"},
        ReadCase{"a repeat count of more digits than 64 bits hold",
                 cell + "2\n09000000000000000000000*2\n1 1\n1 1\n",
                 nacl + "2 / 2 2 / 1 1 / 1 1 / 0 0"},
        ReadCase{"32-bit extremes",
                 cell + "2\n2147483647 -2147483648\n2147483647.9 -2147483648.9\n0 0\n",
                 nacl + "2 / 2147483647 -2147483648 / 2147483647 -2147483648 / 0 0 / 0 0"}));

struct NameCase {
    std::string line;
    std::string dnam;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.line);
}

class Names : public testing::TestWithParam<NameCase> {};

TEST_P(Names, AreTheFirst25CharactersBlankPadded) {
    const auto run = read(GetParam().line + "\n5.64 5.64 5.64 90 90 90 1.54\n0 100 0\n0\n\n\n");
    EXPECT_EQ(std::string(run->dnam.data(), run->dnam.size()), GetParam().dnam);
}

INSTANTIATE_TEST_SUITE_P(
    NameLine, Names,
    testing::Values(NameCase{"NaCl", "NaCl                     "},
                    NameCase{"Sodium chloride rock salt reference", "Sodium chloride rock salt"},
                    NameCase{"", "                         "},
                    NameCase{"  quartz sample", "  quartz sample          "},
                    NameCase{"Fe\xC3\xA9-1:a,b/c*", "Fe\xC3\xA9-1:a,b/c*            "},
                    // Only the name word reaches the script: what follows it may hold anything.
                    NameCase{"quartz [x] {$y}\t#", "quartz [x] {$y}\t#        "}));

struct FatalCase {
    const char* rule;
    std::string deck;
    std::string message; // DeckError::what()
};

void PrintTo(const FatalCase& c, std::ostream* os) {
    *os << c.rule;
}

class Refusals : public testing::TestWithParam<FatalCase> {};

TEST_P(Refusals, SayWhereAndWhat) {
    try {
        read(GetParam().deck);
        ADD_FAILURE() << GetParam().rule << ": the deck was read";
    } catch (const DeckError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message) << GetParam().rule;
    }
}

INSTANTIATE_TEST_SUITE_P(
    BadDecks, Refusals,
    testing::Values(
        FatalCase{"empty input", "", "line 1: the name line: expected a line, found end of input"},
        FatalCase{"end inside the name line", "NaCl",
                  "line 1: the name line: expected the end of the line, found end of input"},
        FatalCase{"end after line 3", cell, "line 4: npeak: expected a number, found end of input"},
        FatalCase{"end inside the cell", "NaCl\n5.64 5.64\n",
                  "line 3: c: expected a number, found end of input"},
        FatalCase{"end inside l", cell + "3\n1 2 3\n1 0 0\n1 0",
                  "line 7: l(3): expected a number, found end of input"},
        FatalCase{"the k line without its line end", cell + "1\n1\n1",
                  "line 6: l(1): expected a number, found end of input"},
        FatalCase{"npeak 0 needs the k line", cell + "0\n\n",
                  "line 6: k: expected the end of the line, found end of input"},
        FatalCase{"letters for a number", cell + "five\n",
                  "line 4, column 1: npeak: expected a number, found \"five\""},
        FatalCase{"letters inside a list", cell + "3\n1 x2 3\n",
                  "line 5, column 3: h(2): expected a number, found \"x2\""},
        FatalCase{"a letter glued to a number is named after it", "NaCl\n5.43l 5.43 5.43\n",
                  "line 2, column 5: b: expected a number, found \"l\" right after 5.43"},
        FatalCase{"a combining overline after an index", cell + "2\n1\xCC\x84 0\n",
                  "line 5, column 2: h(2): expected a number, found \"\\xCC\\x84\" right after "
                  "1"},
        FatalCase{"a letter after a blank is not glued", "NaCl\n5.43 l\n",
                  "line 2, column 6: b: expected a number, found \"l\""},
        FatalCase{"the column counts bytes, tabs and the CR of CR LF as one",
                  "NaCl\r\n\t5.64 \xC3\xA9\n",
                  "line 2, column 7: b: expected a number, found \"\\xC3\\xA9\""},
        FatalCase{"columns past the reader's 64 KiB block",
                  std::string(70000, 'x') + "\r\n5.64 5.64 x\n",
                  "line 2, column 11: c: expected a number, found \"x\""},
        FatalCase{"a column past the reader's 64 KiB block",
                  "NaCl\n" + std::string(70000, ' ') + "x\n",
                  "line 2, column 70001: a: expected a number, found \"x\""},
        FatalCase{"a control byte for a number", cell + "1\n\x01\n",
                  "line 5, column 1: h(1): expected a number, found \"\\x01\""},
        FatalCase{"a lone CR is data", "NaCl\n5.64\r 5.64 5.64 90 90 90 1.54\n",
                  "line 2, column 5: b: expected a number, found \"\\x0D\" right after 5.64; the "
                  "lone CR (an old Mac line end) at line 2, column 5 does not end a line"},
        FatalCase{"lines that end in a lone CR", "NaCl\r5.64 5.64 5.64 90 90 90 1.54\r0 100 0\r",
                  "line 1: the name line: expected the end of the line, found end of input; the "
                  "lone CR (an old Mac line end) at line 1, column 5 does not end a line"},
        FatalCase{"repeat count zero", "NaCl\n0*5.64\n",
                  "line 2, column 1: a: expected a repeat count of at least 1, found \"0*5.64\""},
        FatalCase{"negative repeat count", "NaCl\n-2*5.64\n",
                  "line 2, column 1: a: expected a repeat count of at least 1, found \"-2*5.64\""},
        FatalCase{"a star without a count", "NaCl\n*5.64\n",
                  "line 2, column 1: a: expected a repeat count of at least 1, found \"*5.64\""},
        FatalCase{"exponent letter without digits", "NaCl\n5.64 1e\n",
                  "line 2, column 6: b: expected digits in the exponent, found \"1e\""},
        FatalCase{"exponent sign without digits", "NaCl\n5.64 5.64 1.5-,\n",
                  "line 2, column 11: c: expected digits in the exponent, found \"1.5-\""},
        FatalCase{"exponent above 99999999", "NaCl\n1e100000000\n",
                  "line 2, column 1: a: expected an exponent of at most 99999999, found "
                  "\"1e100000000\""},
        FatalCase{"a lone sign", "NaCl\n-,\n",
                  "line 2, column 1: a: expected a number, found \"-\""},
        FatalCase{"a lone point", "NaCl\n5.64 .,\n",
                  "line 2, column 6: b: expected a number, found \".\""},
        FatalCase{"a sign then an exponent", "NaCl\n-+3,\n",
                  "line 2, column 1: a: expected a number, found \"-+3\""},
        FatalCase{"a sign after a repeat", "NaCl\n3*-,\n",
                  "line 2, column 1: a: expected a number, found \"3*-\""},
        FatalCase{"letters after a repeat", "NaCl\n3*x\n",
                  "line 2, column 1: a: expected a number, found \"3*x\""},
        FatalCase{"a null repeat cut by the end of input before the l line is done",
                  cell + "2\n1 2\n1 0\n2*",
                  "line 7, column 1: l(1): expected a number, found \"2*\" and then the end of "
                  "input"},
        FatalCase{"a sign cut by the end of input in the extinct line",
                  cell + "2\n1 2\n1 0\n1 0\n1 -",
                  "line 8, column 3: extinct(2): expected a number, found \"-\" and then the end "
                  "of input"},
        FatalCase{"letters in the extinct line", cell + "2\n1 2\n1 0\n1 0\n1 x\n",
                  "line 8, column 3: extinct(2): expected a number, found \"x\""},
        FatalCase{"npeak above the table", cell + "5001\n",
                  "line 4, column 1: npeak: expected at most 5000 reflections, found \"5001\""},
        FatalCase{"npeak above the table, as a real", cell + " 5.001e3\n",
                  "line 4, column 2: npeak: expected at most 5000 reflections, found \"5.001e3\""},
        FatalCase{"an integer above 32 bits", cell + "1\n2147483648\n",
                  "line 5, column 1: h(1): expected an integer from -2147483648 to 2147483647, "
                  "found \"2147483648\""},
        FatalCase{"an integer below 32 bits", cell + "1\n0\n-2147483649\n",
                  "line 6, column 1: k(1): expected an integer from -2147483648 to 2147483647, "
                  "found \"-2147483649\""},
        FatalCase{"a long value is shown by its first 40 bytes",
                  cell + "1\n" + std::string(45, '1') + "\n",
                  "line 5, column 1: h(1): expected an integer from -2147483648 to 2147483647, "
                  "found \"" +
                      std::string(40, '1') + "\""},
        FatalCase{"an infinite integer", cell + "1e99\n",
                  "line 4, column 1: npeak: expected an integer from -2147483648 to 2147483647, "
                  "found \"1e99\""},
        FatalCase{"a long bad field is cut",
                  "NaCl\n5.64 abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz\n",
                  "line 2, column 6: b: expected a number, found "
                  "\"abcdefghijklmnopqrstuvwxyzabcdefghijklmn\""}));

// The name word is written unquoted into Tcl commands: every byte that Tcl
// would take as syntax refuses the deck.
class UnsafeNames : public testing::TestWithParam<std::string> {};

TEST_P(UnsafeNames, AreRefused) {
    const std::string& line = GetParam();
    try {
        read(line + "\n5.64 5.64 5.64 90 90 90 1.54\n0 100 0\n0\n\n\n");
        ADD_FAILURE() << "name line \"" << line << "\" was accepted";
    } catch (const DeckError& e) {
        EXPECT_EQ(e.at.line, 1);
        EXPECT_EQ(e.item, "the name line");
        EXPECT_EQ(e.expected, "a name word without Tcl syntax or control characters");
    }
}

INSTANTIATE_TEST_SUITE_P(NameWord, UnsafeNames,
                         testing::Values("a[b", "a]b", "{b", "b}", "$x", "a\\b", "a;b", "a\"b",
                                         "#x", "  #x", "a\tb", "a\x7F", "x\x01y",
                                         "a{b}$c[d]\"e; rest", std::string("a\0b", 3)));

TEST(UnsafeNames, NameTheOffendingByte) {
    try {
        read("  ok{ay\n");
        FAIL();
    } catch (const DeckError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "line 1, column 5: the name line: expected a name word without Tcl syntax or "
                  "control characters, found \"{\"");
    }
}

TEST(Reals, KeepTheirBitsThroughTheReader) {
    // 0.1 is 0x3DCCCCCD as a float; 1e-45 the smallest subnormal.
    const auto run = read("x\n0.1 1e-45 3.4028235e38 3.4028236e38 -0.1 90 1\n0 1 0\n0\n\n\n");
    EXPECT_EQ(std::bit_cast<std::uint32_t>(run->a), 0x3DCCCCCDu);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(run->b), 0x00000001u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(run->c), 0x7F7FFFFFu);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(run->alpha), 0x7F800000u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(run->beta), 0xBDCCCCCDu);
}

} // namespace
} // namespace peakpos
