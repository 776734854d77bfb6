// A crystal from one data block of a CIF: its cell and its space group.
#pragma once

#include "peakhkl/atoms.hpp"
#include "peakhkl/crystal.hpp"

#include <string>

namespace peakhkl {

struct CifCrystal {
    Crystal crystal;
    std::string block; // the name of the data block it came from
    AtomSites atoms;   // its atom sites (none without an _atom_site_ loop)
};

// The crystal in the file at path. block names the data block to take; it
// may be empty when the file holds only one. The cell comes from the
// _cell_length_* and _cell_angle_* values (a standard uncertainty such as
// 5.4310(2) is read as 5.4310); the space group, in this order of trust,
// from the listed symmetry operators, the Hall symbol, the Hermann-Mauguin
// name, the number; the atom sites as read_atoms reads them. Throws InputError naming the file,
// line and tag.
CifCrystal read_cif(const std::string& path, const std::string& block);

} // namespace peakhkl
