#include "peakhkl/wavelengths.hpp"

#include "peakhkl/error.hpp"

#include <array>
#include <cctype>
#include <cmath>
#include <vector>

namespace peakhkl {

namespace {

struct Line {
    std::string name;
    double angstrom;
};

struct Anode {
    const char* element;
    double ka1, ka2, kb;
};

// International Tables for Crystallography Vol. C (2004), Table 4.2.2.1:
// the K-alpha1, K-alpha2 and K-beta (K-beta1,3) wavelengths of the common
// anode materials, in angstroms.
constexpr std::array<Anode, 6> anodes{{
    {"Cu", 1.5405929, 1.5444274, 1.3922340},
    {"Mo", 0.70931715, 0.713607, 0.632303},
    {"Co", 1.7889960, 1.7928350, 1.6208260},
    {"Cr", 2.2897260, 2.2936510, 2.0848810},
    {"Fe", 1.9360410, 1.9399730, 1.7566040},
    {"Ag", 0.55942178, 0.5638131, 0.4970817},
}};

// The table's 18 lines, then the six K-alpha means: K-alpha1 and K-alpha2
// weighted 2 : 1 as their intensities are, (2 Ka1 + Ka2) / 3, rounded to
// the 1e-7 A of the table.
const std::vector<Line>& lines() {
    static const std::vector<Line> all = [] {
        std::vector<Line> list;
        for (const Anode& a : anodes) {
            const std::string e = a.element;
            list.push_back({e + "Ka1", a.ka1});
            list.push_back({e + "Ka2", a.ka2});
            list.push_back({e + "Kb", a.kb});
        }
        for (const Anode& a : anodes)
            list.push_back(
                {std::string(a.element) + "Ka", std::round((2 * a.ka1 + a.ka2) / 3 * 1e7) / 1e7});
        return list;
    }();
    return all;
}

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

std::optional<double> named_line(std::string_view name) {
    for (const Line& line : lines())
        if (same_letters(line.name, name)) return line.angstrom;
    return std::nullopt;
}

std::string line_names() {
    std::string text;
    for (const Line& line : lines()) {
        if (!text.empty()) text += ' ';
        text += line.name;
    }
    return text;
}

std::string waves_text() {
    std::string text;
    for (const Line& line : lines()) text += line.name + '\t' + number_text(line.angstrom) + '\n';
    return text;
}

} // namespace peakhkl
