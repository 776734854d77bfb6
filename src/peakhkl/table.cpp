#include "peakhkl/table.hpp"

#include <cmath>
#include <cstdio>

namespace peakhkl {

double two_theta(double d, double wave) {
    const double s = wave / (2 * d);
    if (!(s <= 1)) return -1;
    return 2 * std::asin(s) * 180 / 3.14159265358979323846;
}

std::string table_text(const std::vector<Reflection>& list, double wave) {
    std::string text = "h\tk\tl\td\t2theta\tmultiplicity\textinct\n";
    char row[160];
    for (const Reflection& r : list) {
        const double tt = two_theta(r.d, wave);
        if (tt < 0)
            std::snprintf(row, sizeof row, "%d\t%d\t%d\t%.6f\t-1\t%d\t%d\n", r.hkl[0], r.hkl[1],
                          r.hkl[2], r.d, r.multiplicity, r.extinct ? 1 : 0);
        else
            std::snprintf(row, sizeof row, "%d\t%d\t%d\t%.6f\t%.4f\t%d\t%d\n", r.hkl[0], r.hkl[1],
                          r.hkl[2], r.d, tt, r.multiplicity, r.extinct ? 1 : 0);
        text += row;
    }
    return text;
}

} // namespace peakhkl
