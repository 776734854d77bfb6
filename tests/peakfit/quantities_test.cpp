// The amounts' options read and checked against the phases, one rule per
// row; the esd notation.
#include "peakfit/quantities.hpp"

#include "peakhkl/error.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace peakfit {
namespace {

const std::vector<std::string> names{"corundum", "zincite", "quartz_lebail"};
const std::vector<bool> rietveld{true, true, false};

// The options of args, resolved: "" when accepted, else the refusal's where.
std::string refusal(const std::vector<std::string>& args, Quantities* out = nullptr) {
    try {
        QuantityOptions o;
        for (std::size_t i = 0; i < args.size(); ++i)
            if (!take_quantity_option(args, i, o)) return "not taken: " + args[i];
        const Quantities q = resolve(o, names, rietveld);
        if (out != nullptr) *out = q;
        return "";
    } catch (const peakhkl::InputError& e) {
        return e.where + ": " + e.found;
    }
}

TEST(QuantityOptions, Refusals) {
    struct Case {
        std::vector<std::string> args;
        const char* refusal; // "" accepted
    };
    const Case cases[] = {
        {{"--po", "corundum", "0", "0", "1", "--biso", "--standard", "zincite", "20"}, ""},
        {{"--brindley", "2.5"}, ""},
        {{"--brindley", "corundum", "1", "--brindley", "zincite", "3"}, ""},
        {{"--po", "corundum", "0", "0", "0"}, "--po: 0 0 0"},
        {{"--po", "corundum", "0", "x", "1"}, "--po: \"x\""},
        {{"--po", "corundum", "0", "0"}, "--po: the end of the arguments"},
        {{"--po", "brucite", "0", "0", "1"}, "--po: \"brucite\""},
        {{"--po", "quartz_lebail", "0", "0", "1"}, "--po quartz_lebail: a phase without atoms"},
        {{"--po", "corundum", "0", "0", "1", "--po", "corundum", "1", "0", "0"},
         "--po corundum: two"},
        {{"--standard", "zincite", "20", "--standard", "corundum", "10"},
         "--standard: a second --standard"},
        {{"--standard", "zincite", "100"}, "--standard: \"100\""},
        {{"--standard", "zincite", "-5"}, "--standard: \"-5\""},
        {{"--standard", "quartz_lebail", "10"}, "--standard quartz_lebail: a phase without atoms"},
        {{"--brindley", "0"}, "--brindley: \"0\""},
        {{"--brindley", "corundum", "5000"}, "--brindley: \"5000\""},
        {{"--brindley", "2", "--brindley", "corundum", "1"},
         "--brindley: both, or a radius for all twice"},
        {{"--brindley", "zincite", "1", "--brindley", "zincite", "2"}, "--brindley zincite: two"},
        {{"--biso", "--biso"}, "--biso: it twice"},
    };
    for (const Case& c : cases) {
        std::ostringstream args;
        for (const std::string& a : c.args) args << a << ' ';
        EXPECT_EQ(refusal(c.args), c.refusal) << args.str();
    }
}

TEST(QuantityOptions, ResolvedValues) {
    Quantities q;
    ASSERT_EQ(refusal({"--po", "zincite", "1", "0", "1", "--standard", "corundum", "12.5",
                       "--brindley", "2.5"},
                      &q),
              "");
    EXPECT_FALSE(q.po_axis[0]);
    ASSERT_TRUE(q.po_axis[1]);
    EXPECT_EQ(*q.po_axis[1], (Miller{1, 0, 1}));
    ASSERT_TRUE(q.amounts.standard);
    EXPECT_EQ(q.amounts.standard->phase, 0u);
    EXPECT_DOUBLE_EQ(q.amounts.standard->fraction, 0.125);
    // 2.5 um for each Rietveld phase, in cm; none for the Le Bail one.
    EXPECT_EQ(q.amounts.brindley_radius, (std::vector<double>{2.5e-4, 2.5e-4, 0}));
    EXPECT_EQ(rietveld_refusal({}, true), "its CIF block has no atom sites (_atom_site_ loop)");
    EXPECT_NE(rietveld_refusal({}, false), "");
}

TEST(QuantityOptions, EsdNotation) {
    EXPECT_EQ(esd_text(35.6012, 0.1234), "35.60(12)");
    EXPECT_EQ(esd_text(35.6012, 0.25), "35.6(3)");
    EXPECT_EQ(esd_text(4.15678012, 0.0000123), "4.156780(12)");
    EXPECT_EQ(esd_text(1234.5, 23), "1234(23)");
    EXPECT_EQ(esd_text(0.5, NAN), "0.50");
}

} // namespace
} // namespace peakfit
