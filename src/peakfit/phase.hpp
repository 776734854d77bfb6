// A phase to fit, made from a crystal: its reflections that the data can
// show, its metric constraint.
#pragma once

#include "peakfit/model.hpp"

#include <optional>
#include <string>
#include <vector>

namespace peakfit {

// The phase of crystal with every allowed reflection one of whose lines
// (Kalpha1, and Kalpha2 where there is one) falls within the data's span
// widened by margin degrees on each side. Not bound by a deck's 5000.
Phase make_phase(const std::string& name, const peakhkl::Crystal& crystal, Mode mode,
                 const Data& data, const Instrument& instrument, double margin = 2);

// A Rietveld phase: make_phase's reflections, each set's m |F|^2 from atoms
// (peakhkl's form factors, with f' and f'' at Kalpha1 and the instrument's
// beam options), the March-Dollase direction po_axis where given, an
// overall B refined when biso, and the cell's contents. Throws
// peakhkl::InputError naming an atom without a form factor or a mass;
// warnings about atoms (ions given the neutral atom's form factor, ...) are
// added to warnings.
Phase make_rietveld_phase(const std::string& name, const peakhkl::Crystal& crystal,
                          const std::vector<peakhkl::AtomSite>& atoms, const Data& data,
                          const Instrument& instrument, const std::optional<Miller>& po_axis,
                          bool biso, std::vector<std::string>& warnings, double margin = 2);

} // namespace peakfit
