// A phase to fit, made from a crystal: its reflections that the data can
// show, its metric constraint.
#pragma once

#include "peakfit/model.hpp"

#include <string>

namespace peakfit {

// The phase of crystal with every allowed reflection one of whose lines
// (Kalpha1, and Kalpha2 where there is one) falls within the data's span
// widened by margin degrees on each side. Not bound by a deck's 5000.
Phase make_phase(const std::string& name, const peakhkl::Crystal& crystal, Mode mode,
                 const Data& data, const Instrument& instrument, double margin = 2);

} // namespace peakfit
