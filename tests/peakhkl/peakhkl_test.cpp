// peakhkl's reflection lists for a table of space groups, the choice of
// the space group from its symbol, the name word, and the deck read back
// by peakpos's own reader.
#include "peakhkl/cli.hpp"
#include "peakhkl/crystal.hpp"
#include "peakhkl/deck_writer.hpp"
#include "peakhkl/reflections.hpp"
#include "peakhkl/table.hpp"
#include "peakhkl/wavelengths.hpp"
#include "peakpos/deck.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

namespace peakhkl {
namespace {

Crystal crystal(const CellValues& cell, const std::string& sg) {
    return make_crystal(cell, symmetry_from_symbol(sg, cell, "--sg"), "--cell");
}

// "h k l" per reflection, a '*' after an extinct one, comma-separated.
std::string listing(const std::vector<Reflection>& list, std::size_t n = 1000) {
    std::string s;
    for (std::size_t i = 0; i < std::min(n, list.size()); ++i) {
        const Reflection& r = list[i];
        if (!s.empty()) s += ", ";
        s += std::to_string(r.hkl[0]) + " " + std::to_string(r.hkl[1]) + " " +
             std::to_string(r.hkl[2]) + (r.extinct ? "*" : "");
    }
    return s;
}

struct ListCase {
    const char* rule;
    CellValues cell;
    const char* sg;
    double d_min;
    std::string first;                // listing() of the first reflections
    std::vector<std::string> members; // listing() entries found somewhere in the list
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.rule;
}

class Lists : public testing::TestWithParam<ListCase> {};

TEST_P(Lists, HoldTheSetsInOrderWithTheirFlags) {
    const ListCase& c = GetParam();
    const auto list = reflection_list(crystal(c.cell, c.sg), c.d_min, false, 5000);
    ASSERT_TRUE(list);
    const std::string all = ", " + listing(*list) + ",";
    EXPECT_EQ(all.substr(2, c.first.size()), c.first);
    for (const std::string& m : c.members)
        EXPECT_NE(all.find(", " + m + ","), std::string::npos) << m;
}

const CellValues hexagonal_cell{3.21, 3.21, 5.21, 90, 90, 120};
const CellValues monoclinic_cell{5, 6, 7, 90, 100, 90};

INSTANTIATE_TEST_SUITE_P(
    SpaceGroups, Lists,
    testing::Values(
        // Face centring: h, k, l all odd or all even. Ties at one d go by
        // h, then k, then l, largest first (3 0 0 before 2 2 1).
        ListCase{"NaCl Fm-3m: h k l unmixed",
                 {5.64, 5.64, 5.64, 90, 90, 90},
                 "F m -3 m",
                 1.25,
                 "1 0 0*, 1 1 0*, 1 1 1, 2 0 0, 2 1 0*, 2 1 1*, 2 2 0, 3 0 0*, 2 2 1*, 3 1 0*, "
                 "3 1 1, 2 2 2, 3 2 0*, 3 2 1*, 4 0 0, 4 1 0*, 3 2 2*, 4 1 1*, 3 3 0*, 3 3 1, "
                 "4 2 0",
                 {}},
        // The diamond glide: h 0 0 needs h = 4n, 0 k l needs k + l = 4n;
        // 2 2 2 is weak in silicon for its atoms, not forbidden by the group.
        ListCase{"Si Fd-3m: 2 0 0 and 4 2 0 forbidden, 2 2 2 allowed",
                 {5.431, 5.431, 5.431, 90, 90, 90},
                 "F d -3 m :2",
                 0.95,
                 "1 0 0*, 1 1 0*, 1 1 1, 2 0 0*, 2 1 0*, 2 1 1*, 2 2 0, 3 0 0*, 2 2 1*, 3 1 0*, "
                 "3 1 1, 2 2 2, 3 2 0*, 3 2 1*, 4 0 0, 4 1 0*, 3 2 2*, 4 1 1*, 3 3 0*, 3 3 1, "
                 "4 2 0*",
                 {"4 2 1*", "4 2 2", "4 4 0"}},
        ListCase{"W Im-3m: h + k + l even",
                 {3.165, 3.165, 3.165, 90, 90, 90},
                 "I m -3 m",
                 1.0,
                 "1 0 0*, 1 1 0, 1 1 1*, 2 0 0, 2 1 0*, 2 1 1, 2 2 0, 3 0 0*, 2 2 1*, 3 1 0",
                 {}},
        // The screw axis 21 along b and the glide c: 0 k 0 with k odd and
        // h 0 l with l odd; the oblique cell tells h 0 l from h 0 -l.
        ListCase{"P 21/c: 0 k 0 k odd, h 0 l l odd",
                 monoclinic_cell,
                 "P 21/c",
                 1.5,
                 "",
                 {"0 1 0*", "0 2 0", "0 3 0*", "1 0 1*", "1 0 -1*", "1 0 2", "1 0 -2", "2 0 0",
                  "1 1 1", "1 1 -1", "0 0 1*", "0 0 2", "1 0 0", "0 1 1"}},
        // The 63 screw axis: 0 0 l with l odd; the c glide: h h l with l odd.
        ListCase{"P 63/m m c: 0 0 l and h h l with l odd",
                 hexagonal_cell,
                 "P 63/m m c",
                 1.0,
                 "0 0 1*, 1 0 0, 0 0 2, 1 0 1, 1 0 2, 0 0 3*, 1 1 0, 1 1 1*, 1 0 3, 2 0 0, "
                 "1 1 2, 2 0 1",
                 {"0 0 4", "1 1 3*", "2 0 2"}},
        // Without symmetry, h k l and h -k l are different planes; Friedel
        // pairs are one set.
        // d >= d_min: 2 0 0 of a 4 A cube lies exactly on the limit 2 A.
        ListCase{"a reflection exactly at the d limit is kept",
                 {4, 4, 4, 90, 90, 90},
                 "P m -3 m",
                 2.0,
                 "1 0 0, 1 1 0, 1 1 1, 2 0 0",
                 {}},
        // The metric may miss the group's by 1e-3 of the largest squared
        // length, here c^2 = 100: b^2 - a^2 = 0.096 is within it.
        ListCase{"a tetragonal cell within the metric tolerance",
                 {4, 4.012, 10, 90, 90, 90},
                 "P 4/m m m",
                 3.0,
                 "0 0 1, 0 0 2, 1 0 0, 1 0 1, 0 0 3",
                 {}},
        ListCase{"P 1 triclinic: h k l and h -k l differ",
                 {5, 6, 7, 80, 95, 105},
                 "P 1",
                 2.0,
                 "",
                 {"1 1 1", "1 -1 1", "1 1 -1", "-1 1 1", "0 1 0", "1 0 0"}}));

TEST(Lists, OneSetPerLaueOrbitWithItsMultiplicity) {
    const auto nacl =
        reflection_list(crystal({5.64, 5.64, 5.64, 90, 90, 90}, "225"), 1.25, false, 5000);
    ASSERT_TRUE(nacl);
    std::string m;
    for (const Reflection& r : *nacl) m += std::to_string(r.multiplicity) + " ";
    EXPECT_EQ(m, "6 12 8 6 24 24 12 6 24 24 24 8 24 48 6 24 24 24 12 24 24 ");
    // Friedel mates make one set of two in P 1.
    const auto p1 = reflection_list(crystal({5, 6, 7, 80, 95, 105}, "1"), 2.0, false, 5000);
    ASSERT_TRUE(p1);
    for (const Reflection& r : *p1) ASSERT_EQ(r.multiplicity, 2);
    const auto pm1 = reflection_list(crystal({5, 6, 7, 80, 95, 105}, "P -1"), 2.0, false, 5000);
    EXPECT_EQ(listing(*p1), listing(*pm1));
}

TEST(Lists, AllowedOnlyLeavesTheAbsentOut) {
    const Crystal si = crystal({5.431, 5.431, 5.431, 90, 90, 90}, "Fd-3m");
    EXPECT_EQ(listing(*reflection_list(si, 1.2, true, 5000)),
              "1 1 1, 2 2 0, 3 1 1, 2 2 2, 4 0 0, 3 3 1");
}

// d never increases down the list, also where a cell a hair off a higher
// symmetry sets reflections a hair apart in d: sets of one d (to rounding)
// are ordered by their indices, but no further apart than rounding.
TEST(Lists, DNeverIncreasesDownTheList) {
    const std::vector<std::pair<CellValues, const char*>> cells{
        {{5.64, 5.64, 5.64, 90, 90, 90}, "F m -3 m"},
        {{5, 5.000001, 5, 90, 90, 90}, "P m m m"},
        {{5, 5, 5.000001, 90, 90, 90.00001}, "P 1"},
        {{4.9134, 4.9134, 5.4052, 90, 90, 120}, "P 32 2 1"},
        {{5, 6, 7, 80, 95, 105}, "P 1"}};
    for (const auto& [cell, sg] : cells) {
        const auto list = reflection_list(crystal(cell, sg), 0.8, false, 5000);
        ASSERT_TRUE(list);
        ASSERT_GT(list->size(), 50u);
        for (std::size_t i = 1; i < list->size(); ++i)
            ASSERT_LE((*list)[i].d, (*list)[i - 1].d * (1 + 2e-12))
                << sg << ": " << listing({(*list)[i - 1], (*list)[i]});
    }
}

// R -3 m on hexagonal axes (obverse centring) and on rhombohedral axes is
// one lattice: its allowed sets have the same d and multiplicities.
TEST(Lists, RhombohedralSettingsGiveTheSameDValues) {
    const double a = 3.76, c = 12.3;
    const double ar = std::sqrt(3 * a * a + c * c) / 3;
    const double alpha = 2 * std::asin(3 * a / (2 * std::sqrt(3 * a * a + c * c))) * 180 / M_PI;
    const auto hex = reflection_list(crystal({a, a, c, 90, 90, 120}, "R -3 m"), 1.0, true, 5000);
    const auto rho =
        reflection_list(crystal({ar, ar, ar, alpha, alpha, alpha}, "R -3 m"), 1.0, true, 5000);
    ASSERT_TRUE(hex && rho);
    ASSERT_EQ(hex->size(), rho->size());
    ASSERT_GT(hex->size(), 20u);
    for (std::size_t i = 0; i < hex->size(); ++i) {
        EXPECT_NEAR((*hex)[i].d, (*rho)[i].d, 1e-9) << i;
        EXPECT_EQ((*hex)[i].multiplicity, (*rho)[i].multiplicity) << i;
    }
    EXPECT_EQ(listing(*hex, 3), "0 0 3, 1 0 1, 0 1 2");
}

// The representative is the member a user writes.
TEST(Lists, RepresentativeHasFewestNegativesThenLargestIndices) {
    const auto cubic = reflection_list(crystal({4, 4, 4, 90, 90, 90}, "P m -3 m"), 1.9, false, 50);
    const auto hexagonal = reflection_list(crystal(hexagonal_cell, "P 6/m m m"), 1.5, false, 50);
    EXPECT_EQ(listing(*cubic), "1 0 0, 1 1 0, 1 1 1, 2 0 0");
    EXPECT_NE(listing(*hexagonal).find("1 1 0"), std::string::npos); // not 2 -1 0 or -1 -1 0
    EXPECT_TRUE(preferred({1, 1, 0}, {2, -1, 0}));
    EXPECT_TRUE(preferred({1, 1, 0}, {0, 1, 1}));
    EXPECT_TRUE(preferred({1, 0, -1}, {-1, 0, 1}));
    EXPECT_FALSE(preferred({1, 1, 0}, {1, 1, 0}));
}

struct SymbolCase {
    const char* symbol;
    CellValues cell;
    const char* group; // the name gemmi tabulates the group under
};

class Symbols : public testing::TestWithParam<SymbolCase> {};

TEST_P(Symbols, NameTheGroupInTheSettingOfTheCell) {
    const SymbolCase& c = GetParam();
    EXPECT_EQ(symmetry_from_symbol(c.symbol, c.cell, "--sg").symbol, c.group);
}

const CellValues cubic{5, 5, 5, 90, 90, 90};
const CellValues rhombohedral{5, 5, 5, 60, 60, 60};
const CellValues monoclinic{5, 6, 7, 90, 100, 90};
INSTANTIATE_TEST_SUITE_P(Settings, Symbols,
                         testing::Values(SymbolCase{"P 21/c", monoclinic, "P 1 21/c 1"},
                                         SymbolCase{"P21/c", monoclinic, "P 1 21/c 1"},
                                         SymbolCase{"P 1 21/c 1", monoclinic, "P 1 21/c 1"},
                                         SymbolCase{"hall:-P 2ybc", monoclinic, "P 1 21/c 1"},
                                         SymbolCase{"HALL:-P 2ybc", monoclinic, "P 1 21/c 1"},
                                         SymbolCase{"14", monoclinic, "P 1 21/c 1"},
                                         SymbolCase{"Fm-3m", cubic, "F m -3 m"},
                                         SymbolCase{"225", cubic, "F m -3 m"},
                                         SymbolCase{"F d -3 m :2", cubic, "F d -3 m:2"},
                                         SymbolCase{"R -3 m :H", hexagonal_cell, "R -3 m:H"},
                                         SymbolCase{"R -3 m", hexagonal_cell, "R -3 m:H"},
                                         SymbolCase{"R 3 :R", rhombohedral, "R 3:R"},
                                         SymbolCase{"R 3", rhombohedral, "R 3:R"},
                                         SymbolCase{"146", rhombohedral, "R 3:R"},
                                         SymbolCase{"146", hexagonal_cell, "R 3:H"},
                                         // An explicit suffix is kept, whatever the cell.
                                         SymbolCase{"R 3 :H", rhombohedral, "R 3:H"},
                                         SymbolCase{"R -3 c :R", hexagonal_cell, "R -3 c:R"},
                                         SymbolCase{"R -3 c :R", rhombohedral, "R -3 c:R"},
                                         SymbolCase{"167", hexagonal_cell, "R -3 c:H"},
                                         // Equal 90 degree angles are no rhombohedral axes.
                                         SymbolCase{"R -3 m", cubic, "R -3 m:H"},
                                         SymbolCase{"R -3 m H", rhombohedral, "R -3 m:H"}));

// Every International Tables number names its group.
TEST(Symbols, EveryNumberFrom1To230NamesItsGroup) {
    for (int n = 1; n <= 230; ++n) {
        const Symmetry s = symmetry_from_symbol(std::to_string(n), cubic, "--sg");
        const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_ops(s.ops);
        ASSERT_NE(sg, nullptr) << n;
        EXPECT_EQ(sg->number, n);
    }
}

// International Tables for Crystallography Vol. C (2004), Table 4.2.2.1,
// in angstroms, as the table prints them.
struct LineCase {
    const char* name;
    double table;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class NamedLines : public testing::TestWithParam<LineCase> {};

TEST_P(NamedLines, HaveTheValueOfTheTable) {
    const auto angstrom = named_line(GetParam().name);
    ASSERT_TRUE(angstrom) << GetParam().name;
    EXPECT_NEAR(*angstrom, GetParam().table, 1e-10) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Table4221, NamedLines,
                         testing::Values(LineCase{"CrKa1", 2.2897260}, LineCase{"CrKa2", 2.2936510},
                                         LineCase{"CrKb", 2.0848810}, LineCase{"FeKa1", 1.9360410},
                                         LineCase{"FeKa2", 1.9399730}, LineCase{"FeKb", 1.7566040},
                                         LineCase{"CoKa1", 1.7889960}, LineCase{"CoKa2", 1.7928350},
                                         LineCase{"CoKb", 1.6208260}, LineCase{"CuKa1", 1.5405929},
                                         LineCase{"CuKa2", 1.5444274}, LineCase{"CuKb", 1.3922340},
                                         LineCase{"MoKa1", 0.70931715}, LineCase{"MoKa2", 0.713607},
                                         LineCase{"MoKb", 0.632303}, LineCase{"AgKa1", 0.55942178},
                                         LineCase{"AgKa2", 0.5638131},
                                         LineCase{"AgKb", 0.4970817}));

struct NameCase {
    std::string word;
    std::string fault;  // a part of name_fault(word), empty when it is a name
    std::string mended; // mended_name(word)
};

class Names : public testing::TestWithParam<NameCase> {};

TEST_P(Names, AreTclAndBltWords) {
    const NameCase& c = GetParam();
    const std::string fault = name_fault(c.word);
    if (c.fault.empty())
        EXPECT_EQ(fault, "");
    else
        EXPECT_NE(fault.find(c.fault), std::string::npos) << fault;
    EXPECT_EQ(mended_name(c.word), c.mended);
    EXPECT_EQ(name_fault(mended_name(c.word)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Words, Names,
    testing::Values(NameCase{"quartz", "", "quartz"}, NameCase{"Si_1.a:b", "", "Si_1.a:b"},
                    NameCase{"NaCl-rock salt", "letters, digits", "NaCl_rock_salt"},
                    NameCase{"1abc", "begins with a letter", "X1abc"},
                    NameCase{"_x", "begins with a letter", "X_x"}, NameCase{"a::b", "::", "a:_b"},
                    NameCase{"", "at least one", "X"},
                    NameCase{"abcdefghijklmnopqrstuvwxyz", "at most 25",
                             "abcdefghijklmnopqrstuvwxy"},
                    NameCase{"x$y[z]", "letters, digits", "x_y_z_"}));

TEST(Names, MayBeginWithAnyLetter) {
    for (const char* letters : {"abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"})
        for (const char* c = letters; *c != 0; ++c) {
            const std::string word = std::string(1, *c) + "1_x";
            EXPECT_EQ(name_fault(word), "") << word;
            EXPECT_EQ(mended_name(word), word);
        }
}

// A CIF names its space group in several ways; the listed operators are
// trusted first, then the Hall symbol, the Hermann-Mauguin name, the number.
struct CifCase {
    const char* rule;
    std::string symmetry; // the CIF's lines after data_ and the cell
    std::string name;     // the deck's name line
};

void PrintTo(const CifCase& c, std::ostream* os) {
    *os << c.rule;
}

class Cifs : public testing::TestWithParam<CifCase> {};

TEST_P(Cifs, TakeTheSymmetryInTheOrderOfTrust) {
    const CifCase& c = GetParam();
    const std::string path =
        testing::TempDir() + "peakhkl_cif_" + std::to_string(getpid()) + ".cif";
    std::ofstream(path)
        << "data_mono\n_cell_length_a 5.0(1)\n_cell_length_b 6\n_cell_length_c 7\n"
           "_cell_angle_alpha 90\n_cell_angle_beta 100.00(5)\n_cell_angle_gamma 90\n"
        << c.symmetry;
    const Outcome o = run({path, "--wave", "CuKa1", "--tt-max", "40"});
    std::remove(path.c_str());
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find('\n')), c.name);
    // P 21/c: 0 1 0 and 1 0 1 extinct, 1 0 -2 allowed.
    auto deck = std::make_unique<peakpos::Run>();
    peakpos::MemorySource in(o.out);
    peakpos::read_deck(in, *deck);
    EXPECT_EQ(deck->a, 5.0f);
    EXPECT_EQ(deck->beta, 100.0f);
    std::string flags;
    for (int i = 1; i <= deck->npeak; ++i)
        for (const Miller& m : {Miller{0, 1, 0}, Miller{1, 0, 1}, Miller{1, 0, -2}})
            if (Miller{deck->h(i), deck->k(i), deck->l(i)} == m)
                flags += std::to_string(m[0]) + std::to_string(m[1]) + std::to_string(m[2]) + ":" +
                         std::to_string(deck->extinct(i)) + " ";
    EXPECT_EQ(flags, "010:1 101:1 10-2:0 ");
}

const std::string p21c_ops =
    "loop_\n_space_group_symop_operation_xyz\n'x, y, z'\n'-x, y+1/2, -z+1/2'\n"
    "'-x, -y, -z'\n'x, -y+1/2, z+1/2'\n";
INSTANTIATE_TEST_SUITE_P(
    Trust, Cifs,
    testing::Values(
        CifCase{"operators before a name that disagrees",
                p21c_ops + "_space_group_name_H-M_alt 'P 1'\n_space_group_IT_number 1\n",
                "mono P 1 21/c 1"},
        CifCase{"the old operator tag",
                "loop_\n_symmetry_equiv_pos_as_xyz\nx,y,z\n-x,y+1/2,-z+1/2\n"
                "-x,-y,-z\nx,-y+1/2,z+1/2\n",
                "mono P 1 21/c 1"},
        CifCase{"the Hall symbol before the name",
                "_space_group_name_Hall '-P 2ybc'\n_symmetry_space_group_name_H-M 'P 1'\n",
                "mono P 1 21/c 1"},
        CifCase{"the name before the number",
                "_symmetry_space_group_name_H-M 'P 21/c'\n_symmetry_Int_Tables_number 1\n",
                "mono P 1 21/c 1"},
        CifCase{"the number alone", "_space_group_IT_number 14\n", "mono P 1 21/c 1"},
        CifCase{"dotted CIF 2.0 tags",
                "loop_\n_space_group_symop.operation_xyz\nx,y,z\n-x,y+1/2,-z+1/2\n"
                "-x,-y,-z\nx,-y+1/2,z+1/2\n_space_group.IT_number 14\n",
                "mono P 1 21/c 1"},
        // P 21/c with its origin moved by (1/4, 1/4, 1/4): no tabulated setting.
        CifCase{"operators of an untabulated setting keep the file's name",
                "loop_\n_space_group_symop_operation_xyz\nx,y,z\n-x+1/2,y+1/2,-z\n"
                "-x+1/2,-y+1/2,-z+1/2\nx,-y,z+1/2\n_space_group_name_H-M_alt 'P 21/c shifted'\n",
                "mono P 21/c shifted"}));

TEST(Cifs, ABlockNameIsMendedWithANote) {
    const std::string path =
        testing::TempDir() + "peakhkl_blocks_" + std::to_string(getpid()) + ".cif";
    const std::string body = "_cell_length_a 5.64\n_cell_length_b 5.64\n_cell_length_c 5.64\n"
                             "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                             "_space_group_IT_number 225\n";
    std::ofstream(path) << "data_first\n" << body << "data_2-NaCl\n" << body;
    const Outcome o = run({path, "--block", "2-NaCl", "--wave", "CuKa1"});
    std::remove(path.c_str());
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find('\n')), "X2_NaCl F m -3 m");
    EXPECT_NE(o.err.find("note: the block name \"2-NaCl\" is not a Tcl and BLT name word"),
              std::string::npos)
        << o.err;
}

TEST(FloatText, IsTheShortestTextOfTheSingleValue) {
    EXPECT_EQ(float_text(5.64), "5.64");
    EXPECT_EQ(float_text(1.5405930), "1.540593");
    EXPECT_EQ(float_text(100), "100");
    EXPECT_EQ(float_text(4.9134), "4.9134");
    EXPECT_EQ(float_text(0.1 + 0.2), "0.3");
}

// The deck peakpos's own reader makes of peakhkl's output.
TEST(Deck, ReadsBackThroughPeakposReader) {
    const Outcome o = run({EXAMPLES_DIR "/quartz.cif", "--wave", "CuKa1", "--tt-max", "100",
                           "--ymin", "-5", "--zero", "0.05"});
    ASSERT_EQ(o.status, 0) << o.err;
    auto deck = std::make_unique<peakpos::Run>();
    peakpos::MemorySource in(o.out);
    peakpos::read_deck(in, *deck);
    EXPECT_EQ(std::string(deck->dnam.data(), deck->dnam.size()), "quartz P 32 2 1          ");
    EXPECT_EQ(peakpos::name_word(deck->dnam), "quartz");
    EXPECT_EQ(deck->a, 4.9134f);
    EXPECT_EQ(deck->b, 4.9134f);
    EXPECT_EQ(deck->c, 5.4052f);
    EXPECT_EQ(deck->gamma, 120.0f);
    EXPECT_EQ(deck->wave, 1.5405929f);
    EXPECT_EQ(deck->ymin, -5.0f);
    EXPECT_EQ(deck->ymax, 100.0f);
    EXPECT_EQ(deck->zero, 0.05f);

    const Crystal quartz = crystal({4.9134, 4.9134, 5.4052, 90, 90, 120}, "P 32 2 1");
    const auto list =
        reflection_list(quartz, 1.5405929 / (2 * std::sin(50 * M_PI / 180)), false, 5000);
    ASSERT_TRUE(list);
    ASSERT_EQ(deck->npeak, static_cast<int>(list->size()));
    ASSERT_GT(deck->npeak, 40);
    for (int i = 1; i <= deck->npeak; ++i) {
        const Reflection& r = (*list)[static_cast<std::size_t>(i - 1)];
        ASSERT_EQ(deck->h(i), r.hkl[0]);
        ASSERT_EQ(deck->k(i), r.hkl[1]);
        ASSERT_EQ(deck->l(i), r.hkl[2]);
        ASSERT_EQ(deck->extinct(i), r.extinct ? 1 : 0);
    }
    EXPECT_EQ(listing(*list, 4), "0 0 1*, 1 0 0, 1 0 1, 0 1 1");
    // Each list starts on its own line, its lines of a readable width.
    std::size_t longest = 0;
    for (std::size_t at = 0, end; at < o.out.size(); at = end + 1) {
        end = o.out.find('\n', at);
        longest = std::max(longest, end - at);
    }
    EXPECT_LE(longest, 78u);
}

// --d-min 2 for a 4 A cube: 2 0 0, at exactly 2 A, is the deck's last
// reflection. 4 0 6, 3 0 8 and 0 0 10 of a 2 2 4 cell are at exactly 0.4
// A, 1/d^2 = 6.25 in binary without rounding: they are the last three.
TEST(Deck, AReflectionAtTheDLimitIsInTheDeck) {
    const Outcome o = run({"--cell", "4", "4", "4", "90", "90", "90", "--sg", "P m -3 m", "--wave",
                           "CuKa1", "--d-min", "2"});
    ASSERT_EQ(o.status, 0) << o.err;
    auto deck = std::make_unique<peakpos::Run>();
    peakpos::MemorySource in(o.out);
    peakpos::read_deck(in, *deck);
    ASSERT_EQ(deck->npeak, 4);
    EXPECT_EQ((Miller{deck->h(4), deck->k(4), deck->l(4)}), (Miller{2, 0, 0}));

    const Outcome at = run({"--cell", "2", "2", "4", "90", "90", "90", "--sg", "P4/mmm", "--wave",
                            "0.5", "--d-min", "0.4"});
    ASSERT_EQ(at.status, 0) << at.err;
    peakpos::MemorySource in2(at.out);
    peakpos::read_deck(in2, *deck);
    const int n = deck->npeak;
    ASSERT_GE(n, 3);
    std::set<Miller> last;
    for (int i = n - 2; i <= n; ++i) last.insert(Miller{deck->h(i), deck->k(i), deck->l(i)});
    EXPECT_EQ(last, (std::set<Miller>{{4, 0, 6}, {3, 0, 8}, {0, 0, 10}}));
}

// Without --tt-max or --d-min the limit is 2theta = 90 degrees.
TEST(Deck, TheDefaultLimitIs90Degrees) {
    const std::vector<std::string> args{"--cell", "12",   "13",  "14",     "80",   "85",
                                        "95",     "--sg", "P 1", "--wave", "CuKa1"};
    const auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> all = args;
        all.insert(all.end(), more.begin(), more.end());
        return run(all).out;
    };
    const std::string plain = with({});
    ASSERT_NE(plain, "");
    EXPECT_TRUE(plain == with({"--tt-max", "90"}));
    EXPECT_TRUE(plain != with({"--tt-max", "89.9"}));
    EXPECT_TRUE(plain != with({"--tt-max", "90.1"}));
}

