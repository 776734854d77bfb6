// Every input peakhkl refuses: status 2, nothing for standard output, and
// on standard error where the fault is and what was expected there.
#include "peakhkl/cli.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace peakhkl {
namespace {

// The CIF fixtures by name. An argument "@NAME" stands for the file
// NAME.cif, written by the test that uses it (each test is a process of its
// own, and they run in parallel).
std::map<std::string, std::string>& fixtures() {
    static std::map<std::string, std::string> texts;
    return texts;
}

std::string cif_file(const std::string& name, const std::string& text) {
    fixtures()[name] = text;
    return "@" + name;
}

// args with each "@NAME" replaced by the path of NAME.cif, written in a
// directory of this process's own; the paths to remove are added to written.
std::vector<std::string> with_files(std::vector<std::string> args,
                                    std::vector<std::string>& written) {
    for (std::string& arg : args) {
        if (arg.empty() || arg[0] != '@') continue;
        const std::string dir = testing::TempDir() + "peakhkl_" + std::to_string(getpid());
        mkdir(dir.c_str(), 0700);
        const std::string path = dir + "/" + arg.substr(1) + ".cif";
        std::ofstream(path) << fixtures().at(arg.substr(1));
        written.push_back(path);
        arg = path;
    }
    return args;
}

const std::string cell = "_cell_length_a 5.64\n_cell_length_b 5.64\n_cell_length_c 5.64\n"
                         "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n";

// A CIF of F m -3 m with the atom sites of rows: label, type symbol,
// x y z, occupancy, U_iso (the rows from line 16).
std::string atoms(const std::string& rows) {
    return "data_atoms\n" + cell +
           "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
           "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_occupancy\n"
           "_atom_site_U_iso_or_equiv\n" +
           rows + "_space_group_IT_number 225\n";
}

// Na1's anisotropic U written as values (U11 U22 U33 U12 U13 U23; the
// row on the loop's eighth line).
std::string aniso_loop(const std::string& values) {
    return "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n_atom_site_aniso_U_22\n"
           "_atom_site_aniso_U_33\n_atom_site_aniso_U_12\n_atom_site_aniso_U_13\n"
           "_atom_site_aniso_U_23\nNa1 " +
           values + "\n";
}

// A CIF of P 1 with one Na at a general position and its anisotropic U
// (the row on line 23).
std::string aniso(const std::string& values) {
    return "data_x\n" + cell +
           "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
           "_atom_site_fract_z\nNa1 0.1 0.2 0.3\n_space_group_IT_number 1\n" +
           aniso_loop(values);
}

std::vector<std::string> with_cell(std::vector<std::string> args) {
    std::vector<std::string> all{"--cell", "5.64", "5.64", "5.64", "90", "90", "90"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

struct Refusal {
    const char* rule;
    std::vector<std::string> args;
    std::string message; // a part of the message on standard error
};

void PrintTo(const Refusal& c, std::ostream* os) {
    *os << c.rule;
}

class Refuses : public testing::TestWithParam<Refusal> {};

TEST_P(Refuses, WithWhereAndWhat) {
    const Refusal& c = GetParam();
    std::vector<std::string> written;
    const Outcome o = run(with_files(c.args, written));
    for (const std::string& path : written) std::remove(path.c_str());
    if (!written.empty()) rmdir(written[0].substr(0, written[0].rfind('/')).c_str());
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.rfind("peakhkl: ", 0), 0u) << o.err;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Options, Refuses,
    testing::Values(
        Refusal{"unknown space group", with_cell({"--sg", "Q 7", "--wave", "1.54"}),
                "--sg: expected a space-group symbol"},
        Refusal{"space group number 0", with_cell({"--sg", "0", "--wave", "1.54"}),
                "--sg: expected a space-group symbol"},
        Refusal{"space group number 231", with_cell({"--sg", "231", "--wave", "1.54"}),
                "found \"231\""},
        Refusal{"bad Hall symbol", with_cell({"--sg", "hall:-Q 9", "--wave", "1.54"}),
                "--sg: expected a Hall symbol, found \"-Q 9\""},
        Refusal{"length not positive",
                {"--cell", "5", "5", "-5", "90", "90", "90", "--sg", "1", "--wave", "1.54"},
                "--cell: expected a positive length, found c = -5"},
        Refusal{"length that is no number",
                {"--cell", "5", "5", "five", "90", "90", "90", "--sg", "1", "--wave", "1.54"},
                "--cell: expected six numbers, found \"five\""},
        Refusal{"angles that make no cell",
                {"--cell", "5", "5", "5", "120", "120", "120", "--sg", "1", "--wave", "1.54"},
                "--cell: expected cell angles that span a volume"},
        Refusal{"angle of 180",
                {"--cell", "5", "5", "5", "90", "180", "90", "--sg", "1", "--wave", "1.54"},
                "expected an angle between 0 and 180 degrees"},
        Refusal{"a of 1 A reads as a reciprocal cell",
                {"--cell", "1", "5", "5", "90", "90", "90", "--sg", "1", "--wave", "1.54"},
                "a direct cell with a above 1 A"},
        Refusal{
            "tetragonal group, a != b",
            {"--cell", "4", "4.1", "6", "90", "90", "90", "--sg", "P 4/m m m", "--wave", "1.54"},
            "--cell: expected a cell with the symmetry of P 4/m m m"},
        Refusal{"hexagonal group, gamma 90",
                {"--cell", "4", "4", "6", "90", "90", "90", "--sg", "P 63/m m c", "--wave", "1.54"},
                "expected a cell with the symmetry of P 63/m m c"},
        Refusal{"rhombohedral setting asked of a hexagonal cell",
                {"--cell", "4", "4", "6", "90", "90", "120", "--sg", "R 3 :R", "--wave", "1.54"},
                "expected a cell with the symmetry of R 3:R"},
        Refusal{"hexagonal setting asked of rhombohedral axes",
                {"--cell", "5", "5", "5", "60", "60", "60", "--sg", "R 3 :H", "--wave", "1.54"},
                "expected a cell with the symmetry of R 3:H"},
        // 1e-3 of the largest squared length, c^2 = 100: b^2 - a^2 = 0.104 is beyond it.
        Refusal{
            "a cell just outside the metric tolerance",
            {"--cell", "4", "4.013", "10", "90", "90", "90", "--sg", "P 4/m m m", "--wave", "1.54"},
            "expected a cell with the symmetry of P 4/m m m"},
        Refusal{"no wavelength", with_cell({"--sg", "225"}), "--wave: expected the wavelength"},
        Refusal{"wavelength 0", with_cell({"--sg", "225", "--wave", "0"}),
                "--wave: expected a wavelength in angstroms above 0"},
        Refusal{"negative wavelength", with_cell({"--sg", "225", "--wave", "-1.54"}),
                "found \"-1.54\""},
        Refusal{"unknown line", with_cell({"--sg", "225", "--wave", "CuKa3"}),
                "or one of CuKa1 CuKa2 CuKb"},
        Refusal{"2theta limit 0", with_cell({"--sg", "225", "--wave", "1.54", "--tt-max", "0"}),
                "--tt-max: expected a 2theta limit between 0 and 180 degrees"},
        Refusal{"2theta limit 180", with_cell({"--sg", "225", "--wave", "1.54", "--tt-max", "180"}),
                "--tt-max: expected a 2theta limit between 0 and 180 degrees"},
        Refusal{"d limit 0", with_cell({"--sg", "225", "--wave", "1.54", "--d-min", "0"}),
                "--d-min: expected a d limit in angstroms above 0"},
        Refusal{"both limits",
                with_cell({"--sg", "225", "--wave", "1.54", "--d-min", "1", "--tt-max", "90"}),
                "expected one of the two limits"},
        Refusal{"a name BLT cannot take",
                with_cell({"--sg", "225", "--wave", "1.54", "--name", "Na Cl"}),
                "--name: expected a name of letters, digits"},
        Refusal{"a name Tcl takes for a namespace",
                with_cell({"--sg", "225", "--wave", "1.54", "--name", "a::b"}),
                "--name: expected a name without \"::\""},
        Refusal{"no arguments, with the usage", {}, "no crystal and no wavelength\nusage: peakhkl"},
        Refusal{"no crystal",
                {"--wave", "1.54"},
                "the arguments: expected a CIF file, or --cell and --sg"},
        Refusal{"--cell without --sg", with_cell({"--wave", "1.54"}), "--sg: expected"},
        Refusal{"--cell short of values",
                {"--cell", "5", "5", "5"},
                "--cell: expected 6 values, found the end of the arguments"},
        Refusal{"a valued option last, without its value", with_cell({"--sg", "225", "--wave"}),
                "--wave: expected 1 value, found the end of the arguments"},
        Refusal{"--table last, without its file",
                with_cell({"--sg", "225", "--wave", "1.54", "--table"}),
                "--table: expected 1 value, found the end of the arguments"},
        Refusal{"an option twice", with_cell({"--sg", "225", "--wave", "1.54", "--wave", "1.6"}),
                "--wave: expected the option once"},
        Refusal{"unknown option, with the usage", with_cell({"--sg", "225", "--bogus"}),
                "unknown option \"--bogus\"\nusage: peakhkl"},
        Refusal{"--no-deck without --table",
                with_cell({"--sg", "225", "--wave", "1.54", "--no-deck"}),
                "--no-deck: expected --table FILE to write the list to, found no --table"},
        Refusal{"a --block with an escape, shown as \\xNN",
                {EXAMPLES_DIR "/quartz.cif", "--block", "\x1b[2J", "--wave", "1.54"},
                "expected a data block named \"\\x1B[2J\""},
        Refusal{"R -3 m on axes whose angles differ by 0.05 degrees",
                {"--cell", "5", "5", "5", "60", "60.05", "60", "--sg", "R -3 m", "--wave", "1.54"},
                "--cell: expected a cell with the symmetry of R -3 m:H"},
        Refusal{"a symbol with a character left unread, with close names",
                with_cell({"--sg", "P 21/c\u00a0", "--wave", "1.54"}),
                "found \"P 21/c\u00a0\" (did you mean "},
        Refusal{"more than 5000, with the largest limit",
                {"--cell", "20", "20", "20", "90", "90", "90", "--sg", "P 1", "--wave", "1.54"},
                "--tt-max: expected at most 5000 reflections, as peakpos reads (the largest 2theta "
                "limit that stays within 5000 is just below"}));

INSTANTIATE_TEST_SUITE_P(
    Cifs, Refuses,
    testing::Values(
        Refusal{"a file that cannot be read",
                {testing::TempDir() + "no_such.cif", "--wave", "1.54"},
                "no_such.cif: expected a CIF file that can be read"},
        Refusal{"a CIF that does not parse",
                {cif_file("syntax", "data_x\n_cell_length_a 5\n_cell_length_b 'open\n"), "--wave",
                 "1.54"},
                "syntax.cif:3: expected CIF syntax"},
        Refusal{"a cell value missing",
                {cif_file("no_gamma", "data_x\n_cell_length_a 5\n_cell_length_b 5\n_cell_length_c "
                                      "5\n_cell_angle_alpha 90\n_cell_angle_beta 90\n"),
                 "--wave", "1.54"},
                "data_x: expected a value for _cell_angle_gamma (or _cell.angle_gamma)"},
        Refusal{"a cell value that is no number",
                {cif_file("bad_b", "data_x\n_cell_length_a 5\n_cell_length_b five\n"), "--wave",
                 "1.54"},
                "bad_b.cif:3: _cell_length_b: expected a number, found \"five\""},
        Refusal{"operators that form no group",
                {cif_file("no_group", "data_x\n" + cell +
                                          "loop_\n_space_group_symop_operation_xyz\n"
                                          "x,y,z\n-y,x,z\n"),
                 "--wave", "1.54"},
                "no_group.cif:8: _space_group_symop_operation_xyz: expected symmetry operators "
                "that form a group, found the product of"},
        Refusal{"operators without the identity",
                {cif_file("no_identity",
                          "data_x\n" + cell + "loop_\n_symmetry_equiv_pos_as_xyz\n-x,-y,-z\n"),
                 "--wave", "1.54"},
                "_symmetry_equiv_pos_as_xyz: expected symmetry operators that form a group, "
                "found no identity"},
        Refusal{"an operator that does not parse",
                {cif_file("bad_op",
                          "data_x\n" + cell + "loop_\n_space_group_symop_operation_xyz\nx,y,q\n"),
                 "--wave", "1.54"},
                "expected a symmetry operator such as -x,y+1/2,-z, found \"x,y,q\""},
        Refusal{"no space group",
                {cif_file("no_sg", "data_x\n" + cell), "--wave", "1.54"},
                "no_sg.cif: data_x: expected the space group"},
        Refusal{"an unknown Hermann-Mauguin name",
                {cif_file("bad_hm", "data_x\n" + cell + "_symmetry_space_group_name_H-M 'Q 7'\n"),
                 "--wave", "1.54"},
                "bad_hm.cif:8: _symmetry_space_group_name_H-M: expected a space-group symbol"},
        Refusal{"no source of the group can be read: the most trusted is named",
                {cif_file("bad_both", "data_x\n" + cell +
                                          "_symmetry_space_group_name_H-M 'Q 7'\n"
                                          "_space_group_IT_number 999\n"),
                 "--wave", "1.54"},
                "bad_both.cif:8: _symmetry_space_group_name_H-M: expected a space-group symbol"},
        Refusal{"a cell without the group's symmetry",
                {cif_file("tetragonal", "data_x\n_cell_length_a 4\n_cell_length_b 4.2\n"
                                        "_cell_length_c 6\n_cell_angle_alpha 90\n"
                                        "_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                                        "_space_group_IT_number 123\n"),
                 "--wave", "1.54"},
                "tetragonal.cif:2: _cell_*: expected a cell with the symmetry of P 4/m m m"},
        Refusal{"several blocks without --block",
                {cif_file("two", "data_one\n" + cell + "_space_group_IT_number 225\ndata_two\n" +
                                     cell + "_space_group_IT_number 225\n"),
                 "--wave", "1.54"},
                "two.cif: expected --block NAME to choose one of several data blocks, found the "
                "blocks one two"},
        Refusal{"a --block the file does not hold",
                {cif_file("two", "data_one\n" + cell + "_space_group_IT_number 225\ndata_two\n" +
                                     cell + "_space_group_IT_number 225\n"),
                 "--block", "three", "--wave", "1.54"},
                "expected a data block named \"three\", found the blocks one two"},
        Refusal{"the table over its own CIF",
                {cif_file("mine", atoms("Na1 Na 0 0 0 1 0.01\n")), "--wave", "1.54", "--table",
                 "@mine"},
                "--table: expected a file other than the CIF it is made from, found "},
        Refusal{"a device that never ends",
                {"/dev/zero", "--wave", "1.54"},
                "/dev/zero: expected a regular file (a CIF is read whole, once), found a "
                "character device"},
        Refusal{"a CIF and --cell", with_cell({EXAMPLES_DIR "/quartz.cif", "--wave", "1.54"}),
                "expected either a CIF file or --cell and --sg"},
        // The atoms, under --strict (without it an atom costs the
        // intensities only): the tag, the atom's label and the line.
        Refusal{"a coordinate that is not a number",
                {cif_file("xyz", atoms("Na1 Na 0 0 0 1 0.01\nCl1 Cl 0.5 half 0.5 1 0.01\n")),
                 "--wave", "1.54", "--strict"},
                "xyz.cif:17: _atom_site_fract_y of Cl1: expected a fractional coordinate "
                "(--strict), found \"half\""},
        Refusal{"a coordinate written as a fraction over 0",
                {cif_file("over0", atoms("Na1 Na 0 1/0 0 1 0.01\n")), "--wave", "1.54", "--strict"},
                "_atom_site_fract_y of Na1: expected a fractional coordinate (--strict), found "
                "\"1/0\""},
        Refusal{
            "a coordinate left unknown",
            {cif_file("unknown_y", atoms("Na1 Na 0 ? 0 1 0.01\n")), "--wave", "1.54", "--strict"},
            "_atom_site_fract_y of Na1: expected a fractional coordinate (--strict), found \"?\""},
        Refusal{
            "an occupancy above 1 beyond three uncertainties",
            {cif_file("occ", atoms("Na1 Na 0 0 0 1.5(1) 0.01\n")), "--wave", "1.54", "--strict"},
            "occ.cif:16: _atom_site_occupancy of Na1: expected an occupancy from 0 to 1"},
        Refusal{"an occupancy of 100 with an uncertainty too large to trust",
                {cif_file("occ100", atoms("Na1 Na 0 0 0 100(1000) 0.01\n")), "--wave", "1.54",
                 "--strict"},
                "found \"100(1000)\""},
        Refusal{"a negative occupancy with an uncertainty too large to trust",
                {cif_file("occ_half", atoms("Na1 Na 0 0 0 -0.5(9) 0.01\n")), "--wave", "1.54",
                 "--strict"},
                "_atom_site_occupancy of Na1: expected an occupancy from 0 to 1"},
        Refusal{"a negative occupancy beyond 0.01 without an uncertainty",
                {cif_file("negative_occ", atoms("Na1 Na 0 0 0 -0.1 0.01\n")), "--wave", "1.54",
                 "--strict"},
                "_atom_site_occupancy of Na1: expected an occupancy from 0 to 1"},
        Refusal{"a negative U_iso beyond three uncertainties",
                {cif_file("u", atoms("Na1 Na 0 0 0 1 -0.05(1)\n")), "--wave", "1.54", "--strict"},
                "u.cif:16: _atom_site_U_iso_or_equiv of Na1: expected a displacement of 0 or "
                "more"},
        // B's uncertainty is turned into U's with its value.
        Refusal{"a negative B_iso beyond three uncertainties",
                {cif_file("b", "data_x\n" + cell +
                                   "loop_\n_atom_site_label\n_atom_site_fract_x\n"
                                   "_atom_site_fract_y\n_atom_site_fract_z\n"
                                   "_atom_site_B_iso_or_equiv\nNa1 0 0 0 -2.0(1)\n"
                                   "_space_group_IT_number 225\n"),
                 "--wave", "1.54", "--strict"},
                "b.cif:14: _atom_site_B_iso_or_equiv of Na1: expected a displacement of 0 or "
                "more"},
        Refusal{"a negative U_iso beyond -0.01 without an uncertainty",
                {cif_file("u2", atoms("Na1 Na 0 0 0 1 -0.011\n")), "--wave", "1.54", "--strict"},
                "found \"-0.011\""},
        Refusal{
            "an anisotropic U that is not a number",
            {cif_file("aniso", atoms("Na1 Na 0 0 0 1 0.01\n") + aniso_loop("0.01 0.01 x 0 0 0")),
             "--wave", "1.54", "--strict"},
            "_atom_site_aniso_U_33 of Na1: expected a number (--strict), found \"x\""},
        Refusal{
            "an anisotropic U given in part",
            {cif_file("aniso_part",
                      atoms("Na1 Na 0 0 0 1 0.01\n") + aniso_loop("0.01 0.01 . 0 0 0")),
             "--wave", "1.54", "--strict"},
            ":26: _atom_site_aniso_U_11 of Na1: expected all six of U11 ... U23 (--strict), found "
            "\"0.01 0.01 . 0 0 0\""},
        Refusal{
            "an anisotropic U that is not positive definite",
            {cif_file("aniso_pd", aniso("0.01 0.01 0.01 0.02 0 0")), "--wave", "1.54", "--strict"},
            "aniso_pd.cif:23: _atom_site_aniso_U_11 of Na1: expected an anisotropic "
            "displacement that is positive definite (--strict), found \"0.01 0.01 0.01 0.02 0 "
            "0\""},
        // Its determinant is above 0: the second leading minor tells.
        Refusal{
            "an anisotropic U with two negative principal values",
            {cif_file("aniso_two", aniso("0.01 -0.01 -0.01 0 0 0")), "--wave", "1.54", "--strict"},
            "expected an anisotropic displacement that is positive definite (--strict)"},
        // Its first two leading minors are above 0: the third tells.
        Refusal{
            "an anisotropic U with one negative principal value",
            {cif_file("aniso_one", aniso("0.01 0.01 -0.01 0 0 0")), "--wave", "1.54", "--strict"},
            "expected an anisotropic displacement that is positive definite (--strict)"},
        Refusal{
            "an anisotropic U with . where the site's symmetry does not make it 0",
            {cif_file("aniso_dot", aniso("0.01 0.02 0.03 . . .")), "--wave", "1.54", "--strict"},
            "_atom_site_aniso_U_11 of Na1: expected all six of U11 ... U23 (--strict), found "
            "\"0.01 0.02 0.03 . . .\""},
        // 2 pi h x overflows: the phase, and F, are no numbers.
        Refusal{"a coordinate that makes |F|^2 not finite",
                {cif_file("inf", atoms("Na1 Na 0 0 0 1 0.01\nCl1 Cl 1e308 0.5 0.5 1 0.01\n")),
                 "--wave", "1.54"},
                "inf.cif:17: _atom_site_label of Cl1: expected an atom with a finite |F|^2, found "
                "one that is not finite at "},
        Refusal{"a dummy atom",
                {cif_file("q", atoms("Na1 Na 0 0 0 1 0.01\nQ1 Q 0.1 0.2 0.3 1 0.01\n")), "--wave",
                 "1.54", "--strict"},
                "q.cif:17: _atom_site_label of Q1: expected an atom of a known element "
                "(--strict), found a dummy or unknown atom \"Q\""},
        Refusal{"an unknown type symbol",
                {cif_file("xx", atoms("Xx1 Xx 0 0 0 1 0.01\n")), "--wave", "1.54", "--strict"},
                "_atom_site_label of Xx1: expected an atom of a known element"},
        // Not read as deuterium or oxygen by its first letter.
        Refusal{"a type symbol Du that is no element",
                {cif_file("du", atoms("Du1 Du 0 0 0 1 0.01\n")), "--wave", "1.54", "--strict"},
                "found a dummy or unknown atom \"Du\""},
        Refusal{"a type symbol Ow (water's oxygen) that is no element",
                {cif_file("ow", atoms("Ow1 Ow 0 0 0 1 0.01\n")), "--wave", "1.54", "--strict"},
                "found a dummy or unknown atom \"Ow\""},
        Refusal{"an element without a neutron scattering length",
                {cif_file("po", atoms("Po1 Po 0 0 0 1 0.01\n")), "--wave", "1.54", "--radiation",
                 "neutron", "--strict"},
                "found Po, which has no neutron scattering length"},
        Refusal{"--min-intensity without atoms",
                with_cell({"--sg", "225", "--wave", "1.54", "--min-intensity", "5"}),
                "--min-intensity: expected a crystal with atom sites"},
        Refusal{"--min-intensity above 100",
                {EXAMPLES_DIR "/silicon.cif", "--wave", "1.54", "--min-intensity", "120"},
                "--min-intensity: expected a percentage from 0 to 100, found \"120\""},
        Refusal{"a wavelength in nanometres", with_cell({"--sg", "225", "--wave", "0.0154"}),
                "--wave: expected a wavelength in angstroms from 0.05 to 50 (in nanometres? 0.0154 "
                "nm is 0.154 A), found \"0.0154\""},
        Refusal{"a wavelength in picometres", with_cell({"--sg", "225", "--wave", "154.06"}),
                "(in picometres? 154.06 pm is 1.5406 A)"},
        Refusal{"an X-ray line for neutrons",
                with_cell({"--sg", "225", "--wave", "CuKa1", "--radiation", "neutron"}),
                "--wave: expected a neutron wavelength in angstroms with --radiation neutron, "
                "found the X-ray line \"CuKa1\""},
        Refusal{"an unknown radiation",
                with_cell({"--sg", "225", "--wave", "1.54", "--radiation", "electron"}),
                "--radiation: expected xray or neutron, found \"electron\""},
        Refusal{"a monochromator and a polarization",
                with_cell({"--sg", "225", "--wave", "1.54", "--monochromator", "26.6",
                           "--polarization", "0.9"}),
                "--monochromator/--polarization: expected one of the two, found both"},
        Refusal{"a polarization above 1",
                with_cell({"--sg", "225", "--wave", "1.54", "--polarization", "1.5"}),
                "--polarization: expected a fraction from 0 to 1, found \"1.5\""},
        Refusal{"a monochromator for neutrons",
                with_cell({"--sg", "225", "--wave", "1.54", "--radiation", "neutron",
                           "--monochromator", "26.6"}),
                "--monochromator: expected X-rays, found --radiation neutron"}));

// A CIF larger than the limit is refused before it is read (a sparse file:
// nothing is written to the disk).
TEST(Refuses, ACifLargerThan64MiB) {
    const std::string path =
        testing::TempDir() + "peakhkl_large_" + std::to_string(getpid()) + ".cif";
    std::ofstream(path) << "data_x\n";
    ASSERT_EQ(truncate(path.c_str(), (64LL << 20) + 1), 0);
    const Outcome o = run({path, "--wave", "1.54"});
    std::remove(path.c_str());
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(": expected a CIF of at most 64 MiB, found 67108865 bytes"),
              std::string::npos)
        << o.err;
}

// A named pipe without a writer is refused at once, not waited on.
TEST(Refuses, ANamedPipe) {
    const std::string path = testing::TempDir() + "peakhkl_fifo_" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const Outcome o = run({path, "--wave", "1.54"});
    std::remove(path.c_str());
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(": expected a regular file (a CIF is read whole, once), found a pipe"),
              std::string::npos)
        << o.err;
}

// A --table that is a symbolic link to the CIF is refused, the CIF kept.
TEST(Refuses, ATableThroughALinkToItsCif) {
    const std::string dir = testing::TempDir() + "peakhkl_link_" + std::to_string(getpid());
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    const std::string text = "data_x\n" + cell +
                             "_space_group_IT_number 225\nloop_\n_atom_site_label\n"
                             "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
                             "_atom_site_U_iso_or_equiv\nNa1 0 0 0 0.01\n";
    std::ofstream(dir + "/mine.cif") << text;
    ASSERT_EQ(symlink("mine.cif", (dir + "/table.tsv").c_str()), 0);
    const Outcome o = run({dir + "/mine.cif", "--wave", "1.54", "--table", dir + "/table.tsv"});
    std::ifstream in(dir + "/mine.cif");
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove((dir + "/table.tsv").c_str());
    std::remove((dir + "/mine.cif").c_str());
    rmdir(dir.c_str());
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("--table: expected a file other than the CIF it is made from"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(after, text);
}

// The number one unit of the last digit of text above it (up) or below it.
std::string next_limit(const std::string& text, bool up) {
    const std::size_t e = text.find_first_of("eE");
    const std::string mantissa = text.substr(0, e);
    const int exponent = e == std::string::npos ? 0 : std::stoi(text.substr(e + 1));
    const std::size_t point = mantissa.find('.');
    const int decimals =
        point == std::string::npos ? 0 : static_cast<int>(mantissa.size() - point - 1);
    const double unit = std::pow(10.0, exponent - decimals);
    char next[64];
    std::snprintf(next, sizeof next, "%.15g",
                  std::strtod(text.c_str(), nullptr) + (up ? unit : -unit));
    return next;
}

// text with its last significant digit dropped, rounded toward the limit
// that reaches less far (a smaller 2theta, a larger d); empty for a single
// digit.
std::string shorter_limit(const std::string& text, bool two_theta) {
    const std::string mantissa = text.substr(0, text.find_first_of("eE"));
    int digits = 0;
    for (const char c : mantissa)
        if ((c >= '1' && c <= '9') || (c == '0' && digits > 0)) ++digits;
    if (digits <= 1) return "";
    const double value = std::strtod(text.c_str(), nullptr);
    const double scale = std::pow(10.0, digits - 2 - std::floor(std::log10(value)));
    const double x = two_theta ? std::floor(value * scale + 1e-6) / scale
                               : std::ceil(value * scale - 1e-6) / scale;
    std::ostringstream shorter;
    shorter << std::setprecision(digits - 1) << x;
    return shorter.str();
}

// The npeak of a deck.
std::size_t npeak_of(const std::string& deck) {
    std::size_t line4 = 0; // npeak is on the deck's fourth line
    for (int n = 0; n < 3; ++n) line4 = deck.find('\n', line4) + 1;
    return std::stoul(deck.substr(line4));
}

TEST(Refuses, TooManyWithinASecondAndTheLimitItNamesHolds) {
    using Args = std::vector<std::string>;
    std::vector<Args> cases{
        // d_min far below anything that fits: a huge box, a thin oblique cell.
        Args{"--cell", "2", "300", "2", "30", "30", "30", "--sg", "P1", "--wave", "1", "--d-min",
             "1e-6"},
        Args{"--cell", "500", "500", "500", "90", "90", "90", "--sg", "225", "--wave", "0.05",
             "--tt-max", "179"},
        Args{"--cell", "50", "60", "70", "80", "85", "95", "--sg", "P 1", "--wave", "CuKa1"},
        Args{"--cell", "40", "50", "60", "90", "100", "90", "--sg", "P 21/c", "--wave", "CuKa1",
             "--allowed-only"}};
#ifdef NDEBUG
    // The slowest path, a cubic group's allowed reflections only, is left to
    // the optimised build: the sanitizers' build takes seconds over it.
    cases.push_back(Args{"--cell", "70", "70", "70", "90", "90", "90", "--sg", "I a -3 d", "--wave",
                         "CuKa1", "--allowed-only"});
#endif
    for (const Args& args : cases) {
        // Processor time, not wall time: the other tests running beside this
        // one must not make it fail.
        const std::clock_t start = std::clock();
        const Outcome o = run(args);
        [[maybe_unused]] const double took =
            static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
#ifdef NDEBUG // an optimised build; the sanitizers' build is many times slower
        EXPECT_LT(took, 1.0) << o.err;
#endif
        ASSERT_EQ(o.status, 2);
        // "..., e.g. --tt-max 20.1029), found ...": the proposed limit keeps
        // at most 5000; the bound it is just below does not.
        const std::string option = args[args.size() - 2] == "--d-min" ? "--d-min" : "--tt-max";
        const auto at = o.err.find("e.g. " + option + " ");
        ASSERT_NE(at, std::string::npos) << o.err;
        const std::size_t from = at + option.size() + 6;
        const std::string limit = o.err.substr(from, o.err.find(')', from) - from);
        std::vector<std::string> within = args;
        bool has_limit = false;
        for (std::size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == option) {
                within[i + 1] = limit;
                has_limit = true;
            }
        if (!has_limit) within.insert(within.end(), {option, limit});
        const Outcome kept = run(within);
        ASSERT_EQ(kept.status, 0) << limit << " " << kept.err;
        const std::size_t npeak = npeak_of(kept.out);
        EXPECT_LE(npeak, 5000u);
        EXPECT_GT(npeak, 4000u);
        // It keeps the most that stay within 5000: the next limit of its
        // precision that reaches further (a larger 2theta, a smaller d)
        // keeps more than 5000. And it has the fewest digits that do: one
        // digit fewer keeps fewer reflections.
        const bool two_theta = option == "--tt-max";
        const auto at_limit = std::find(within.begin(), within.end(), option) + 1;
        *at_limit = next_limit(limit, two_theta);
        EXPECT_EQ(run(within).status, 2) << limit << " " << *at_limit;
        *at_limit = shorter_limit(limit, two_theta);
        if (!at_limit->empty()) {
            const Outcome fewer = run(within);
            if (fewer.status == 0) {
                EXPECT_LT(npeak_of(fewer.out), npeak) << limit << " " << *at_limit;
            }
        }
    }
}

} // namespace
} // namespace peakhkl
