// A crystal from one data block of a CIF: its cell and its space group.
#pragma once

#include "peakhkl/atoms.hpp"
#include "peakhkl/cif_file.hpp"
#include "peakhkl/crystal.hpp"

#include <gemmi/cifdoc.hpp>

#include <string>
#include <vector>

namespace peakhkl {

struct CifCrystal {
    Crystal crystal;
    std::string block; // the name of the data block it came from
    // The name a user knows the phase by: the block's, or where the block is
    // named global, I, a number or a database code, the mineral's, the
    // common or the formula's (without blanks). name_from says which tag
    // gave it, empty for the block name.
    std::string name;
    std::string name_from;
    std::vector<std::string> warnings; // "FILE:LINE: warning: ...", each read past
    AtomSites atoms;                   // its atom sites (none without an _atom_site_ loop)
};

// The data block of the file at path named block, or its only block when
// block is empty, read as read_block (cif_file.hpp) reads it: a tag of the
// cell, the space group, the phase's name or the atoms given twice with two
// values is refused, any other flaw of that kind is a warning.
gemmi::cif::Block read_cif_block(const std::string& path, const std::string& block,
                                 std::vector<std::string>& warnings);

// The crystal in the file at path. block names the data block to take; it
// may be empty when the file holds only one. The cell comes from the
// _cell_length_* and _cell_angle_* values (a standard uncertainty such as
// 5.4310(2) is read as 5.4310); the space group, in this order of trust,
// from the listed symmetry operators, the Hall symbol, the Hermann-Mauguin
// name, the number: a source that is present but cannot be read gives way to
// the next with a warning, and a less trusted source that names another
// group is warned about; the atom sites as read_atoms reads them. Throws InputError naming the
// file, line and tag.
CifCrystal read_cif(const std::string& path, const std::string& block);

} // namespace peakhkl
