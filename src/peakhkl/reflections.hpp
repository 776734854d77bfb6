// The reflection list of a powder pattern: one reflection per set of
// reflections equivalent under the crystal's Laue group, down to a d limit.
#pragma once

#include "peakhkl/crystal.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace peakhkl {

using Miller = std::array<int, 3>;

struct Reflection {
    Miller hkl;       // the representative of its set
    double d;         // d-spacing, angstroms: 1/d^2 = hkl G* hkl^T
    int multiplicity; // members of the set, Friedel mates counted
    bool extinct;     // systematically absent in the space group
};

// The representative of a set is the member a user writes: the fewest
// negative indices, then the largest h, then k, then l. True when a is
// preferred to b.
bool preferred(const Miller& a, const Miller& b);

// Every set with d >= d_min except that of (0,0,0), without the
// systematically absent ones when allowed_only, ordered by decreasing d,
// ties by the representatives' h, then k, then l, largest first. Nothing
// when there are more than max_count: the enumeration stops there.
std::optional<std::vector<Reflection>> reflection_list(const Crystal& crystal, double d_min,
                                                       bool allowed_only, std::size_t max_count);

// Where a list of more than max_count sets must stop: d_out is the d of the
// first set beyond max_count, d_in the smallest d above d_out (every limit
// in (d_out, d_in] keeps the list within max_count). d_min is a limit known
// to give more than max_count. No d_in when even the first d is shared by
// more than max_count sets.
struct Cut {
    double d_out;
    std::optional<double> d_in;
};
Cut cut_at(const Crystal& crystal, double d_min, bool allowed_only, std::size_t max_count);

} // namespace peakhkl
