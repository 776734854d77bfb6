#include "peakfit/phase.hpp"

#include "peakhkl/bragg.hpp"
#include "peakhkl/error.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace peakfit {

Phase make_phase(const std::string& name, const peakhkl::Crystal& crystal, Mode mode,
                 const Data& data, const Instrument& instrument, double margin) {
    Phase ph;
    ph.name = name;
    ph.mode = mode;
    ph.crystal = crystal;
    ph.constraint = constraint_of(crystal.symmetry.ops);
    const double longest = std::max(instrument.alpha1, instrument.alpha2);
    const double shortest =
        instrument.alpha2 > 0 ? std::min(instrument.alpha1, instrument.alpha2) : instrument.alpha1;
    const double top = std::min(data.x_hi + margin, 179.99);
    const double d_min = longest / (2 * std::sin(top * std::numbers::pi / 360));
    const auto list = peakhkl::reflection_list(crystal, d_min, true, 10'000'000);
    for (const peakhkl::Reflection& r : *list) {
        // The line of the shortest wavelength lies lowest.
        const double low = peakhkl::two_theta(r.d, shortest);
        if (low >= 0 && low < data.x_lo - margin &&
            peakhkl::two_theta(r.d, longest) < data.x_lo - margin)
            continue;
        ph.reflections.push_back(r);
    }
    ph.intensity.assign(ph.reflections.size(), 1);
    return ph;
}

Phase make_rietveld_phase(const std::string& name, const peakhkl::Crystal& crystal,
                          const std::vector<peakhkl::AtomSite>& atoms, const Data& data,
                          const Instrument& instrument, const std::optional<Miller>& po_axis,
                          bool biso, std::vector<std::string>& warnings, double margin) {
    Phase ph = make_phase(name, crystal, Mode::rietveld, data, instrument, margin);
    peakhkl::Beam beam = instrument.beam;
    beam.wave = instrument.alpha1;
    peakhkl::Scatterers s = peakhkl::scatterers(atoms, beam);
    warnings.insert(warnings.end(), s.warnings.begin(), s.warnings.end());
    // The intensities of a Rietveld phase come from every one of its atoms:
    // one that cannot be read refuses the phase.
    if (!s.faults.empty()) {
        const peakhkl::AtomFault& f = s.faults.front();
        throw peakhkl::InputError(f.place.text(), f.expected + " (every atom of a Rietveld phase)",
                                  f.found);
    }
    ph.contents = cell_contents(crystal, atoms);
    ph.structure = std::make_shared<const StructureIntensities>(
        crystal, s.sites, ph.reflections, beam, po_axis, metric_of_cell(crystal.cell));
    ph.refine_biso = biso;
    return ph;
}

} // namespace peakfit