TEST(Deck, TheSymbolIsLeftOutWhenItDoesNotFitTheNameLine) {
    const Outcome o = run({"--cell", "5.64", "5.64", "5.64", "90", "90", "90", "--sg", "225",
                           "--wave", "1.54", "--name", "a_rather_long_name_here"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find('\n')), "a_rather_long_name_here");
}

} // namespace
} // namespace peakhkl

namespace peakhkl {
namespace {

// The K-alpha means (2 Ka1 + Ka2) / 3 of International Tables' lines, to
// 1e-7 A, and the names in any case.
struct WaveCase {
    const char* name;
    double angstrom;
};

class Waves : public testing::TestWithParam<WaveCase> {};

TEST_P(Waves, NameTheirWavelength) {
    EXPECT_EQ(named_line(GetParam().name), GetParam().angstrom);
}

INSTANTIATE_TEST_SUITE_P(Lines, Waves,
                         testing::Values(WaveCase{"CuKa", 1.5418711}, WaveCase{"MoKa", 0.7107471},
                                         WaveCase{"CoKa", 1.7902757}, WaveCase{"CrKa", 2.2910343},
                                         WaveCase{"FeKa", 1.9373517}, WaveCase{"AgKa", 0.5608856},
                                         WaveCase{"cuka1", 1.5405929}, WaveCase{"MOKB", 0.632303}));

TEST(Waves, AreListedOnePerLine) {
    const Outcome o = run({"--waves"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 24);
    EXPECT_EQ(o.out.rfind("CuKa1\t1.5405929\nCuKa2\t1.5444274\nCuKb\t1.392234\n", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("\nCuKa\t1.5418711\n"), std::string::npos) << o.out;
}

// The table of a run, read from its file.
std::string table_of(std::vector<std::string> args, Outcome* outcome = nullptr) {
    const std::string path =
        testing::TempDir() + "peakhkl_table_" + std::to_string(getpid()) + ".tsv";
    args.insert(args.end(), {"--table", path});
    const Outcome o = run(args);
    if (outcome != nullptr) *outcome = o;
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    return text;
}

std::vector<std::vector<std::string>> rows_of(const std::string& table) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream f(line);
        for (std::string field; std::getline(f, field, '\t');) fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

TEST(Strengths, AreDashesWithoutAtoms) {
    const std::string table = table_of(
        {"--cell", "5.64", "5.64", "5.64", "90", "90", "90", "--sg", "225", "--wave", "CuKa1"});
    ASSERT_EQ(table.substr(0, table.find('\n')),
              "h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity");
    for (const auto& row : rows_of(table)) {
        ASSERT_EQ(row.size(), 9u);
        EXPECT_EQ(row[7] + row[8], "--");
    }
}

// At 0 every reflection is kept, at 100 the strongest itself.
TEST(Strengths, MinIntensityLeavesTheWeakAllowedOnesOut) {
    Outcome all;
    const auto every = rows_of(table_of({EXAMPLES_DIR "/silicon.cif", "--wave", "CuKa"}, &all));
    for (const std::string text : {"0", "20", "100"}) {
        const double pct = std::stod(text);
        Outcome strong;
        const auto kept = rows_of(table_of(
            {EXAMPLES_DIR "/silicon.cif", "--wave", "CuKa", "--min-intensity", text}, &strong));
        ASSERT_EQ(strong.status, 0) << strong.err;
        std::size_t expected = 0, allowed = 0;
        for (const auto& row : every) expected += row[6] == "1" || std::stod(row[8]) >= pct;
        for (const auto& row : kept) allowed += row[6] == "0";
        EXPECT_EQ(kept.size(), expected) << pct;
        if (pct > 0) {
            EXPECT_LT(kept.size(), every.size());
        }
        EXPECT_GE(allowed, 1u) << pct;
        for (const auto& row : kept)
            EXPECT_TRUE(row[6] == "1" || std::stod(row[8]) >= pct) << row[8];
        // The deck holds the same reflections as the table.
        std::size_t line4 = 0;
        for (int n = 0; n < 3; ++n) line4 = strong.out.find('\n', line4) + 1;
        EXPECT_EQ(std::stoul(strong.out.substr(line4)), kept.size());
    }
}

// Reflections past 2theta 180 (a d limit below half the wavelength) have
// 2theta -1 and no intensity: "-", never "nan".
TEST(Strengths, ReflectionsWithoutATwoThetaHaveNoIntensity) {
    Outcome o;
    const auto rows =
        rows_of(table_of({EXAMPLES_DIR "/silicon.cif", "--wave", "CuKa1", "--d-min", "0.7"}, &o));
    ASSERT_EQ(o.status, 0) << o.err;
    std::size_t beyond = 0;
    for (const auto& row : rows) {
        if (row[4] != "-1") continue;
        ++beyond;
        EXPECT_EQ(row[8], "-") << row[0] << row[1] << row[2];
    }
    EXPECT_GT(beyond, 0u);
}

// --no-deck writes the table only, beyond the deck's 5000 reflections; the
// deck alone keeps its limit.
TEST(Strengths, TheTableAloneIsNotBoundByTheDeck) {
    const std::vector<std::string> triclinic{"--cell", "9",       "10",   "11",   "80",
                                             "85",     "95",      "--sg", "P -1", "--wave",
                                             "0.5",    "--d-min", "0.7"};
    Outcome alone, deck;
    std::vector<std::string> args = triclinic;
    args.push_back("--no-deck");
    const auto rows = rows_of(table_of(args, &alone));
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(alone.out, "");
    EXPECT_GT(rows.size(), 5000u);
    EXPECT_EQ(rows.back().size(), 9u);
    table_of(triclinic, &deck);
    EXPECT_EQ(deck.status, 2);
    EXPECT_NE(deck.err.find("expected at most 5000 reflections"), std::string::npos) << deck.err;
}

// A row is whole however long its numbers: each row its nine fields.
TEST(Strengths, ARowHasNoLengthLimit) {
    const std::vector<Reflection> list{{{1, 0, 0}, 5, 6, false}, {{1, 1, 0}, 3, 12, false}};
    const Strengths huge{{1e300, 2e300}, {50, 100}};
    const auto rows = rows_of(table_text(list, 1.54, &huge));
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows) ASSERT_EQ(row.size(), 9u);
    EXPECT_EQ(rows[0][7].size(), 301u + 7);
    EXPECT_EQ(rows[1][0] + rows[1][1] + rows[1][2], "110");
}

// A CIF of rock salt with the atom loop given.
std::string rock_salt(const std::string& loop) {
    return "data_x\n_cell_length_a 5.64\n_cell_length_b 5.64\n_cell_length_c 5.64\n"
           "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
           "_space_group_IT_number 225\n" +
           loop;
}

std::string run_cif(const std::string& text, std::vector<std::string> args, Outcome* o) {
    const std::string path =
        testing::TempDir() + "peakhkl_atoms_" + std::to_string(getpid()) + ".cif";
    std::ofstream(path) << text;
    args.insert(args.begin(), path);
    const std::string table = table_of(args, o);
    std::remove(path.c_str());
    return table;
}

const std::string typed_loop =
    "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
    "_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n";

const std::string occupancy_loop =
    "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
    "_atom_site_fract_z\n_atom_site_occupancy\n";

// What a CIF's atoms may lack or hold that peakhkl reads with a warning.
struct WarningCase {
    const char* rule;
    std::string loop;
    std::vector<std::string> args;
    std::string warning;
};

void PrintTo(const WarningCase& c, std::ostream* os) {
    *os << c.rule;
}

class Warnings : public testing::TestWithParam<WarningCase> {};

TEST_P(Warnings, AreOnStandardErrorAndTheRunGoesOn) {
    const WarningCase& c = GetParam();
    Outcome o;
    std::vector<std::string> args{"--wave", "CuKa1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string table = run_cif(rock_salt(c.loop), args, &o);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find(": warning: "), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(c.warning), std::string::npos) << o.err;
    std::string i200;
    for (const auto& row : rows_of(table))
        if (row[0] + row[1] + row[2] == "200") i200 = row[8];
    EXPECT_EQ(i200, "100.000") << table; // the strongest
}

INSTANTIATE_TEST_SUITE_P(
    Atoms, Warnings,
    testing::Values(
        WarningCase{"no displacement",
                    "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                    "_atom_site_fract_z\nNa1 0 0 0\nCl1 0.5 0.5 0.5\n",
                    {},
                    "no _atom_site_U_iso_or_equiv or _atom_site_B_iso_or_equiv for Na1 Cl1; their "
                    "displacement is taken as 0"},
        WarningCase{"an ion, charge after the number",
                    typed_loop + "Na1 Na1+ 0 0 0 0.01\nCl1 Cl1- 0.5 0.5 0.5 0.01\n",
                    {},
                    "warning: _atom_site_label of Na1: no form factor for the ion \"Na1+\" in the "
                    "table; the neutral Na's "
                    "is used"},
        WarningCase{"an ion, charge before the number",
                    typed_loop + "Na1 Na 0 0 0 0.01\nCl1 Cl-1 0.5 0.5 0.5 0.01\n",
                    {},
                    "the ion \"Cl-1\""},
        WarningCase{"a negative U within three uncertainties",
                    typed_loop + "Na1 Na 0 0 0 -0.001(2)\nCl1 Cl 0.5 0.5 0.5 0.01\n",
                    {},
                    ":16: warning: _atom_site_U_iso_or_equiv of Na1: \"-0.001(2)\" negative within "
                    "three uncertainties; taken as 0"},
        WarningCase{"a negative U within three uncertainties, not within one",
                    typed_loop + "Na1 Na 0 0 0 -0.005(2)\nCl1 Cl 0.5 0.5 0.5 0.01\n",
                    {},
                    "\"-0.005(2)\" negative within three uncertainties; taken as 0"},
        WarningCase{"a negative U above -0.01 without an uncertainty",
                    typed_loop + "Na1 Na 0 0 0 -0.004\nCl1 Cl 0.5 0.5 0.5 0.01\n",
                    {},
                    "\"-0.004\" negative within 0.01 A^2 of U; taken as 0"},
        WarningCase{"a dummy atom left out",
                    typed_loop + "Na1 Na 0 0 0 0.01\nCl1 Cl 0.5 0.5 0.5 0.01\nQ1 Q 0.1 0.2 0.3 0\n",
                    {"--skip-unknown-atoms"},
                    ":18: warning: _atom_site_label of Q1: expected an atom of a known element, "
                    "found a dummy or unknown atom \"Q\"; the atom is left out of the intensities"},
        WarningCase{"a hydrogen without coordinates left out",
                    typed_loop + "Na1 Na 0 0 0 0.01\nCl1 Cl 0.5 0.5 0.5 0.01\nH1 H ? ? ? 0.02\n",
                    {"--skip-unknown-atoms"},
                    ":18: warning: _atom_site_fract_x of H1: expected a fractional coordinate, "
                    "found \"?\"; the atom is left out"},
        WarningCase{"a coordinate written as a fraction",
                    typed_loop + "Na1 Na 0 0 0 0.01\nCl1 Cl 1/2 0.5 0.5 0.01\n",
                    {},
                    ":17: warning: _atom_site_fract_x of Cl1: the fraction \"1/2\" read as 0.5"},
        WarningCase{"a number with a trailing marker",
                    typed_loop + "Na1 Na 0 0 0 0.01*\nCl1 Cl 0.5 0.5 0.5 0.01\n",
                    {},
                    "_atom_site_U_iso_or_equiv of Na1: the trailing * of \"0.01*\" read past"},
        WarningCase{"an occupancy within its uncertainty of 1",
                    occupancy_loop + "Na1 Na 0 0 0 1.02(3)\nCl1 Cl 0.5 0.5 0.5 1\n",
                    {},
                    ":16: warning: _atom_site_occupancy of Na1: \"1.02(3)\" outside 0 to 1 within "
                    "three uncertainties; taken as 1"},
        WarningCase{"an occupancy just within three uncertainties of 1",
                    occupancy_loop + "Na1 Na 0 0 0 1.08(3)\nCl1 Cl 0.5 0.5 0.5 1\n",
                    {},
                    "\"1.08(3)\" outside 0 to 1 within three uncertainties; taken as 1"},
        WarningCase{"an occupancy within 0.01 of 1 without an uncertainty",
                    occupancy_loop + "Na1 Na 0 0 0 1.00002\nCl1 Cl 0.5 0.5 0.5 1\n",
                    {},
                    "\"1.00002\" outside 0 to 1 within 0.01; taken as 1"},
        WarningCase{"a quoted label, at its own line",
                    typed_loop + "'Na1' Na 0 0 0 0.01\n\"Cl1\" Cl 0.5 0.5 0.5 -0.004\n",
                    {},
                    ":17: warning: _atom_site_U_iso_or_equiv of Cl1: \"-0.004\" negative"},
        WarningCase{"a label given twice",
                    typed_loop + "Na1 Na 0 0 0 0.01\nNa1 Cl 0.5 0.5 0.5 0.01\n",
                    {},
                    ":17: warning: _atom_site_label of Na1: the label is given again (first at "},
        WarningCase{"two atoms of one element at one place",
                    typed_loop + "Na1 Na 0 0 0 0.01\nCl1 Cl 0.5 0.5 0.5 0.01\n"
                                 "Na2 Na 0.5 0.5 0 0.01\n",
                    {},
                    ":18: warning: _atom_site_label of Na2: an atom of the same element as Na1 "
                    "("},
        WarningCase{"two atoms of one element at one place across the cell's edge",
                    typed_loop + "Na1 Na 0.9995 0 0 0.01\nCl1 Cl 0.5 0.5 0.5 0.01\n"
                                 "Na2 Na 0 0 0 0.01\n",
                    {},
                    ":18: warning: _atom_site_label of Na2: an atom of the same element as Na1 "
                    "("},
        WarningCase{"an anisotropic U of no atom",
                    typed_loop + "Na1 Na 0 0 0 0.01\nCl1 Cl 0.5 0.5 0.5 0.01\nloop_\n"
                                 "_atom_site_aniso_label\n_atom_site_aniso_U_11\n"
                                 "_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n"
                                 "_atom_site_aniso_U_12\n_atom_site_aniso_U_13\n"
                                 "_atom_site_aniso_U_23\nK1 0.01 0.01 0.01 0 0 0\n",
                    {},
                    ": warning: _atom_site_aniso_label of K1: no atom site of that label"}));

// An atom that cannot be read costs the intensities, never the positions:
// the deck is the one of the crystal without atoms, the table has "-" for
// F2 and the intensity, a warning names the atom and why; status 0.
struct CostCase {
    const char* rule;
    std::string loop;
    std::string warning;
};

void PrintTo(const CostCase& c, std::ostream* os) {
    *os << c.rule;
}

class Costs : public testing::TestWithParam<CostCase> {};

TEST_P(Costs, TheIntensitiesNotThePositions) {
    const CostCase& c = GetParam();
    Outcome o, bare;
    const std::string table = run_cif(rock_salt(c.loop), {"--wave", "CuKa1"}, &o);
    const std::string bare_table = run_cif(rock_salt(""), {"--wave", "CuKa1"}, &bare);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, bare.out);
    EXPECT_EQ(table, bare_table);
    const auto at = o.err.find(c.warning);
    ASSERT_NE(at, std::string::npos) << o.err;
    const std::string line = o.err.substr(at, o.err.find('\n', at) - at);
    const std::string end = "; no intensities (--skip-unknown-atoms leaves the atom out of them)";
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), end.size())), end) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Atoms, Costs,
    testing::Values(
        CostCase{"a hydrogen without coordinates",
                 typed_loop + "Na1 Na 0 0 0 0.01\nCl1 Cl 0.5 0.5 0.5 0.01\nH1 H ? . ? 0.02\n",
                 ":18: warning: _atom_site_fract_x of H1: expected a fractional coordinate, found "
                 "\"?\""},
        CostCase{"a dummy atom",
                 typed_loop + "Na1 Na 0 0 0 0.01\nCl1 Cl 0.5 0.5 0.5 0.01\nQ1 Q 0.1 0.2 0.3 0\n",
                 "_atom_site_label of Q1: expected an atom of a known element, found a dummy or "
                 "unknown atom \"Q\""},
        CostCase{"an atom the CIF flags as a dummy",
                 "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
                 "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n"
                 "_atom_site_calc_flag\nNa1 Na 0 0 0 0.01 d\nCl1 Cl 0.5 0.5 0.5 0.01 d\n"
                 "C9 C 0.1 0.2 0.3 0.01 dum\n",
                 ":19: warning: _atom_site_label of C9: expected an atom of a known element, found "
                 "a dummy or unknown atom \"C\""},
        CostCase{"an impossible occupancy",
                 occupancy_loop + "Na1 Na 0 0 0 100(1000)\nCl1 Cl 0.5 0.5 0.5 1\n",
                 ":16: warning: _atom_site_occupancy of Na1: expected an occupancy from 0 to 1"}));

