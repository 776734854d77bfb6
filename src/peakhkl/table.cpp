#include "peakhkl/table.hpp"

#include "peakhkl/bragg.hpp"

#include <cmath>
#include <cstdio>

namespace peakhkl {

std::string table_text(const std::vector<Reflection>& list, double wave,
                       const Strengths* strengths) {
    std::string text = "h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity\n";
    char row[200];
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Reflection& r = list[i];
        const double tt = two_theta(r.d, wave);
        int n =
            std::snprintf(row, sizeof row, "%d\t%d\t%d\t%.6f\t", r.hkl[0], r.hkl[1], r.hkl[2], r.d);
        n += tt < 0
                 ? std::snprintf(row + n, sizeof row - static_cast<std::size_t>(n), "-1\t")
                 : std::snprintf(row + n, sizeof row - static_cast<std::size_t>(n), "%.4f\t", tt);
        n += std::snprintf(row + n, sizeof row - static_cast<std::size_t>(n), "%d\t%d\t",
                           r.multiplicity, r.extinct ? 1 : 0);
        if (strengths == nullptr)
            std::snprintf(row + n, sizeof row - static_cast<std::size_t>(n), "-\t-\n");
        else if (std::isnan(strengths->intensity[i]))
            std::snprintf(row + n, sizeof row - static_cast<std::size_t>(n), "%.6f\t-\n",
                          strengths->f2[i]);
        else
            std::snprintf(row + n, sizeof row - static_cast<std::size_t>(n), "%.6f\t%.3f\n",
                          strengths->f2[i], strengths->intensity[i]);
        text += row;
    }
    return text;
}

} // namespace peakhkl
