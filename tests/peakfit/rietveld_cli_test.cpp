// peakfit --mode rietveld on the command line: the refusals, one rule per
// row, and the weight fractions in PREFIX.json and the summary.
#include "peakfit/cli.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace peakfit {
namespace {

const std::string dir = QPA_DATA_DIR;

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

const std::vector<std::string> base{"--data",
                                    dir + "/cpd-1h.xy",
                                    "--wave",
                                    "CuKa",
                                    "--range",
                                    "25",
                                    "70",
                                    "--radius",
                                    "173",
                                    dir + "/corundum.cif",
                                    dir + "/zincite.cif"};

TEST(RietveldCli, Refusals) {
    struct Case {
        std::vector<std::string> more;
        const char* message; // a part of the one line on standard error
    };
    const Case cases[] = {
        {{"--mode", "rietveld", "--cell", "5.46", "5.46", "5.46", "90", "90", "90", "--sg", "Fm-3m",
          "--name", "fl"},
         "phase fl cannot be fitted by --mode rietveld: a deck or a --cell group has no atoms"},
        {{"--mode", "quantitative"}, "expected lebail, pawley or rietveld"},
        {{"--standard", "corundum", "10", "--standard", "zincite", "5"}, "a second --standard"},
        {{"--po", "brucite", "0", "0", "1"}, "the name of a phase (corundum zincite)"},
        {{"--po", "corundum", "0", "0", "0"}, "0 0 0"},
        {{"--brindley", "corundum", "-1"}, "a particle radius in micrometres"},
        {{"--cell", "5.46", "5.46", "5.46", "90", "90", "90", "--sg", "Fm-3m", "--name", "fl",
          "--po", "fl", "1", "1", "1"},
         "--po fl: expected a phase with atom sites"},
    };
    for (const Case& c : cases) {
        const Outcome o = run(with(base, c.more));
        EXPECT_EQ(o.status, 2) << c.message;
        EXPECT_EQ(o.out, "");
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    }
}

// Without --mode, phases with atom sites are fitted by Rietveld: the JSON
// gives each its weight percent and mu, the summary its line.
TEST(RietveldCli, WeightFractionsInTheOutputs) {
    const std::string prefix = std::filesystem::temp_directory_path().string() + "/rietveld_cli_" +
                               std::to_string(::getpid());
    const Outcome o = run(with(base, {"--displacement", "--out", prefix, dir + "/fluorite.cif"}));
    ASSERT_LE(o.status, 1) << o.err;
    std::ifstream in(prefix + ".json");
    const nlohmann::json j = nlohmann::json::parse(in);
    EXPECT_EQ(j["mode"], "rietveld");
    double sum = 0;
    for (const auto& p : j["phases"]) {
        EXPECT_EQ(p["mode"], "rietveld");
        sum += p["weight_percent"]["value"].get<double>();
        EXPECT_GT(p["weight_percent"]["esd"].get<double>(), 0);
        EXPECT_GT(p["mu_per_cm"].get<double>(), 100);
        EXPECT_GT(p["scale"]["value"].get<double>(), 0);
    }
    EXPECT_NEAR(sum, 100, 1e-9);
    EXPECT_NE(o.out.find("weight corundum: "), std::string::npos) << o.out;
    // The phases absorb differently: the user is told what 5 um particles would do.
    EXPECT_NE(o.err.find("--brindley"), std::string::npos) << o.err;
    for (const char* s :
         {".json", ".xye", "-corundum.deck", "-corundum.cif", "-corundum.tsv", "-zincite.deck",
          "-zincite.cif", "-zincite.tsv", "-fluorite.deck", "-fluorite.cif", "-fluorite.tsv"})
        std::remove((prefix + s).c_str());
}

} // namespace
} // namespace peakfit
