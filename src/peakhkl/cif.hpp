// A crystal from one data block of a CIF: its cell and its space group.
#pragma once

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
};

// Every tag of every block in its underscore form: the dotted tags of CIF
// 2.0 (DDLm) files, _cell.length_a, _atom_site.fract_x, are read as
// _cell_length_a, _atom_site_fract_x, and looked up by those names only.
void underscore_tags(gemmi::cif::Document& doc);

// The data block of the file at path named block, or its only block when
// block is empty, with its tags in their underscore forms. Read past, with
// a warning added to warnings: a UTF-8 byte-order mark, text before the
// first data_ line, a tag given twice or without a value that peakhkl does
// not read. CIF 2.0 lists, tables and triple-quoted strings are read (a
// list or a table as a value peakhkl cannot take). Throws InputError for
// what cannot be read: a directory, a NUL byte, a syntax error, a tag
// peakhkl reads given twice with two values.
gemmi::cif::Block read_cif_block(const std::string& path, const std::string& block,
                                 std::vector<std::string>& warnings);

// The crystal in the file at path. block names the data block to take; it
// may be empty when the file holds only one. The cell comes from the
// _cell_length_* and _cell_angle_* values (a standard uncertainty such as
// 5.4310(2) is read as 5.4310); the space group, in this order of trust,
// from the listed symmetry operators, the Hall symbol, the Hermann-Mauguin
// name, the number: a source that is present but cannot be read gives way to
// the next with a warning, and a less trusted source that names another
// group is warned about. Throws InputError naming the file, line and tag.
CifCrystal read_cif(const std::string& path, const std::string& block);

} // namespace peakhkl
