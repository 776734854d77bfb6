#include "peakfit/quantities.hpp"

#include "peakhkl/error.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace peakfit {

namespace {

using peakhkl::InputError;

double real(const std::string& text, const std::string& option, const char* expected) {
    double x = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, x);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(x))
        throw InputError(option, expected, peakhkl::quoted(text));
    return x;
}

int integer(const std::string& text, const std::string& option) {
    int x = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, x);
    if (result.ec != std::errc() || result.ptr != end || x < -99 || x > 99)
        throw InputError(option, "a Miller index (a whole number)", peakhkl::quoted(text));
    return x;
}

bool numeric(const std::string& text) {
    double x = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, x);
    return result.ec == std::errc() && result.ptr == end;
}

std::size_t phase_of(const std::string& name, const std::vector<std::string>& names,
                     const std::string& option) {
    for (std::size_t f = 0; f < names.size(); ++f)
        if (names[f] == name) return f;
    std::string known;
    for (const std::string& n : names) known += (known.empty() ? "" : " ") + n;
    throw InputError(option, "the name of a phase (" + known + ")", peakhkl::quoted(name));
}

} // namespace

bool take_quantity_option(const std::vector<std::string>& args, std::size_t& i,
                          QuantityOptions& o) {
    const std::string& arg = args[i];
    const auto needs = [&](std::size_t n) {
        if (args.size() - i - 1 < n)
            throw InputError(arg, std::to_string(n) + (n == 1 ? " value" : " values"),
                             "the end of the arguments");
    };
    if (arg == "--biso") {
        if (o.biso) throw InputError(arg, "the option once", "it twice");
        o.biso = true;
        return true;
    }
    if (arg == "--po") {
        needs(4);
        const Miller axis{integer(args[i + 2], arg), integer(args[i + 3], arg),
                          integer(args[i + 4], arg)};
        if (axis == Miller{0, 0, 0})
            throw InputError(arg, "a direction h k l other than 0 0 0", "0 0 0");
        o.po.emplace_back(args[i + 1], axis);
        i += 4;
        return true;
    }
    if (arg == "--standard") {
        needs(2);
        if (o.standard) throw InputError(arg, "one internal standard", "a second --standard");
        const double percent = real(args[i + 2], arg, "the standard's weight percent");
        if (!(percent > 0 && percent < 100))
            throw InputError(arg, "a weight percent above 0 and below 100",
                             peakhkl::quoted(args[i + 2]));
        o.standard.emplace(args[i + 1], percent);
        i += 2;
        return true;
    }
    if (arg == "--brindley") {
        needs(1);
        // One value: the radius of every phase; NAME RADIUS: one phase's.
        std::string name;
        std::string radius = args[i + 1];
        if (!numeric(radius)) {
            needs(2);
            name = args[i + 1];
            radius = args[i + 2];
            ++i;
        }
        const double um = real(radius, arg, "a particle radius in micrometres");
        if (!(um > 0 && um <= 1000))
            throw InputError(arg, "a particle radius in micrometres, above 0 and at most 1000",
                             peakhkl::quoted(radius));
        o.brindley.emplace_back(name, um);
        ++i;
        return true;
    }
    return false;
}

Quantities resolve(const QuantityOptions& o, const std::vector<std::string>& names,
                   const std::vector<bool>& rietveld) {
    Quantities q;
    q.po_axis.assign(names.size(), std::nullopt);
    const auto rietveld_phase = [&](const std::string& name, const std::string& option) {
        const std::size_t f = phase_of(name, names, option);
        if (!rietveld[f])
            throw InputError(option + " " + name, "a phase with atom sites (fitted by Rietveld)",
                             "a phase without atoms");
        return f;
    };
    for (const auto& [name, axis] : o.po) {
        const std::size_t f = rietveld_phase(name, "--po");
        if (q.po_axis[f]) throw InputError("--po " + name, "one direction per phase", "two");
        q.po_axis[f] = axis;
    }
    if (o.standard) {
        const std::size_t f = rietveld_phase(o.standard->first, "--standard");
        std::size_t others = 0;
        for (std::size_t g = 0; g < names.size(); ++g) others += rietveld[g] && g != f;
        if (others == 0)
            throw InputError("--standard " + o.standard->first,
                             "another phase fitted by Rietveld beside the standard", "none");
        q.amounts.standard = Standard{f, o.standard->second / 100};
    }
    if (!o.brindley.empty()) {
        q.amounts.brindley_radius.assign(names.size(), 0);
        bool all = false;
        std::vector<bool> named(names.size(), false);
        for (const auto& [name, um] : o.brindley) {
            if (name.empty()) {
                if (all || o.brindley.size() > 1)
                    throw InputError("--brindley", "one radius for all phases or one per phase",
                                     "both, or a radius for all twice");
                all = true;
                for (std::size_t f = 0; f < names.size(); ++f)
                    if (rietveld[f]) q.amounts.brindley_radius[f] = um * 1e-4;
                continue;
            }
            const std::size_t f = rietveld_phase(name, "--brindley");
            if (named[f]) throw InputError("--brindley " + name, "one radius per phase", "two");
            named[f] = true;
            q.amounts.brindley_radius[f] = um * 1e-4;
        }
    }
    return q;
}

