// The pattern reader: one table of files in every format (ranges, points,
// first and last 2theta, the stated wavelength), one of lines read,
// skipped or refused, one of the files refused before they are read.
#include "pattern/pattern.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace pattern {
namespace {

const std::string data = PATTERN_DATA_DIR;

std::string num(double v) {
    if (std::isnan(v)) return "-";
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The pattern on one line: its format; each range as "points x0..x1",
// with "σ" where the file gives sigma, its gaps and its step time; the
// wavelengths and where they were read.
std::string summary(const Pattern& p) {
    std::string s = p.format;
    for (const Range& r : p.ranges) {
        s += " | " + std::to_string(r.x.size()) + " " + num(r.x.front()) + ".." + num(r.x.back());
        if (r.sigma_given) s += " σ";
        for (const std::size_t g : r.gaps) s += " gap@" + std::to_string(g);
        if (!std::isnan(r.step_time)) s += " " + num(r.step_time) + "s";
    }
    s += " | λ " + num(p.wave.alpha1);
    if (!std::isnan(p.wave.alpha2)) s += " " + num(p.wave.alpha2) + " " + num(p.wave.ratio);
    if (!p.wave.source.empty()) s += " (" + p.wave.source + ")";
    return s;
}

// What reading text makes: each range's points "x:y" (":sigma" where
// given), ranges apart by " /", then " | note@LINE" per note; or
// "refused: LINE: reason".
std::string outcome(const std::string& text, const Options& options = {}) {
    try {
        const Pattern p = parse(text, "t.xy", options);
        std::string s;
        for (const Range& r : p.ranges) {
            if (!s.empty()) s += " /";
            for (std::size_t i = 0; i < r.x.size(); ++i)
                s += (i ? " " : "") + num(r.x[i]) + ":" + num(r.y[i]) +
                     (r.sigma_given ? ":" + num(r.sigma[i]) : "");
        }
        for (const Note& n : p.notes) s += " | note@" + std::to_string(n.line);
        return s;
    } catch (const ReadError& e) {
        return "refused: " + std::to_string(e.line()) + ": " + e.reason();
    }
}

struct FileCase {
    const char* file;
    std::string expected; // summary()
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.file;
}

class Formats : public testing::TestWithParam<FileCase> {};

TEST_P(Formats, ReadAsWritten) {
    EXPECT_EQ(summary(read(data + "/" + GetParam().file)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Formats,
    testing::Values(
        FileCase{"SiC_Zn.dat", "columns | 4001 20..100 | λ -"},
        FileCase{"wavelength-line.xy", "columns | 4 20..20.06 | λ 1.54056 (line 1)"},
        FileCase{"fortran.dat", "columns | 4 20..20.06 | λ -"},
        FileCase{"decimal-comma.csv", "columns | 4 20..20.06 | λ -"},
        FileCase{"decimal-comma-tab.txt", "columns | 3 20..20.04 σ | λ -"},
        FileCase{"fit.xye", "columns | 3 10..10.04 | 2 40..40.02 | λ -"},
        FileCase{"gap.xy", "columns | 20 20..30.18 gap@10 | λ -"},
        FileCase{"SiC_Zn-std.gsa", "gsas-std | 25 20..20.48 | λ -"},
        FileCase{"SiC_Zn-detectors.gsa", "gsas-std | 25 20..20.48 σ | λ -"},
        FileCase{"Quinoli-cut.gda", "gsas-esd | 100 7.5..7.896 σ | λ -"},
        FileCase{"Si-11bm.fxye", "gsas-fxye | 6 5..5.005 σ | λ 0.413855 (line 3)"},
        FileCase{"Cu3Au-1.raw", "bruker_raw | 3901 22..100 0.5s | λ 1.5406 1.54439 0.5 (header)"},
        FileCase{"Keokuk_kaolinite.RAW", "bruker_raw | 4001 10..90 4s | 3501 80..150 12s | λ "
                                         "1.5406 1.54439 0.5 (header)"},
        FileCase{
            "RbNb2O5F.xrdml",
            "xrdml | 8758 5.00656514..119.98845054 598.995s | λ 1.540598 1.544426 0.5 (header)"},
        FileCase{"scan.uxd", "uxd | 5 30..30.08 1s | λ 1.5406 (header)"}));

// The values themselves, where a summary would not show a misreading.
TEST(Values, AsTheFileWritesThem) {
    const Pattern comma = read(data + "/decimal-comma.csv");
    EXPECT_EQ(comma.ranges[0].y, (std::vector<double>{49, 39.5, 31, 1.234}));
    const Pattern tab = read(data + "/decimal-comma-tab.txt");
    EXPECT_EQ(tab.ranges[0].sigma, (std::vector<double>{7, 6.3, 5.6}));
    const Pattern old = read(data + "/fortran.dat");
    EXPECT_EQ(old.ranges[0].y, (std::vector<double>{49, 39, 31, 42}));
    // STD: sigma = sqrt(count / detectors); ESD: as written.
    const Pattern std_counts = read(data + "/SiC_Zn-std.gsa");
    EXPECT_EQ(std_counts.ranges[0].y.front(), 49);
    EXPECT_EQ(std_counts.ranges[0].sigma.front(), 7);
    const Pattern detectors = read(data + "/SiC_Zn-detectors.gsa");
    EXPECT_DOUBLE_EQ(detectors.ranges[0].sigma[1], std::sqrt(39.0 / 2));
    EXPECT_EQ(detectors.ranges[0].y, std_counts.ranges[0].y);
    const Pattern esd = read(data + "/Quinoli-cut.gda");
    EXPECT_EQ(esd.ranges[0].y[5], 361.5);
    EXPECT_EQ(esd.ranges[0].sigma[5], 18.8);
    EXPECT_DOUBLE_EQ(esd.ranges[0].x[5], 7.52);
    // peakfit's table: every column kept, sigma from the observed counts.
    Options all;
    all.all_columns = true;
    const Pattern fit = read(data + "/fit.xye", all);
    ASSERT_EQ(fit.ranges.size(), 2u);
    EXPECT_FALSE(fit.ranges[0].sigma_given);
    EXPECT_EQ(fit.ranges[0].columns.size(), 4u);
    EXPECT_EQ(fit.ranges[1].columns[3], (std::vector<double>{-1, 1}));
    EXPECT_EQ(fit.ranges[1].sigma[0], std::sqrt(90.0));
    // Every column checked as a point's values are.
    EXPECT_EQ(outcome("1 2 3 4\n2 3 nan 5\n3 4 5 6\n", all), "1:2 3:4 | note@2");
    EXPECT_EQ(outcome("1 2 3 4\n2 3 4 2e100\n", all),
              "refused: 2: the value 2e+100 lies beyond ±1e100, which no pattern holds");
}

struct LineCase {
    const char* rule;
    std::string text;
    std::string expected; // "x:y:sigma ..." then "| note@line" per note, or "refused: LINE: reason"
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.rule;
}

class Lines : public testing::TestWithParam<LineCase> {};

TEST_P(Lines, ReadSkippedOrRefused) {
    EXPECT_EQ(outcome(GetParam().text), GetParam().expected) << GetParam().rule;
}

INSTANTIATE_TEST_SUITE_P(
    Columns, Lines,
    testing::Values(
        LineCase{"a leading point, signs, comments after the values",
                 ".5 7\n+1 -2 # a comment\n2 3 ! another\n", "0.5:7 1:-2 2:3"},
        LineCase{"blanks, tabs, a comma or a semicolon between", "1\t2\n2 , 3\n3;4\n4.0,5\n",
                 "1:2 2:3 3:4 4:5"},
        LineCase{"a value past the largest double: the line skipped, with a note",
                 "1 2\n2 1e400\n3 4\n", "1:2 3:4 | note@2"},
        LineCase{"NaN and infinity skipped alike", "1 2\nnan 3\n2 -inf\n3 4\n", "1:2 3:4 | note@2"},
        LineCase{"a line that starts with a number but is no point: noted", "1 2\n5 x\n2 3\n6 y\n",
                 "1:2 2:3 | note@2"},
        LineCase{"a fourth column: not read, noted", "1 2 3 4\n2 3 4 5\n", "1:2:3 2:3:4 | note@1"},
        LineCase{"words among the points: noted", "1 2\nRange two\n2 3\n", "1:2 2:3 | note@2"},
        LineCase{"a header of words and a line of dashes: skipped",
                 "2theta counts\n2-Theta\n-----\n1 2\n2 3\n", "1:2 2:3"},
        LineCase{"a first line of a count is no wavelength", "3\n1 2\n2 3\n", "1:2 2:3 | note@1"},
        LineCase{"the wavelength only on the first line", "1 2\n1.54\n2 3\n", "1:2 2:3 | note@2"},
        LineCase{"a value too small for a double reads as 0", "1 1e-400\n2 3\n", "1:0 2:3"},
        LineCase{"a byte-order mark",
                 "\xef\xbb\xbf"
                 "1 2\n2 3\n",
                 "1:2 2:3"},
        LineCase{"# range N starts a range", "1 2\n2 3\n# range 2\n1 5\n2 6\n", "1:2 2:3 /1:5 2:6"},
        LineCase{"σ = 0: read, noted", "1 2 0\n2 3 1\n", "1:2:0 2:3:1 | note@1"},
        LineCase{"2θ going back", "1 2\n3 4\n2 5\n",
                 "refused: 3: 2θ 2 is not above the point before's 3 (line 2): within a range 2θ "
                 "must increase "
                 "(a new range starts at a line \"# range N\")"},
        LineCase{"blank lines count", "1 2\n\n \t\r\n\n3 4\n2 5\n",
                 "refused: 6: 2θ 2 is not above the point before's 3 (line 5): within a range 2θ "
                 "must increase "
                 "(a new range starts at a line \"# range N\")"},
        LineCase{"2θ twice", "1 2\n1 3\n",
                 "refused: 2: 2θ 1 is not above the point before's 1 (line 1): within "
                 "a range 2θ must increase (a new range starts at a line \"# range N\")"},
        LineCase{"a value beyond ±1e100", "1 2\n2 -1e101\n",
                 "refused: 2: the value -1e+101 lies beyond ±1e100, which no pattern holds"},
        LineCase{"a negative σ", "1 2 1\n2 3 -1\n", "refused: 2: the σ -1 is negative"},
        LineCase{"σ missing where the range has it", "1 2 1\n2 3\n",
                 "refused: 2: 2 columns, where line 1 has 3 (2θ, intensity and σ)"},
        LineCase{"decimal commas that cannot be told from separators", "20,5 100\n20,6 110\n",
                 "refused: 1: commas between digits, and no other separator between the columns: "
                 "decimal commas "
                 "cannot be told from commas between columns (separate the columns by semicolons "
                 "or tabs, or "
                 "write decimal points)"},
        LineCase{"decimal points and decimal commas in one file", "20.5 100\n20,6;110\n",
                 "refused: 2: a decimal comma here, where line 1 has a decimal point: one file, "
                 "one decimal sign"},
        LineCase{"one point", "1 2\n5 x\n",
                 "refused: 0: only one data point; line 2 is not 2θ and intensity: \"5 x\""},
        LineCase{"no point", "# nothing\n",
                 "refused: 0: no data point (2θ and intensity, two points at least)"},
        LineCase{"binary bytes in no format", std::string("1 2\n\0\0\x01", 7) + "2 3\n",
                 "refused: 0: a binary file in no format known here (plain columns, GSAS, or what "
                 "libxy reads)"}));

INSTANTIATE_TEST_SUITE_P(
    Gsas, Lines,
    testing::Values(
        LineCase{"ESD pairs in 8-character fields, glued",
                 "t\nBANK 1 3 1 CONST 1000 10 0 0 ESD\n   100.0    10.0123456.7  "
                 "1234.5   -12.0     1.0\n",
                 "10:100:10 10.1:123456.7:1234.5 10.2:-12:1"},
        LineCase{"STD: fewer counts than the BANK line says: noted",
                 "t\nBANK 1 12 2 CONST 1000 10 0 0 STD\n      10      20\n",
                 "10:10 10.1:20 | note@2"},
        LineCase{
            "STD: counts in fields narrower than 8 are refused, not read as detectors and counts",
            "t\nBANK 1 4 1 CONST 1000 10 0 0 STD\n  49  39  31  42\n",
            "refused: 3: the count \"49  39\" is no number"},
        LineCase{"STD: a DOS end-of-file mark",
                 "t\nBANK 1 2 1 CONST 1000 10 0 0 STD\n      10      20\r\n\x1a", "10:10 10.1:20"},
        LineCase{"STD: a count that is no number",
                 "t\nBANK 1 2 1 CONST 1000 10 0 0 STD\n      10     2x0\n",
                 "refused: 3: the count \"2x0\" is no number"},
        LineCase{"two banks, two ranges",
                 "t\nBANK 1 2 1 CONST 1000 10 0 0 STD\n       1       2\nBANK 2 2 1 "
                 "CONST 500 10 0 0 STD\n"
                 "       3       4\n",
                 "10:1 10.1:2 /5:3 5.1:4"},
        LineCase{"FXYE with a record of two words",
                 "t\nBANK 1 2 2 CONS 1000 10 0 0 FXYE\n1000 5 1\n1010 6\n",
                 "refused: 4: an FXYE record holds 2θ (centidegrees), value and σ; "
                 "this one holds 2 words"},
        LineCase{"time of flight", "t\nBANK 1 2 1 TIME_MAP 1 0 0 0 STD\n",
                 "refused: 2: the binning \"TIME_MAP\" is not "
                 "read: only constant-wavelength 2θ data "
                 "(CONST or CONS) are"},
        LineCase{"the ALT format", "t\nBANK 1 2 1 RALF 1 0 0 0 ALT\n",
                 "refused: 2: the GSAS ALT format is not read (STD, ESD, FXYE and FXY are)"},
        LineCase{"a step of 0", "t\nBANK 1 2 1 CONST 1000 0 0 0 STD\n",
                 "refused: 2: a BANK line of constant steps gives the start and a step "
                 "above 0 (centidegrees)"}));

TEST(Limits, PointsAndBytes) {
    Options few;
    few.max_points = 3;
    EXPECT_EQ(outcome("1 1\n2 2\n3 3\n4 4\n", few),
              "refused: 4: more than 3 points, the most read");
    Options small;
    small.max_bytes = 8;
    EXPECT_EQ(outcome("1 1\n2 2\n3 3\n", small),
              "refused: 0: the file is larger than 0 MiB, the most read (8 bytes)");
}

// A file refused before it is read: each message names it.
TEST(Files, RefusedAtOnce) {
    const std::string dir = testing::TempDir() + "pattern_files";
    std::filesystem::create_directories(dir);
    const std::string fifo = dir + "/fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir + "/big.xy";
    std::ofstream(big) << "1 1\n2 2\n3 3\n";
    Options small;
    small.max_bytes = 8;
    const struct {
        std::string path;
        Options options;
        std::string message;
    } cases[] = {
        {dir, {}, dir + ": cannot read it: it is a directory, not a regular file"},
        {fifo, {}, fifo + ": cannot read it: it is a FIFO (named pipe), not a regular file"},
        {"/dev/zero", {}, "/dev/zero: cannot read it: it is a device, not a regular file"},
        {dir + "/absent", {}, dir + "/absent: cannot read it: No such file or directory"},
        {big, small, big + ": the file is larger than 0 MiB, the most read (8 bytes)"},
    };
    for (const auto& c : cases) {
        try {
            read(c.path, c.options);
            ADD_FAILURE() << c.path << " read";
        } catch (const ReadError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    ::unlink(fifo.c_str());
}

// libxy's refusal comes with its reason; a broken file is not read as
// plain columns.
TEST(Libxy, BrokenFileRefused) {
    std::ifstream in(data + "/RbNb2O5F.xrdml", std::ios::binary);
    std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = xml.find("<intensities");
    ASSERT_NE(at, std::string::npos);
    xml.erase(at, xml.find('\n', at) - at);
    try {
        parse(xml, "broken.xrdml");
        ADD_FAILURE() << "read";
    } catch (const ReadError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("broken.xrdml: libxy cannot read it as ", 0), 0u)
            << e.what();
    }
}

} // namespace
} // namespace pattern
