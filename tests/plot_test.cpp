// The plot script: field text, line wrapping, records and flushes.
#include "common/name.hpp"
#include "peakpos/plot.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

namespace peakpos {
namespace {

struct FieldCase {
    float value;
    const char* field;
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << '"' << c.field << '"';
}

class Fields : public testing::TestWithParam<FieldCase> {};

TEST_P(Fields, FollowTheListOutputForm) {
    EXPECT_EQ(real_field(GetParam().value), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Reals, Fields,
    testing::Values(FieldCase{100.0f, "  100."}, FieldCase{-1.0f, " -1."}, FieldCase{0.0f, "  0."},
                    FieldCase{-0.0f, "  0."}, FieldCase{27.3563347f, "  27.3563347"},
                    FieldCase{0.5f, "  0.5"}, FieldCase{0.361806184f, "  0.361806184"},
                    FieldCase{123456789.0f, "  123456792."}, // nine digits, no exponent
                    FieldCase{1e9f, "  1.E+09"}, FieldCase{1e10f, "  1.E+10"},
                    FieldCase{-5.77350246e9f, " -5.77350246E+09"},
                    FieldCase{1e-4f, "  9.99999975E-05"}, FieldCase{1.5e-4f, "  0.000150000007"},
                    FieldCase{1e-45f, "  1.40129846E-45"}, FieldCase{INFINITY, "  INF"},
                    FieldCase{-INFINITY, " -INF"}, FieldCase{NAN, "  NAN"},
                    FieldCase{-NAN, "  -NAN."}));

// The field is defined by printf's "%.9G" of the value's exact double.
TEST(Fields, MatchPrintfForAnyFloat) {
    std::mt19937 gen(20261210);
    for (int n = 0; n < 200000; ++n) {
        const float v = std::bit_cast<float>(static_cast<std::uint32_t>(gen()));
        if (std::isnan(v)) continue;
        char text[40];
        std::snprintf(text, sizeof text, "%.9G", std::fabs(double{v}));
        std::string expected = std::string(" ") + (v < 0 ? "-" : " ");
        if (v == 0) {
            expected += "0.";
        } else {
            std::string t = text;
            if (t.find('.') == std::string::npos && !std::isinf(v)) {
                const auto e = t.find('E');
                t.insert(e == std::string::npos ? t.size() : e, ".");
            }
            expected += t;
        }
        ASSERT_EQ(real_field(v), expected) << std::hexfloat << v;
    }
}

std::unique_ptr<Run> run_named(const char* name) {
    auto run = std::make_unique<peakpos::Run>();
    run->dnam.fill(' ');
    std::memcpy(run->dnam.data(), name, std::min<std::size_t>(std::strlen(name), namelen));
    return run;
}

TEST(NameWord, IsTheFirstBlankDelimitedWord) {
    EXPECT_EQ(name_word(run_named("  quartz sample")->dnam), "quartz");
    EXPECT_EQ(name_word(run_named("NaCl")->dnam), "NaCl");
    EXPECT_EQ(name_word(run_named("")->dnam), " ");
    EXPECT_EQ(name_word(run_named("abcdefghijklmnopqrstuvwxy")->dnam), "abcdefghijklmnopqrstuvwxy");
    EXPECT_EQ(name_word(run_named("                        z")->dnam), "z");
    EXPECT_EQ(name_word(run_named("a\tb c")->dnam), "a\tb"); // only the space ends it
}

TEST(NameWord, SafetyIsJudgedByteByByte) {
    EXPECT_EQ(unsafe_name_byte("Fe\xC3\xA9-1:a,b/c*#"), -1);
    EXPECT_EQ(unsafe_name_byte("ab$c"), '$');
    EXPECT_EQ(unsafe_name_byte("#ab"), '#');
    EXPECT_EQ(unsafe_name_byte("a\x7F"), 0x7F);
}

std::string script(const Run& run, std::size_t* flushes = nullptr) {
    StringSink out;
    write_plot(run, out);
    if (flushes) *flushes = out.flushes;
    return out.text;
}

TEST(Script, EmptyReflectionList) {
    const auto run = run_named("  quartz sample");
    std::size_t flushes = 0;
    EXPECT_EQ(script(*run, &flushes), " set quartz(x) {\n\n }\n set quartz(dspaces) {\n\n }\n"
                                      " quartz_x set {\n }\n quartz_y set {\n }\n"
                                      " xextinct set {\n }\n yextinct set {\n }\n");
    EXPECT_EQ(flushes, 14u); // one per record
}

TEST(Script, BlankNameAndSticks) {
    auto run = run_named("");
    run->npeak = 5;
    run->ymin = 0, run->ymax = 100, run->zero = 0.5f;
    const float tt[] = {10.0f, -1.0f, 0.0f, NAN, 20.0f};
    const int extinct[] = {0, 0, 0, 0, -7};
    for (int i = 1; i <= 5; ++i) {
        run->tt(i) = tt[i - 1];
        run->ds(i) = static_cast<float>(i);
        run->extinct(i) = extinct[i - 1];
    }
    std::size_t flushes = 0;
    EXPECT_EQ(script(*run, &flushes),
              " set  (x) {\n  10. -1.  0.  NAN  20.\n }\n"
              " set  (dspaces) {\n  1.  2.  3.  4.  5.\n }\n"
              "  _x set {\n  10.5  10.5  10.5\n }\n  _y set {\n  0.  100.  0.\n }\n"
              " xextinct set {\n  20.5  20.5  20.5\n }\n yextinct set {\n  0.  100.  0.\n }\n");
    EXPECT_EQ(flushes, 18u);
}

TEST(Script, LinesStopShortOf80Columns) {
    auto run = run_named("w");
    run->npeak = 9;
    for (int i = 1; i <= 8; ++i) run->tt(i) = 15.6936054f;
    run->tt(9) = 0.361806184f; // thirteen characters
    const std::string s = script(*run);
    const std::string six =
        "  15.6936054  15.6936054  15.6936054  15.6936054  15.6936054  15.6936054";
    EXPECT_EQ(s.substr(0, s.find(" }")),
              " set w(x) {\n" + six + "\n  15.6936054  15.6936054  0.361806184\n");
    // Four-character fields fill a line up to column 79.
    run->npeak = 21;
    for (int i = 1; i <= 21; ++i) run->tt(i) = -1.0f;
    const std::string m = script(*run);
    const std::string line = m.substr(12, m.find('\n', 12) - 12);
    EXPECT_EQ(line.size(), 76u);
    EXPECT_EQ(m.substr(12 + 77, 12), " -1. -1.\n }\n");
}

} // namespace
} // namespace peakpos
