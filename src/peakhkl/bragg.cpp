#include "peakhkl/bragg.hpp"

#include <cmath>

namespace peakhkl {

namespace {
constexpr double degree = 3.14159265358979323846 / 180;
}

double two_theta(double d, double wave) {
    const double s = wave / (2 * d);
    if (!(s <= 1)) return -1;
    return 2 * std::asin(s) / degree;
}

double d_of_two_theta(double tt, double wave) {
    return wave / (2 * std::sin(tt / 2 * degree));
}

} // namespace peakhkl
