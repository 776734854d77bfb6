// The CIFs people download: each harmless flaw read with a warning, each
// fault refused with where and what, the space-group spellings in use, and
// whole files in the forms of mineral and inorganic databases, SHELX and
// CIF 2.0.
#include "peakhkl/cli.hpp"
#include "peakhkl/symbol.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace peakhkl {
namespace {

struct Spelling {
    const char* written;
    const char* table; // gemmi's name of the setting, "" for none
};

void PrintTo(const Spelling& c, std::ostream* os) {
    *os << c.written;
}

class Spellings : public testing::TestWithParam<Spelling> {};

TEST_P(Spellings, NameTheirSetting) {
    const gemmi::SpaceGroup* sg = find_by_symbol(GetParam().written);
    EXPECT_EQ(sg ? sg->xhm() : "", GetParam().table);
}

INSTANTIATE_TEST_SUITE_P(
    Symbols, Spellings,
    testing::Values(Spelling{"Fm-3m", "F m -3 m"}, Spelling{"P m -3 m", "P m -3 m"},
                    Spelling{"Fm3m", "F m -3 m"},         // before 1983
                    Spelling{"I a 3 d", "I a -3 d"},      // before 1983
                    Spelling{"P 21 /m", "P 1 21/m 1"},    // blanks anywhere
                    Spelling{"P\t21/c", "P 1 21/c 1"},    // a tab
                    Spelling{"P2_1/n", "P 1 21/n 1"},     // subscript with _
                    Spelling{"P4_{2}/mnm", "P 42/m n m"}, // subscript with _{}
                    Spelling{"P2(1)/c", "P 1 21/c 1"},    // SHELX
                    Spelling{"P 1 21/n 1", "P 1 21/n 1"}, // the full symbol
                    Spelling{"p 21/c", "P 1 21/c 1"},     // case
                    Spelling{"R -3 m H", "R -3 m:H"},     // ICSD
                    Spelling{"R -3 m R", "R -3 m:R"},     // ICSD
                    Spelling{"R-3mH", "R -3 m:H"},        // setting letter, no blank
                    Spelling{"F D -3 M Z", "F d -3 m:2"}, // ICSD origin choice 2
                    Spelling{"Fd-3mS", "F d -3 m:1"},     // ICSD origin choice 1
                    Spelling{"P 4/n m m (origin choice 2)", "P 4/n m m:2"},
                    Spelling{"P\u22121", "P -1"},            // Unicode minus
                    Spelling{"P3\u0305", "P -3"},            // Unicode overbar
                    Spelling{"P3m1", "P 3 m 1"},             // a 3 after the lattice letter
                    Spelling{"P 21/n 21/m 21/a", "P n m a"}, // full symbols
                    Spelling{"P 4/m 2/m 2/m", "P 4/m m m"}, Spelling{"F 4/m -3 2/m", "F m -3 m"},
                    Spelling{"P 63/m 2/m 2/c", "P 63/m m c"}, Spelling{"P 21/c shifted", ""},
                    Spelling{"Q 7", ""}, Spelling{"P 2₁/c", "P 1 21/c 1"}, // subscript digits
                    Spelling{"I 4₁/a", "I 41/a:1"},                        // as papers print them
                    Spelling{"P2１/c", "P 1 21/c 1"},                      // a full-width digit
                    Spelling{"P 2₃/c", ""},                                // 23 is no screw of P c
                    Spelling{"P 21/c ", ""},        // a character left unread
                    Spelling{"P 2x/c 2/m 2/m", ""}, // nor shortened to P c m m
                    Spelling{"P 21/с", ""}));       // a Cyrillic c

TEST(Spellings, CloseNamesAreNearInSpelling) {
    const std::vector<std::string> names = close_names("Fm-3x");
    ASSERT_FALSE(names.empty());
    EXPECT_LE(names.size(), 3u);
    EXPECT_EQ(names[0].substr(0, 6), "F m -3");
    EXPECT_TRUE(close_names("nothing like a symbol at all").empty());
}

const std::string cubic_cell = "_cell_length_a 5.64\n_cell_length_b 5.64\n_cell_length_c 5.64\n"
                               "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n";
const std::string centred_inversion =
    "loop_\n_space_group_symop_operation_xyz\nx,y,z\n-x,-y,-z\n"
    "x,y+1/2,z+1/2\n-x,-y+1/2,-z+1/2\nx+1/2,y,z+1/2\n-x+1/2,-y,-z+1/2\n"
    "x+1/2,y+1/2,z\n-x+1/2,-y+1/2,-z\n";

// An atom-site loop: label, x, y, z, occupancy (and with iso, U_iso).
const std::string sites = "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                          "_atom_site_fract_z\n_atom_site_occupancy\n";
const std::string iso = "_atom_site_U_iso_or_equiv\n";

// One CIF text, and what peakhkl makes of it: a deck whose first line
// begins with name and a warning or note holding message, or a refusal
// holding message.
struct Snippet {
    const char* rule;
    std::string text;
    bool read;
    std::string message; // a part of standard error ("" for none)
    std::string name;    // the deck's first line begins so, when read
};

void PrintTo(const Snippet& c, std::ostream* os) {
    *os << c.rule;
}

Outcome run_on(const std::string& text, const std::string& tag) {
    const std::string path =
        testing::TempDir() + "peakhkl_" + tag + "_" + std::to_string(getpid()) + ".cif";
    std::ofstream(path, std::ios::binary) << text;
    const Outcome o = run({path, "--wave", "CuKa1", "--tt-max", "40"});
    std::remove(path.c_str());
    return o;
}

class Snippets : public testing::TestWithParam<Snippet> {};

TEST_P(Snippets, AreReadWithAWarningOrRefused) {
    const Snippet& c = GetParam();
    const Outcome o = run_on(c.text, "snippet");
    if (c.read) {
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.substr(0, c.name.size()), c.name);
        if (c.message.empty())
            EXPECT_EQ(o.err, "");
        else
            EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    } else {
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.out, "");
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flaws, Snippets,
    testing::Values(
        Snippet{"a tag peakhkl does not read, twice",
                "data_x\n_journal_year 2004\n" + cubic_cell +
                    "_space_group_IT_number 225\n_journal_year 2005\n",
                true, ".cif:10: warning: _journal_year given again (first at line 2); peakhkl",
                "x F m -3 m"},
        Snippet{"a tag peakhkl reads, again without a value",
                "data_x\n" + cubic_cell + "_space_group_IT_number 225\n_space_group_IT_number ''\n",
                true, ":9: warning: _space_group_IT_number given again (first at line 8) without",
                "x F m -3 m"},
        Snippet{"a tag peakhkl reads, twice with one value",
                "data_x\n" + cubic_cell +
                    "_space_group_IT_number 225\n_space_group_IT_number 225\n",
                true, "given again (first at line 8) with the same value", "x F m -3 m"},
        Snippet{
            "a tag peakhkl reads, twice with two values",
            "data_x\n" + cubic_cell + "_space_group_IT_number 225\n_cell_length_a 5.7\n", false,
            ".cif:9: _cell_length_a: expected one value, found \"5.64\" at line 2 and \"5.7\" at "
            "line 9",
            ""},
        Snippet{"a tag without a value that peakhkl does not read",
                "data_x\n_journal_year\n" + cubic_cell + "_space_group_IT_number 225\n", true,
                ":2: warning: _journal_year has no value", "x F m -3 m"},
        Snippet{"a tag without a value that peakhkl reads",
                "data_x\n_cell_length_a\n" + cubic_cell.substr(cubic_cell.find('\n') + 1) +
                    "_space_group_IT_number 225\n",
                false, ".cif:2: _cell_length_a: expected a value, found none", ""},
        Snippet{"a byte-order mark",
                "\xEF\xBB\xBF"
                "data_x\n" +
                    cubic_cell + "_space_group_IT_number 225\n",
                true, ".cif:1: warning: a UTF-8 byte-order mark, skipped", "x F m -3 m"},
        Snippet{"text before data_",
                "# a comment\nDownloaded from a database\n\ndata_x\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true, ".cif:2: warning: text before the first data_ line, skipped", "x F m -3 m"},
        Snippet{"a NUL byte", "data_x\n" + cubic_cell + std::string(4, '\0'), false,
                ".cif:8: expected CIF text, found a NUL byte", ""},
        Snippet{"no data_ line", "not a CIF at all\n", false,
                "expected a data block (data_NAME), found none", ""},
        Snippet{"dotted tags, the cell and the number",
                "data_x\n_cell.length_a 5.64\n_cell.length_b 5.64\n_cell.length_c 5.64\n"
                "_cell.angle_alpha 90\n_cell.angle_beta 90\n_cell.angle_gamma 90\n"
                "_space_group.IT_number 225\n",
                true, "", "x F m -3 m"},
        Snippet{"no space group: both forms named", "data_x\n" + cubic_cell, false,
                "_space_group_IT_number (or _space_group.IT_number)", ""},
        Snippet{"CIF 2.0 values",
                "#\\#CIF_2.0\ndata_x\n_x.list [1 [2 3] 'a b']\n_x.table {'k':1 'l':[2]}\n"
                "_x.text \"\"\"two\nlines\"\"\"\n" +
                    cubic_cell +
                    "_space_group.name_H-M_alt "
                    "'''F m -3 m'''\n",
                true, "", "x F m -3 m"},
        Snippet{"a CIF 2.0 list where a number is read",
                "#\\#CIF_2.0\ndata_x\n_cell.length_a [5.64]\n" +
                    cubic_cell.substr(cubic_cell.find('\n') + 1) + "_space_group_IT_number 225\n",
                false, ".cif:3: _cell_length_a: expected a number, found \"[list]\"", ""},
        Snippet{"a CIF 2.0 list left open",
                "#\\#CIF_2.0\ndata_x\n_x.list [1 2\n" + cubic_cell + "_space_group_IT_number 225\n",
                false, ".cif:3: expected CIF syntax, found a list that is not closed", ""},
        Snippet{"a malformed Hall symbol gives way to the name",
                "data_x\n" + cubic_cell +
                    "_space_group_name_Hall '-F 4 2 3 Q'\n_space_group_name_H-M_alt 'Fm3m'\n",
                true,
                ":8: _space_group_name_Hall: warning: expected a Hall symbol, found \"-F 4 2 3 "
                "Q\"; skipped, the space group is taken from _space_group_name_H-M_alt",
                "x F m -3 m"},
        Snippet{"? and . in the more trusted tags give way without a word",
                "data_x\n" + cubic_cell +
                    "loop_\n_space_group_symop_operation_xyz\n?\n_space_group_name_Hall .\n"
                    "_space_group_name_H-M_alt ?\n_space_group_IT_number 225\n",
                true, "", "x F m -3 m"},
        Snippet{"decimal translations within 1e-3 of 24ths",
                "data_x\n" + cubic_cell +
                    "loop_\n_symmetry_equiv_pos_as_xyz\nx,y,z\n-x,-y,-z\nx,0.5+y,z+0.5\n"
                    "-x,-y+.5000,-z+0.5\n0.5+x,y,0.5+z\n-x+0.5,-y,-z+0.5\nx+0.5,0.5+y,z\n"
                    "-x+0.4999,-y+0.5,-z\n",
                true, "", "x F -1"},
        Snippet{"decimals that form no group give way to the number",
                "data_x\n" + cubic_cell +
                    "loop_\n_symmetry_equiv_pos_as_xyz\nx,y,z\nx+0.3,y,z\n"
                    "_symmetry_Int_Tables_number 225\n",
                true,
                "_symmetry_equiv_pos_as_xyz: warning: expected a symmetry operator such as "
                "-x,y+1/2,-z, found \"x+0.3,y,z\" (0.3 is not within 0.001 of a multiple of "
                "1/24); skipped",
                "x F m -3 m"},
        Snippet{"a coefficient too long for an operator",
                "data_x\n" + cubic_cell +
                    "loop_\n_space_group_symop_operation_xyz\nx,y,z\n99999999999999999999y,x,z\n",
                false, "(the number 99999999999999999999 is not a coefficient of an operator)", ""},
        Snippet{"operators and a number that disagree",
                "data_x\n" + cubic_cell + centred_inversion + "_space_group_IT_number 221\n", true,
                ":18: _space_group_IT_number: warning: names P m -3 m (221), another space-group "
                "type than F -1 (2) of ",
                "x F -1"},
        Snippet{"two numbers that disagree",
                "data_x\n" + cubic_cell +
                    "_space_group_IT_number 225\n_symmetry_Int_Tables_number 221\n",
                true,
                ":9: _symmetry_Int_Tables_number: warning: names P m -3 m (221), another "
                "space-group type than F m -3 m (225) of ",
                "x F m -3 m"},
        // Compared as types: the same group in another setting is no disagreement.
        Snippet{"operators and a name of the same type in another setting",
                "data_x\n_cell_length_a 5\n_cell_length_b 6\n_cell_length_c 7\n"
                "_cell_angle_alpha 90\n_cell_angle_beta 100\n_cell_angle_gamma 90\n"
                "loop_\n_space_group_symop_operation_xyz\nx,y,z\n-x,y+1/2,-z+1/2\n-x,-y,-z\n"
                "x,-y+1/2,z+1/2\n_symmetry_space_group_name_H-M 'P 21/n'\n",
                true, "", "x P 1 21/c 1"},
        Snippet{"a symbol with a subscript digit",
                "data_x\n_cell_length_a 5\n_cell_length_b 6\n_cell_length_c 7\n"
                "_cell_angle_alpha 90\n_cell_angle_beta 100\n_cell_angle_gamma 90\n"
                "_symmetry_space_group_name_H-M 'P 2\u2081/c'\n",
                true, "", "x P 1 21/c 1"},
        Snippet{"a control character in a symbol, shown as \\xNN",
                "data_x\n" + cubic_cell + "_symmetry_space_group_name_H-M 'F m -3 m\x01'\n", false,
                "found \"F m -3 m\\x01\"", ""},
        Snippet{"a journal's data_global beside the crystal's block",
                "data_global\n_journal_name_full 'Z. Kristallogr.'\n_publ_section_title\n;\nA "
                "study\n;\ndata_halite\n" +
                    cubic_cell + "_space_group_IT_number 225\n",
                true,
                ".cif: note: data_halite is taken, the only one of 2 blocks with a cell (--block "
                "NAME takes another)",
                "halite F m -3 m"},
        Snippet{"a formula as chemists write it",
                "data_I\n_chemical_formula_sum 'O1 Zn1'\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true, "named after the name \"ZnO\" of _chemical_formula_sum", "ZnO F m -3 m"},
        // Hill's order is for carbon with hydrogen; a carbonate is CaCO3.
        Snippet{"a carbonate's formula as chemists write it",
                "data_I\n_chemical_formula_sum 'C1 Ca1 O3'\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true, "named after the name \"CaCO3\" of _chemical_formula_sum", "CaCO3 F m -3 m"},
        Snippet{"a block name beginning with a digit takes the mineral's name",
                "data_2p10h\n_chemical_name_mineral 'rock salt'\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true, "the deck is named \"rock_salt\"", "rock_salt F m -3 m"},
        Snippet{"a symbol that names nothing, with close names",
                "data_x\n" + cubic_cell + "_symmetry_space_group_name_H-M 'Fm-3x'\n", false,
                ".cif:8: _symmetry_space_group_name_H-M: expected a space-group symbol (a "
                "Hermann-Mauguin name, a number from 1 to 230, or hall: and a Hall symbol), found "
                "\"Fm-3x\" (did you mean \"F m -3",
                ""},
        Snippet{"the H-M name of the reference setting",
                "data_x\n" + cubic_cell + "_space_group_name_H-M_ref 'F m -3 m'\n", true, "",
                "x F m -3 m"},
        Snippet{"a block named global takes the mineral's name",
                "data_global\n_chemical_name_mineral Halite\n_chemical_formula_sum 'Na Cl'\n" +
                    cubic_cell + "_space_group_IT_number 225\n",
                true, "note: the deck is named after the name \"Halite\" of _chemical_name_mineral",
                "Halite F m -3 m"},
        Snippet{"a block named I takes the formula, blanks removed",
                "data_I\n_chemical_name_common ?\n_chemical_formula_sum 'Na Cl'\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true, "named after the name \"NaCl\" of _chemical_formula_sum", "NaCl F m -3 m"},
        Snippet{"a database code after its name takes the mineral's name",
                "data_ICSD-52280\n_chemical_name_mineral Halite\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true, "note: the deck is named after the name \"Halite\" of _chemical_name_mineral",
                "Halite F m -3 m"},
        // Atoms read without a word: a full anisotropic U, two atoms of one
        // element 0.017 A apart, two elements sharing a site.
        Snippet{"an anisotropic U given whole",
                "data_x\n" + cubic_cell + "_space_group_IT_number 1\n" + sites +
                    "Na1 0.1 0.2 0.3 1\nloop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n"
                    "_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n_atom_site_aniso_U_12\n"
                    "_atom_site_aniso_U_13\n_atom_site_aniso_U_23\nNa1 0.01 0.02 0.03 0 0 0\n",
                true, "", "x P 1"},
        Snippet{"two atoms of one element near, not at one place",
                "data_x\n" + cubic_cell + "_space_group_IT_number 1\n" + sites + iso +
                    "Na1 0 0 0 1 0.01\nNa2 0.003 0 0 1 0.01\n",
                true, "", "x P 1"},
        Snippet{"two elements sharing one site",
                "data_x\n" + cubic_cell + "_space_group_IT_number 1\n" + sites + iso +
                    "Fe1 0.1 0.2 0.3 0.5 0.01\nMg1 0.1 0.2 0.3 0.5 0.01\n",
                true, "", "x P 1"},
        Snippet{"a formula with a word that is no element is kept, without its blanks",
                "data_I\n_chemical_formula_sum 'Si O2 H2O'\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true, "named after the name \"SiO2H2O\" of _chemical_formula_sum",
                "SiO2H2O F m -3 m"},
        Snippet{"a name over two lines of a text field, one blank between its words",
                "data_I\n_chemical_name_mineral\n;\nrock\n  salt\n;\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true, "the deck is named \"rock_salt\"", "rock_salt F m -3 m"},
        Snippet{"a database code takes the common name, mended",
                "data_52280-ICSD\n_chemical_name_common 'rock salt'\n" + cubic_cell +
                    "_space_group_IT_number 225\n",
                true,
                "the name \"rock salt\" of _chemical_name_common (the block is data_52280-ICSD) is "
                "not a Tcl and BLT name word",
                "rock_salt F m -3 m"}));

TEST(Snippets, ADirectoryIsRefusedAsSuch) {
    const Outcome o = run({testing::TempDir(), "--wave", "CuKa1"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("expected a CIF file that can be read, found a directory"),
              std::string::npos)
        << o.err;
}

TEST(Snippets, ManyBlocksAreListedShortWithinASecond) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "data_b" + std::to_string(i) + "\n_x 1\n";
    const std::clock_t start = std::clock();
    const Outcome o = run_on(text, "blocks");
    const double took = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
#ifdef NDEBUG // an optimised build; the sanitizers' build is many times slower
    EXPECT_LT(took, 1.0);
#else
    EXPECT_LT(took, 20.0); // the square of the block count would take minutes
#endif
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("found the blocks b0 b1 "), std::string::npos) << o.err.substr(0, 300);
    EXPECT_NE(o.err.find(" b19 and 99980 more\n"), std::string::npos) << o.err.substr(0, 300);
}

