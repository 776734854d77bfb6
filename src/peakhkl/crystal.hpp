// The crystal a deck is made from: a direct cell and a space group, each
// checked, and the two checked against each other.
#pragma once

#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>

#include <array>
#include <string>
#include <vector>

namespace peakhkl {

// a, b, c in angstroms, alpha, beta, gamma in degrees, as the user gave them.
using CellValues = std::array<double, 6>;

// A space group's operations, in the setting of the cell, and the name the
// deck's first line may carry ("P 32 2 1", "R -3 c:H"; empty when the
// operations are in a setting without a tabulated name).
struct Symmetry {
    gemmi::GroupOps ops;
    std::string symbol;
};

struct Crystal {
    CellValues cell;
    gemmi::UnitCell unit_cell; // the metric, in double precision
    Symmetry symmetry;
};

// A space group from a Hermann-Mauguin name with or without blanks and with
// an optional setting suffix ("P 21/c", "Fm-3m", "R 3 :R"), from an
// International Tables number ("225"), or from a Hall symbol after "hall:".
// A rhombohedral group named without a suffix takes its setting from the
// cell: rhombohedral axes when a = b = c and alpha = beta = gamma != 90,
// hexagonal axes otherwise. Throws InputError at where.
Symmetry symmetry_from_symbol(const std::string& text, const CellValues& cell,
                              const std::string& where);

// A space group from a Hall symbol ("-P 2ybc").
Symmetry symmetry_from_hall(const std::string& hall, const std::string& where);

// A space group from its full list of operators ("x,y,z", "-x,y+1/2,-z+1/2",
// ...): refused unless the list holds the identity and is closed under
// composition, so that it is a group.
Symmetry symmetry_from_operators(const std::vector<std::string>& triplets,
                                 const std::string& where);

// The crystal, once the cell is a cell peakpos reads as direct (a > 1 A in
// single precision, positive lengths, angles that span a volume) and its
// metric has the symmetry of the group (to a relative 1e-3 of the largest
// squared length). The errors name cell_where.
Crystal make_crystal(const CellValues& cell, Symmetry symmetry, const std::string& cell_where);

} // namespace peakhkl