std::string rietveld_refusal(const std::vector<peakhkl::AtomSite>& atoms, bool from_cif) {
    if (!from_cif) return "a deck or a --cell group has no atoms: give a CIF with atom sites";
    if (atoms.empty()) return "its CIF block has no atom sites (_atom_site_ loop)";
    return "";
}

nlohmann::json value_esd(double value, double esd) {
    nlohmann::json j;
    j["value"] = value;
    j["esd"] = std::isfinite(esd) ? nlohmann::json(esd) : nlohmann::json(nullptr);
    return j;
}

nlohmann::json phase_quantities(const Model& model, const RefineResult& result,
                                const Amounts& amounts, std::size_t phase) {
    nlohmann::json j = nlohmann::json::object();
    const Phase& ph = model.phases()[phase];
    if (ph.mode != Mode::rietveld) return j;
    const std::vector<double> p = model.values();
    const auto esd_of = [&](int q) {
        return q >= 0 && static_cast<std::size_t>(q) < result.esd.size()
                   ? result.esd[static_cast<std::size_t>(q)]
                   : NAN;
    };
    for (const PhaseAmount& a : amounts.phases) {
        if (static_cast<std::size_t>(a.phase) != phase) continue;
        j["weight_percent"] = value_esd(100 * a.weight.value, 100 * a.weight.esd);
        j["detected"] = a.weight.detected;
        if (a.absolute)
            j["absolute_percent"] = value_esd(100 * a.absolute->value, 100 * a.absolute->esd);
        j["scale"] = value_esd(a.scale, a.scale_esd);
        j["mu_per_cm"] = std::isfinite(a.mu) ? nlohmann::json(a.mu) : nlohmann::json(nullptr);
        j["cell_mass"] = a.cell_mass;
        if (a.tau != 1) j["brindley_tau"] = a.tau;
    }
    if (ph.po >= 0) j["po_ratio"] = value_esd(p[static_cast<std::size_t>(ph.po)], esd_of(ph.po));
    if (ph.biso >= 0) j["biso"] = value_esd(p[static_cast<std::size_t>(ph.biso)], esd_of(ph.biso));
    return j;
}

std::string esd_text(double value, double esd, int digits) {
    char text[64];
    if (!(esd > 0) || !std::isfinite(esd)) {
        std::snprintf(text, sizeof text, "%.*f", digits, value);
        return text;
    }
    const int exponent = static_cast<int>(std::floor(std::log10(esd)));
    const double leading = esd / std::pow(10.0, exponent);
    int decimals = std::max(0, leading < 2 ? 1 - exponent : -exponent);
    long units = std::lround(esd * std::pow(10.0, decimals));
    std::snprintf(text, sizeof text, "%.*f(%ld)", decimals, value, units);
    return text;
}

std::vector<std::string> quantity_lines(const Model& model, const Amounts& amounts) {
    std::vector<std::string> lines;
    for (const PhaseAmount& a : amounts.phases) {
        std::string line =
            model.phases()[static_cast<std::size_t>(a.phase)].name + ": " +
            (a.weight.detected ? esd_text(100 * a.weight.value, 100 * a.weight.esd)
                               : "not detected (esd " + esd_text(100 * a.weight.esd, NAN) + ")") +
            " wt%";
        if (a.absolute)
            line += ", " + esd_text(100 * a.absolute->value, 100 * a.absolute->esd) +
                    " wt% of the mixture";
        if (std::isfinite(a.mu)) {
            char mu[64];
            std::snprintf(mu, sizeof mu, ", mu %.1f /cm", a.mu);
            line += mu;
        }
        if (a.tau != 1) {
            char tau[64];
            std::snprintf(tau, sizeof tau, ", Brindley tau %.4f", a.tau);
            line += tau;
        }
        lines.push_back(line);
    }
    if (amounts.amorphous)
        lines.push_back("amorphous or unidentified: " +
                        esd_text(100 * amounts.amorphous->value, 100 * amounts.amorphous->esd) +
                        " wt% of the mixture, " +
                        esd_text(100 * amounts.amorphous_original->value,
                                 100 * amounts.amorphous_original->esd) +
                        " wt% of the sample without the standard");
    if (amounts.bias > 0.01) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "warning: the phases absorb differently: particles of 5 um radius would bias "
                      "these weight fractions by up to %.1f wt%% (--brindley RADIUS_UM corrects "
                      "for it)",
                      100 * amounts.bias);
        lines.push_back(text);
    }
    for (const std::string& w : amounts.warnings) lines.push_back("warning: " + w);
    return lines;
}

} // namespace peakfit