// The hand-written files in the forms people download.
struct WholeFile {
    const char* file;
    std::string name;                  // the deck's first line
    std::vector<std::string> warnings; // each warning on standard error, in order
};

void PrintTo(const WholeFile& c, std::ostream* os) {
    *os << c.file;
}

class WholeFiles : public testing::TestWithParam<WholeFile> {};

TEST_P(WholeFiles, AreRead) {
    const WholeFile& c = GetParam();
    const Outcome o = run({std::string(CIF_DIR "/") + c.file, "--wave", "CuKa1"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.substr(0, o.out.find('\n')), c.name);
    std::size_t warnings = 0;
    for (std::size_t at = o.err.find("warning:"); at != std::string::npos;
         at = o.err.find("warning:", at + 1))
        ++warnings;
    EXPECT_EQ(warnings, c.warnings.size()) << o.err;
    for (const std::string& warning : c.warnings)
        EXPECT_NE(o.err.find(warning), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, WholeFiles,
    testing::Values(WholeFile{"mineral.cif",
                              "Halite F m -3 m",
                              {"mineral.cif:35: warning: _chemical_formula_sum given again"}},
                    WholeFile{"cif2.cif", "quartz_cif2 P 32 2 1", {}},
                    WholeFile{"shelx.cif", "C7H6O2 P 1 21/c 1", {}},
                    WholeFile{"icsd.cif",
                              "Tellurobismuthite",
                              {"icsd.cif:34: warning: _atom_site_label of Bi1: no form factor for "
                               "the ion \"Bi3+\"",
                               "icsd.cif:35: warning: _atom_site_label of Te1: no form factor for "
                               "the ion \"Te2-\""}}));

} // namespace
} // namespace peakhkl