// Values written differently that mean the same atoms give the same table.
struct SameCase {
    const char* rule;
    std::string loop, same;
};

void PrintTo(const SameCase& c, std::ostream* os) {
    *os << c.rule;
}

class Same : public testing::TestWithParam<SameCase> {};

TEST_P(Same, TablesAsTheValuesWrittenPlainly) {
    const SameCase& c = GetParam();
    Outcome o, plain;
    const std::string table = run_cif(rock_salt(c.loop), {"--wave", "CuKa1"}, &o);
    const std::string plain_table = run_cif(rock_salt(c.same), {"--wave", "CuKa1"}, &plain);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(table, plain_table);
    EXPECT_NE(rows_of(table).at(0).at(7), "-");
    EXPECT_EQ(o.err.find("their displacement is taken as 0"), std::string::npos) << o.err;
}

const std::string aniso_loop = "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n"
                               "_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n"
                               "_atom_site_aniso_U_12\n_atom_site_aniso_U_13\n"
                               "_atom_site_aniso_U_23\n";

INSTANTIATE_TEST_SUITE_P(
    Atoms, Same,
    testing::Values(
        SameCase{"a negative U taken as 0",
                 typed_loop + "Na1 Na 0 0 0 -0.004\nCl1 Cl 0.5 0.5 0.5 0.01\n",
                 typed_loop + "Na1 Na 0 0 0 0\nCl1 Cl 0.5 0.5 0.5 0.01\n"},
        // ICSD writes the anisotropic loop of every atom, "." where not given.
        SameCase{"an anisotropic loop of dots leaves the isotropic U",
                 typed_loop + "Na1 Na 0 0 0 0.012\nCl1 Cl 0.5 0.5 0.5 0.01\n" + aniso_loop +
                     "Na1 . . . . . .\nCl1 . . . . . .\n",
                 typed_loop + "Na1 Na 0 0 0 0.012\nCl1 Cl 0.5 0.5 0.5 0.01\n"},
        // ICSD writes . for the elements the site's symmetry makes 0.
        SameCase{"an anisotropic U with . where the site's symmetry makes it 0",
                 "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                 "_atom_site_fract_z\nNa1 0 0 0\nCl1 0.5 0.5 0.5\n" +
                     aniso_loop + "Na1 0.012 0.012 0.012 . . .\nCl1 0.01 0.01 0.01 0 0 0\n",
                 typed_loop + "Na1 Na 0 0 0 0.012\nCl1 Cl 0.5 0.5 0.5 0.01\n"},
        // No "displacement taken as 0" for an atom with an anisotropic U.
        SameCase{"an anisotropic U without an isotropic one",
                 "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                 "_atom_site_fract_z\nNa1 0 0 0\nCl1 0.5 0.5 0.5\n" +
                     aniso_loop + "Na1 0.012 0.012 0.012 0 0 0\nCl1 0.01 0.01 0.01 0 0 0\n",
                 typed_loop + "Na1 Na 0 0 0 0.012\nCl1 Cl 0.5 0.5 0.5 0.01\n"}));

