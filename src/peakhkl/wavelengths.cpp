#include "peakhkl/wavelengths.hpp"

#include <array>

namespace peakhkl {

namespace {

struct Line {
    std::string_view name;
    double angstrom;
};

// International Tables for Crystallography Vol. C (2004), Table 4.2.2.1:
// the K-alpha1, K-alpha2 and K-beta (K-beta1,3) wavelengths of the common
// anode materials, in angstroms.
constexpr std::array<Line, 18> lines{{
    {"CuKa1", 1.5405929},
    {"CuKa2", 1.5444274},
    {"CuKb", 1.3922340},
    {"MoKa1", 0.70931715},
    {"MoKa2", 0.713607},
    {"MoKb", 0.632303},
    {"CoKa1", 1.7889960},
    {"CoKa2", 1.7928350},
    {"CoKb", 1.6208260},
    {"CrKa1", 2.2897260},
    {"CrKa2", 2.2936510},
    {"CrKb", 2.0848810},
    {"FeKa1", 1.9360410},
    {"FeKa2", 1.9399730},
    {"FeKb", 1.7566040},
    {"AgKa1", 0.55942178},
    {"AgKa2", 0.5638131},
    {"AgKb", 0.4970817},
}};

} // namespace

std::optional<double> named_line(std::string_view name) {
    for (const Line& line : lines)
        if (line.name == name) return line.angstrom;
    return std::nullopt;
}

std::string line_names() {
    std::string text;
    for (const Line& line : lines) {
        if (!text.empty()) text += ' ';
        text += line.name;
    }
    return text;
}

} // namespace peakhkl
