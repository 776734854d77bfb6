// What a fit writes: the JSON record, the observed and calculated pattern,
// each phase's refined deck, CIF and reflection table, and the summary
// table for a person.
#pragma once

#include "peakfit/amounts.hpp"
#include "peakfit/model.hpp"
#include "peakfit/refine.hpp"

#include <map>
#include <string>
#include <vector>

namespace peakfit {

// Where each phase came from, for its outputs.
struct PhaseSource {
    std::string cif_path, block; // the CIF it was read from (empty for --cell)
};

struct Run {
    std::string data_path; // absolute
    std::string version;
    bool zero = false, displacement = false;
    const Model* model = nullptr;
    const RefineResult* result = nullptr;
    std::vector<PhaseSource> sources;
    const Amounts* amounts = nullptr; // the Rietveld phases' weight fractions, where there are any
};

// A value with its standard uncertainty in the field's notation,
// 4.156780(12): the uncertainty to two significant digits in the units of
// the value's last digit (one where it would read 20 or more); the value
// alone, to `plain` decimals, where there is none.
std::string with_esd(double value, double esd, int plain = 6);

// The cell (a b c alpha beta gamma volume) and its esds of phase f (esd 0
// where the cell was held).
CellWithEsd phase_cell(const Run& run, std::size_t f);

// The texts, keyed by the file name's suffix after PREFIX: ".json",
// ".xye", "-NAME.deck", "-NAME.cif", "-NAME.tsv".
std::map<std::string, std::string> outputs(const Run& run);

// The summary table for standard output.
std::string summary(const Run& run);

} // namespace peakfit
