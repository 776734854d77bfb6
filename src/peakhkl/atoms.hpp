// The atom sites of a CIF data block: where each atom is, what it is, how
// much of it there is and how it vibrates.
#pragma once

#include "peakhkl/crystal.hpp"

#include <gemmi/small.hpp>

#include <optional>
#include <string>
#include <vector>

// gemmi's CIF block, declared only: its header is compiled apart where the
// compiler needs it (see CMakeLists.txt).
namespace gemmi::cif {
struct Block;
}

namespace peakhkl {

// Where in a CIF a value of an atom stands: "file.cif:12" and
// "_atom_site_occupancy of Fe1".
struct Place {
    std::string line;
    std::string item;
    std::string text() const { return line + ": " + item; } // for an InputError
    // "file.cif:12: warning: _atom_site_occupancy of Fe1: what"
    std::string warning(const std::string& what) const {
        return line + ": warning: " + item + ": " + what;
    }
    std::string note(const std::string& what) const {
        return line + ": note: " + item + ": " + what;
    }
};

// Why an atom cannot be read: where, what was expected there, what was found.
struct AtomFault {
    Place place;
    std::string expected;
    std::string found;
};

struct AtomSite {
    // label, type_symbol, fract, occ (chemical: as the CIF gives it, 1 for an
    // atom wholly at its position whatever the position's symmetry), u_iso
    // in A^2, aniso (U_ij in A^2 on the reciprocal axes, the CIF's U), element
    // (El::X for a dummy or an unknown atom) and charge.
    gemmi::SmallStructure::Site site;
    Place where;                    // of its _atom_site_label, for messages
    std::optional<AtomFault> fault; // set when a value of the atom cannot be read
};

struct AtomSites {
    std::vector<AtomSite> sites;       // empty for a block without atom sites
    std::vector<std::string> warnings; // "FILE:LINE: warning: ...", each read past
};

// The atom sites of block, read from path:
//   _atom_site_label, _atom_site_fract_x/y/z (required with a label);
//   _atom_site_type_symbol, else the element from the label ("Fe1" -> Fe,
//   "O2a" -> O); a charge in the type symbol ("O2-", "Fe3+", "Fe+3");
//   _atom_site_occupancy (default 1);
//   _atom_site_U_iso_or_equiv, else _atom_site_B_iso_or_equiv / (8 pi^2)
//   (default 0, with a warning);
//   _atom_site_aniso_U_11 ... U_23, else _atom_site_aniso_B_11 ... B_23 /
//   (8 pi^2), matched by _atom_site_aniso_label; a row of ? or . only
//   leaves the isotropic value; an element . (ICSD's "not applicable") is
//   read as 0, with a warning, where the site's symmetry in crystal makes
//   the U with it 0 invariant, and is a fault otherwise;
//   an atom with _atom_site_calc_flag dum is a dummy (El::X).
// A standard uncertainty, 0.25(2), is read as in the cell. Read with a
// warning: a coordinate written as a fraction (1/4), a number with a trailing
// * (0.08*), a U_iso below 0 within three uncertainties or, without one,
// above -0.01 A^2 (B_iso / (8 pi^2) likewise; taken as 0), an occupancy
// outside [0, 1] within three uncertainties of at most 0.1 or, without one,
// within 0.01 (clamped), a label given twice. An atom whose value cannot be
// read is kept with its fault (the tag, the atom's label and the line):
// a coordinate that is not a number (?, .), an occupancy or U_iso beyond
// those limits, an anisotropic U partly given or not positive definite.
AtomSites read_atoms(gemmi::cif::Block& block, const std::string& path, const Crystal& crystal);

} // namespace peakhkl