// The intensities of a table, by h k l.
std::map<std::string, double> intensities_of(const std::string& table) {
    std::map<std::string, double> by_hkl;
    for (const auto& row : rows_of(table))
        if (row.at(8) != "-") by_hkl[row[0] + " " + row[1] + " " + row[2]] = std::stod(row[8]);
    return by_hkl;
}

// Brucite, Mg(OH)2 without its H: O on the 3-fold axis at 1/3 2/3 z. Its
// coordinates rounded as CIFs give them, 0.333 0.667, put the three images
// 0.003 A apart: one atom all the same, the intensities those of the exact
// coordinates (counted three times, the 0 0 1 line would be another).
TEST(Atoms, RoundedSpecialPositionsAreTheAtomOnce) {
    const auto brucite = [](const std::string& x, const std::string& y) {
        return "data_brucite\n_cell_length_a 3.148\n_cell_length_b 3.148\n_cell_length_c 4.77\n"
               "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 120\n"
               "_symmetry_space_group_name_H-M 'P -3 m 1'\n" +
               typed_loop + "Mg1 Mg 0 0 0 0.01\nO1 O " + x + " " + y + " 0.22 0.012\n";
    };
    Outcome rounded, exact;
    const auto a =
        intensities_of(run_cif(brucite("0.333", "0.667"), {"--wave", "CuKa1"}, &rounded));
    const auto b = intensities_of(
        run_cif(brucite("0.3333333333", "0.6666666667"), {"--wave", "CuKa1"}, &exact));
    ASSERT_EQ(rounded.status, 0) << rounded.err;
    ASSERT_EQ(exact.status, 0) << exact.err;
    EXPECT_EQ(rounded.err + exact.err, "");
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GT(a.size(), 10u);
    for (const auto& [hkl, i] : b) EXPECT_NEAR(a.at(hkl), i, 0.5 + 0.01 * i) << hkl;
}

