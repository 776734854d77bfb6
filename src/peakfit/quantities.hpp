// peakfit's options and outputs for the amounts of phases: --biso, --po,
// --standard and --brindley read and checked against the phases, and each
// Rietveld phase's weight_percent, scale, mu_per_cm, po_ratio and biso for
// PREFIX.json and the summary table.
#pragma once

#include "peakfit/amounts.hpp"
#include "peakfit/model.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace peakfit {

struct QuantityOptions {
    bool biso = false;                                      // --biso
    std::vector<std::pair<std::string, Miller>> po;         // --po NAME h k l
    std::optional<std::pair<std::string, double>> standard; // --standard NAME PERCENT
    std::vector<std::pair<std::string, double>> brindley;   // --brindley [NAME] RADIUS_UM ("" all)
};

// Takes args[i] when it is one of these options, with its values (i left
// on the last one read); false when it is another. Throws
// peakhkl::InputError: values missing or not numbers, --po 0 0 0, a percent
// outside (0, 100), a radius outside (0, 1000] um, --standard or --biso given
// twice.
bool take_quantity_option(const std::vector<std::string>& args, std::size_t& i,
                          QuantityOptions& options);

// The options against the phases (their deck names, and whether each is a
// Rietveld phase): a name that is no phase's, --po or --standard or
// --brindley on a phase without atoms, a phase named twice by --po or
// --brindley, a radius for all given with one for a phase, a standard with
// no other Rietveld phase beside it, are refused (peakhkl::InputError).
struct Quantities {
    std::vector<std::optional<Miller>> po_axis; // per phase
    AmountOptions amounts;
};
Quantities resolve(const QuantityOptions& options, const std::vector<std::string>& names,
                   const std::vector<bool>& rietveld);

// Why a phase cannot be fitted by Rietveld: empty when it can (it has atom
// sites), else the reason, for "--mode rietveld: PHASE: reason".
std::string rietveld_refusal(const std::vector<peakhkl::AtomSite>& atoms, bool from_cif);

// A {value, esd} pair, esd null where there is none (NaN).
nlohmann::json value_esd(double value, double esd);

// Phase number `phase` of the model's quantities for PREFIX.json:
// weight_percent {value, esd} (and absolute_percent beside a standard),
// scale {value, esd}, mu_per_cm, po_ratio and biso {value, esd} where
// refined, brindley_tau where applied, detected. Nothing for a phase that
// is not a Rietveld one.
nlohmann::json phase_quantities(const Model& model, const RefineResult& result,
                                const Amounts& amounts, std::size_t phase);

// The summary table's lines: "NAME  wt% 35.60(12)  mu 126 /cm ..." for
// each Rietveld phase, the amorphous part, and the warnings.
std::vector<std::string> quantity_lines(const Model& model, const Amounts& amounts);

// A value with its esd in the field's notation, "35.60(12)"; the value
// alone to `digits` decimals where there is no esd.
std::string esd_text(double value, double esd, int digits = 2);

} // namespace peakfit
