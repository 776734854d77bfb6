#include "peakhkl/intensity.hpp"

#include "peakhkl/bragg.hpp"
#include "peakhkl/error.hpp"

#include <gemmi/fprime.hpp>
#include <gemmi/it92.hpp>
#include <gemmi/neutron92.hpp>
#include <gemmi/sfcalc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <set>

namespace peakhkl {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double degree = pi / 180;

using XrayTable = gemmi::IT92<double>;
using NeutronTable = gemmi::Neutron92<double>;

bool has_table(gemmi::El el, Radiation radiation) {
    if (el == gemmi::El::X) return false;
    return radiation == Radiation::xray ? XrayTable::has(el) : NeutronTable::has(el);
}

// The anomalous terms of each element at the wavelength: f' (the
// calculator's addends) and f''.
struct Dispersion {
    gemmi::Addends fp;
    std::array<double, static_cast<std::size_t>(gemmi::El::END)> fpp{};
};

Dispersion dispersion_at(double wave, const std::vector<gemmi::SmallStructure::Site>& sites) {
    Dispersion d;
    const double energy = gemmi::hc() / wave; // eV
    for (const auto& site : sites) {
        double fpp = 0;
        const double fp = gemmi::cromer_liberman(site.element.atomic_number(), energy, &fpp);
        d.fp.set(site.element, static_cast<float>(fp));
        d.fpp[site.element.ordinal()] = fpp;
    }
    return d;
}

// sum over the centring vectors c of exp(2 pi i h.c); real, as -c is one of them.
double centring_sum(const gemmi::GroupOps& ops, const Miller& hkl) {
    double sum = 0;
    for (const gemmi::Op::Tran& c : ops.cen_ops)
        sum += std::cos(2 * pi * (hkl[0] * c[0] + hkl[1] * c[1] + hkl[2] * c[2]) / gemmi::Op::DEN);
    return sum;
}

gemmi::FTransform transform_of(const gemmi::Op& op) {
    return gemmi::Transform{gemmi::rot_as_mat33(op), gemmi::tran_as_vec3(op)};
}

// The operations the sums run over, without the identity: one per rotation
// (the centring vectors are summed apart), and when the group holds the
// inversion at the origin (up to a centring vector), one of each pair
// (R, t), (-R, -t): the two give exp(i phi) + exp(-i phi) = 2 cos(phi) with
// the same displacement factor. paired tells which.
struct Images {
    std::vector<gemmi::FTransform> images;
    bool paired = false;
};

Images images_of(const gemmi::GroupOps& ops) {
    Images result;
    const gemmi::Op::Rot minus_one = gemmi::Op::identity().negated_rot();
    for (const gemmi::Op& op : ops.sym_ops)
        for (const gemmi::Op::Tran& c : ops.cen_ops)
            result.paired = result.paired || (op.rot == minus_one && op.tran == c);
    std::vector<gemmi::Op> kept{gemmi::Op::identity()};
    for (const gemmi::Op& op : ops.sym_ops) {
        const auto same_or_paired = [&](const gemmi::Op& k) {
            return k.rot == op.rot || (result.paired && k.rot == op.negated_rot());
        };
        if (std::none_of(kept.begin(), kept.end(), same_or_paired)) kept.push_back(op);
    }
    for (std::size_t i = 1; i < kept.size(); ++i) result.images.push_back(transform_of(kept[i]));
    return result;
}

template <typename Table>
std::vector<double> f2_with(const gemmi::UnitCell& cell, bool paired, const gemmi::GroupOps& ops,
                            const std::vector<gemmi::SmallStructure::Site>& sites,
                            const std::vector<Reflection>& list, const Dispersion& dispersion,
                            bool friedel_mates_differ) {
    gemmi::StructureFactorCalculator<Table> calc(cell);
    calc.addends = dispersion.fp;
    const auto f = [&](const Miller& hkl) {
        calc.set_stol2_and_scattering_factors(hkl);
        std::complex<double> sum = 0;
        for (const auto& site : sites) {
            const std::complex<double> factor(calc.get_scattering_factor(site.element),
                                              dispersion.fpp[site.element.ordinal()]);
            const std::complex<double> g =
                calc.calculate_sf_from_atom_sf(site.fract, site, hkl, 1.0);
            sum += (paired ? 2 * g.real() : g) * factor;
        }
        return sum * centring_sum(ops, hkl);
    };
    std::vector<double> f2;
    f2.reserve(list.size());
    for (const Reflection& r : list) {
        const double plus = std::norm(f(r.hkl));
        f2.push_back(friedel_mates_differ
                         ? (plus + std::norm(f(Miller{-r.hkl[0], -r.hkl[1], -r.hkl[2]}))) / 2
                         : plus);
    }
    return f2;
}

} // namespace