// Images of a site 0.01 to 0.5 A apart: a split site whose occupancy
// accounts for its images (1/6 over six) counts each image; an atom of
// occupancy 1 is one atom near its special position. Each is noted.
TEST(Atoms, SitesNearTheirImagesAreNotedAndCountedByTheirOccupancy) {
    const auto rock_salt_with = [](const std::string& na) {
        return rock_salt(occupancy_loop + na + "\nCl1 Cl 0.5 0.5 0.5 1\n");
    };
    Outcome split, loose, origin;
    const auto s = intensities_of(
        run_cif(rock_salt_with("Na1 Na 0.02 0 0 0.1666667"), {"--wave", "CuKa1"}, &split));
    const auto l =
        intensities_of(run_cif(rock_salt_with("Na1 Na 0.02 0 0 1"), {"--wave", "CuKa1"}, &loose));
    const auto o =
        intensities_of(run_cif(rock_salt_with("Na1 Na 0 0 0 1"), {"--wave", "CuKa1"}, &origin));
    ASSERT_EQ(split.status + loose.status + origin.status, 0) << split.err << loose.err;
    EXPECT_NE(split.err.find(":16: note: _atom_site_label of Na1: a split site: 6 images lie 0.16 "
                             "to 0.226 A from it and its occupancy 0.1666667 x 6 <= 1 accounts for "
                             "them; each image is counted"),
              std::string::npos)
        << split.err;
    EXPECT_NE(loose.err.find("note: _atom_site_label of Na1: 6 images lie 0.16 to 0.226 A from it "
                             "and its occupancy 1 x 6 > 1: taken as one atom near a special "
                             "position"),
              std::string::npos)
        << loose.err;
    // Counted over its six images, the split Na is a whole Na near the
    // origin: the lines are those of rock salt, and so are the loose one's.
    for (const auto& [hkl, i] : o) {
        EXPECT_NEAR(s.at(hkl), i, 1 + 0.03 * i) << hkl;
        EXPECT_NEAR(l.at(hkl), i, 1 + 0.03 * i) << hkl;
    }
}

// The element of an atom without a type symbol is the label's: "Na1" is
// Na, "Clb" is Cl, and a type symbol must be an element whole.
TEST(Atoms, TakeTheElementFromTheLabelOrTheTypeSymbol) {
    Outcome typed, labelled;
    const std::string a =
        run_cif(rock_salt(typed_loop + "Na1 Na 0 0 0 0.01\nX Cl 0.5 0.5 0.5 0.01\n"),
                {"--wave", "CuKa1"}, &typed);
    const std::string b =
        run_cif(rock_salt("loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                          "_atom_site_fract_z\n_atom_site_U_iso_or_equiv\nNa1 0 0 0 0.01\n"
                          "Clb 0.5 0.5 0.5 0.01\n"),
                {"--wave", "CuKa1"}, &labelled);
    ASSERT_EQ(typed.status, 0) << typed.err;
    ASSERT_EQ(labelled.status, 0) << labelled.err;
    EXPECT_EQ(a, b);
    EXPECT_EQ(typed.err + labelled.err, "");
}

} // namespace
} // namespace peakhkl
