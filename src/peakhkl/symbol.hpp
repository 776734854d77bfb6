// The space group a Hermann-Mauguin symbol names, in the spellings found in
// CIF files and papers, and the tabulated names close to one that names none.
#pragma once

#include <gemmi/symmetry.hpp>

#include <string>
#include <vector>

namespace peakhkl {

// The tabulated setting the symbol names, or null. Besides gemmi's own
// spellings: blanks anywhere or nowhere ("Fm-3m", "P 21 /m"), subscripts
// written "2_1", "2_{1}" or "2(1)", a Unicode minus or overbar for the bar,
// the pre-1983 cubic symbols without the bar ("Fm3m", "Ia3d"), a setting
// letter after the symbol without a colon ("R-3mH", "R -3 m R"; "Fd-3mS" and
// "Fd-3mZ" for origin choices 1 and 2, "(origin choice 2)" spelt out), the
// full symbol ("P 21/n 21/m 21/a", "F 4/m -3 2/m": the lattice and three
// directions, a rotation or screw over a mirror or glide shortened), digits
// printed as subscripts or full width ("P 2\u2081/c"), any case. A symbol
// with a character left unread by these rules names none.
const gemmi::SpaceGroup* find_by_symbol(const std::string& symbol);

// Up to three tabulated names nearest to the symbol in spelling (by edit
// distance, blanks and case aside), nearest first; none when nothing is near.
std::vector<std::string> close_names(const std::string& symbol);

} // namespace peakhkl
