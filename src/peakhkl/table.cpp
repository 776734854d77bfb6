#include "peakhkl/table.hpp"

#include "peakhkl/bragg.hpp"

#include <cmath>
#include <cstdio>

namespace peakhkl {

namespace {

// x printed with format, whatever its length.
std::string printed(const char* format, double x) {
    const int n = std::snprintf(nullptr, 0, format, x);
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, x);
    text.pop_back();
    return text;
}

} // namespace

std::string table_text(const std::vector<Reflection>& list, double wave,
                       const Strengths* strengths) {
    std::string text = "h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity\n";
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Reflection& r = list[i];
        const double tt = two_theta(r.d, wave);
        text += std::to_string(r.hkl[0]) + "\t" + std::to_string(r.hkl[1]) + "\t" +
                std::to_string(r.hkl[2]) + "\t" + printed("%.6f", r.d) + "\t" +
                (tt < 0 ? std::string("-1") : printed("%.4f", tt)) + "\t" +
                std::to_string(r.multiplicity) + "\t" + (r.extinct ? "1" : "0") + "\t";
        if (strengths == nullptr)
            text += "-\t-\n";
        else if (std::isnan(strengths->intensity[i]))
            text += printed("%.6f", strengths->f2[i]) + "\t-\n";
        else
            text += printed("%.6f", strengths->f2[i]) + "\t" +
                    printed("%.3f", strengths->intensity[i]) + "\n";
    }
    return text;
}

} // namespace peakhkl
