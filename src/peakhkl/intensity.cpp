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
#include <cstdio>
#include <optional>
#include <set>
#include <unordered_map>

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

// The cell with the images of every operation but the identity.
gemmi::UnitCell cell_with_images(const Crystal& crystal) {
    gemmi::UnitCell cell = crystal.unit_cell;
    for (const gemmi::Op& op : crystal.symmetry.ops)
        if (op != gemmi::Op::identity()) cell.images.push_back(transform_of(op));
    return cell;
}

// The distance in angstroms between two fractional points, the nearest
// lattice translation apart.
double distance(const gemmi::UnitCell& cell, const gemmi::Fractional& a,
                const gemmi::Fractional& b) {
    gemmi::Fractional d = a - b;
    d = gemmi::Fractional(d.x - std::round(d.x), d.y - std::round(d.y), d.z - std::round(d.z));
    return cell.orthogonalize_difference(d).length();
}

// A site's images near it: the operations (the identity counted) that put
// it within special_position_tolerance of itself, those within
// split_site_distance, and the nearest and farthest of the latter beyond
// the former.
struct Mates {
    int same = 1, near = 1;
    double nearest = INFINITY, farthest = 0;
    // distinct images near it, and whether they make a split site
    double images() const { return static_cast<double>(near) / same; }
};

Mates mates_of(const gemmi::UnitCell& cell, const gemmi::SmallStructure::Site& site) {
    Mates m;
    for (const gemmi::FTransform& image : cell.images) {
        const double r = distance(cell, image.apply(site.fract), site.fract);
        if (r < special_position_tolerance) {
            ++m.same;
        } else if (r < split_site_distance) {
            ++m.near;
            m.nearest = std::min(m.nearest, r);
            m.farthest = std::max(m.farthest, r);
        }
    }
    m.near += m.same - 1;
    return m;
}

// Whether a site with images apart is a split site whose occupancy already
// accounts for them (to 1 %).
bool accounted(const Mates& m, double occ) {
    return occ * m.images() <= 1.01;
}

// The chemical occupancy over the number of images that are the atom once.
double crystallographic(const Mates& m, double occ) {
    if (m.near == m.same || accounted(m, occ)) return occ / m.same;
    return occ / m.near;
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

Scatterers scatterers(const std::vector<AtomSite>& atoms, const Beam& beam) {
    Scatterers s;
    std::set<std::string> ions;
    for (const AtomSite& atom : atoms) {
        const auto& site = atom.site;
        if (atom.fault) {
            s.faults.push_back(*atom.fault);
            continue;
        }
        if (!has_table(site.element.elem, beam.radiation)) {
            const std::string what =
                site.element == gemmi::El::X
                    ? "a dummy or unknown atom " + quoted(site.type_symbol)
                    : std::string(site.element.name()) + ", which has no " +
                          (beam.radiation == Radiation::xray ? "X-ray form factor"
                                                             : "neutron scattering length");
            s.faults.push_back({atom.where, "an atom of a known element", what});
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
        s.atoms.push_back(atom);
    }
    return s;
}

std::vector<std::string> site_notes(const Crystal& crystal, const std::vector<AtomSite>& atoms) {
    std::vector<std::string> notes;
    const gemmi::UnitCell cell = cell_with_images(crystal);
    const auto angstroms = [](double r) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3g", r);
        return std::string(text);
    };
    for (const AtomSite& atom : atoms) {
        const Mates m = mates_of(cell, atom.site);
        if (m.near == m.same) continue;
        const std::string images = number_text(std::round(m.images() * 100) / 100);
        const std::string apart =
            " lie " + angstroms(m.nearest) + " to " + angstroms(m.farthest) + " A from it";
        const std::string product = "occupancy " + number_text(atom.site.occ) + " x " + images;
        notes.push_back(atom.where.note(
            accounted(m, atom.site.occ)
                ? "a split site: " + images + " images" + apart + " and its " + product +
                      " <= 1 accounts for them; each image is counted"
                : images + " images" + apart + " and its " + product +
                      " > 1: taken as one atom near a special position, its occupancy shared "
                      "among the images"));
    }
    // An atom of the same element at the same place as an earlier one: the
    // earlier ones in a grid of cells of the tolerance, each image of a later
    // one looked up in the 27 cells around it.
    const double cell_size = special_position_tolerance;
    const std::array<long, 3> n{std::max(1L, static_cast<long>(cell.a / cell_size)),
                                std::max(1L, static_cast<long>(cell.b / cell_size)),
                                std::max(1L, static_cast<long>(cell.c / cell_size))};
    const auto key = [&](long i, long j, long k) {
        const auto wrap = [](long x, long m) { return ((x % m) + m) % m; };
        return (wrap(i, n[0]) * n[1] + wrap(j, n[1])) * n[2] + wrap(k, n[2]);
    };
    const auto index_of = [&](const gemmi::Fractional& f) {
        const gemmi::Fractional w = f.wrap_to_unit();
        return std::array<long, 3>{static_cast<long>(std::floor(w.x * static_cast<double>(n[0]))),
                                   static_cast<long>(std::floor(w.y * static_cast<double>(n[1]))),
                                   static_cast<long>(std::floor(w.z * static_cast<double>(n[2])))};
    };
    std::unordered_multimap<long, std::size_t> grid;
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        const auto& site = atoms[i].site;
        std::optional<std::size_t> same;
        std::vector<gemmi::Fractional> images{site.fract};
        for (const gemmi::FTransform& image : cell.images)
            images.push_back(image.apply(site.fract));
        for (const gemmi::Fractional& f : images) {
            const auto c = index_of(f);
            for (long di = -1; di <= 1 && !same; ++di)
                for (long dj = -1; dj <= 1 && !same; ++dj)
                    for (long dk = -1; dk <= 1 && !same; ++dk) {
                        const auto range = grid.equal_range(key(c[0] + di, c[1] + dj, c[2] + dk));
                        for (auto it = range.first; it != range.second && !same; ++it) {
                            const auto& other = atoms[it->second].site;
                            if (other.element.elem == site.element.elem &&
                                distance(cell, other.fract, f) < special_position_tolerance)
                                same = it->second;
                        }
                    }
            if (same) break;
        }
        if (same)
            notes.push_back(atoms[i].where.warning(
                "an atom of the same element as " + atoms[*same].site.label + " (" +
                atoms[*same].where.line + ") at the same place; both are counted"));
        const auto c = index_of(site.fract);
        grid.emplace(key(c[0], c[1], c[2]), i);
    }
    return notes;
}

std::vector<double> set_f2(const Crystal& crystal,
                           const std::vector<gemmi::SmallStructure::Site>& sites,
                           const std::vector<Reflection>& list, const Beam& beam) {
    const gemmi::GroupOps& ops = crystal.symmetry.ops;
    // Chemical occupancies to crystallographic ones, with every operation.
    gemmi::SmallStructure structure;
    structure.cell = cell_with_images(crystal);
    structure.sites = sites;
    for (auto& site : structure.sites)
        site.occ = crystallographic(mates_of(structure.cell, site), site.occ);

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