Scatterers scatterers(const std::vector<AtomSite>& atoms, const Beam& beam, bool skip_unknown) {
    Scatterers s;
    std::set<std::string> ions;
    for (const AtomSite& atom : atoms) {
        const auto& site = atom.site;
        if (!has_table(site.element.elem, beam.radiation)) {
            const std::string what =
                site.element == gemmi::El::X
                    ? "a dummy or unknown atom " + quoted(site.type_symbol)
                    : std::string(site.element.name()) + ", which has no " +
                          (beam.radiation == Radiation::xray ? "X-ray form factor"
                                                             : "neutron scattering length");
            if (!skip_unknown)
                throw InputError(atom.where.text(),
                                 "an atom of a known element (--skip-unknown-atoms leaves it out)",
                                 what);
            s.warnings.push_back(atom.where.warning(what + " left out"));
            continue;
        }
        if (beam.radiation == Radiation::xray && site.charge != 0 &&
            ions.insert(site.type_symbol).second)
            s.warnings.push_back(atom.where.warning(
                "no form factor for the ion " + quoted(site.type_symbol) +
                " in the table; the neutral " + site.element.name() + "'s is used"));
        if (beam.radiation == Radiation::xray && beam.dispersion &&
            site.element.atomic_number() > 92 && ions.insert(site.element.name()).second)
            s.warnings.push_back(atom.where.warning(std::string("no f', f'' for ") +
                                                    site.element.name() +
                                                    " (Cromer-Liberman stops at U); 0 is used"));
        s.sites.push_back(site);
    }
    return s;
}

std::vector<double> set_f2(const Crystal& crystal,
                           const std::vector<gemmi::SmallStructure::Site>& sites,
                           const std::vector<Reflection>& list, const Beam& beam) {
    const gemmi::GroupOps& ops = crystal.symmetry.ops;
    // Chemical occupancies to crystallographic ones, with every operation.
    gemmi::SmallStructure structure;
    structure.cell = crystal.unit_cell;
    for (const gemmi::Op& op : ops)
        if (op != gemmi::Op::identity()) structure.cell.images.push_back(transform_of(op));
    structure.sites = sites;
    structure.change_occupancies_to_crystallographic(special_position_tolerance);

    gemmi::UnitCell cell = crystal.unit_cell;
    Images images = images_of(ops);
    cell.images = std::move(images.images);

    if (beam.radiation == Radiation::neutron)
        return f2_with<NeutronTable>(cell, images.paired, ops, structure.sites, list, Dispersion{},
                                     false);
    const Dispersion dispersion =
        beam.dispersion ? dispersion_at(beam.wave, structure.sites) : Dispersion{};
    bool anomalous = false;
    for (const double fpp : dispersion.fpp) anomalous = anomalous || fpp != 0;
    return f2_with<XrayTable>(cell, images.paired, ops, structure.sites, list, dispersion,
                              anomalous && !ops.is_centrosymmetric());
}

double lorentz_polarization(double tt, const Beam& beam) {
    const double theta = tt / 2 * degree;
    const double lorentz = 1 / (std::sin(theta) * std::sin(theta) * std::cos(theta));
    if (beam.radiation == Radiation::neutron) return lorentz;
    const double c2 = std::cos(tt * degree) * std::cos(tt * degree);
    if (beam.polarized) return lorentz * (*beam.polarized + (1 - *beam.polarized) * c2);
    const double m2 = std::cos(beam.monochromator * degree) * std::cos(beam.monochromator * degree);
    return lorentz * (1 + m2 * c2) / (1 + m2);
}

std::vector<double> intensities(const std::vector<Reflection>& list, const std::vector<double>& f2,
                                const Beam& beam) {
    std::vector<double> intensity(list.size(), NAN);
    double strongest = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const double tt = two_theta(list[i].d, beam.wave);
        if (tt <= 0 || tt >= 180) continue;
        intensity[i] = list[i].multiplicity * f2[i] * lorentz_polarization(tt, beam);
        if (!list[i].extinct) strongest = std::max(strongest, intensity[i]);
    }
    for (double& x : intensity) x = strongest > 0 ? x / strongest * 100 : 0 * x;
    return intensity;
}

} // namespace peakhkl
