// The run record: everything one run reads, computes and writes.
#pragma once

#include "common/name.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace peakpos {

// A fixed-size array indexed from 1, so that the code reads like the
// crystallographic formulas: prcp(4) is the h*k coefficient.
template <typename T, std::size_t N> struct Array1 {
    std::array<T, N> v{};
    T& operator()(std::size_t i) { return v[i - 1]; }
    const T& operator()(std::size_t i) const { return v[i - 1]; }
};

inline constexpr int maxpeak = 5000; // capacity of the reflection table

// Every field starts at zero; a deck value that is not given stays zero.
struct Run {
    std::array<char, namelen> dnam{};     // name line as read, blank-padded
    float a = 0, b = 0, c = 0;            // cell lengths (direct when a > 1)
    float alpha = 0, beta = 0, gamma = 0; // cell angles, degrees
    float wave = 0;                       // wavelength, in the cell's length unit
    float ymin = 0, ymax = 0;             // y range of every stick mark
    float zero = 0;                       // zero shift, degrees, sticks only
    std::int32_t npeak = 0;               // number of reflections
    Array1<std::int32_t, maxpeak> h, k, l;
    Array1<std::int32_t, maxpeak> extinct; // 0 = allowed, else extinct
    Array1<float, maxpeak> ds;             // d-spacing
    Array1<float, maxpeak> tt;             // 2-theta in degrees, -1 if unreachable
    float rcv = 0;                         // direct-cell volume
    Array1<float, 6> rcp;                  // a*, b*, c*, cos alpha*, cos beta*, cos gamma*
    float vol = 0;                         // reciprocal-cell volume
    Array1<float, 6> prcp;                 // quarter-metric coefficients
    bool flag4 = false, flag5 = false, flag6 = false; // cross terms switched on
};

} // namespace peakpos
