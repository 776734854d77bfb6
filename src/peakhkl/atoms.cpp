#include "peakhkl/atoms.hpp"

#include "peakhkl/error.hpp"

#include <gemmi/cifdoc.hpp>
#include <gemmi/elem.hpp>
#include <gemmi/numb.hpp>

#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace peakhkl {

namespace {

namespace cif = gemmi::cif;

constexpr double u_to_b = 8 * 3.14159265358979323846 * 3.14159265358979323846; // B = 8 pi^2 U

// A CIF number and its standard uncertainty: "0.0123(4)" is 0.0123 and
// 0.0004, "1.2e-3(5)" 0.0012 and 0.0005, "0.5" 0.5 and 0. how is empty for
// a number written so, else what was read past: a fraction "1/4" (when
// fraction), a trailing marker "0.08*".
struct Measured {
    double value;
    double su;
    std::string how;
};

std::optional<Measured> measured(const std::string& text, bool fraction) {
    if (!text.empty() && text.back() == '*' && text.size() > 1) {
        auto x = measured(text.substr(0, text.size() - 1), fraction);
        if (x) x->how = "the trailing * of " + peakhkl::quoted(text) + " read past";
        return x;
    }
    if (const auto slash = text.find('/'); fraction && slash != std::string::npos) {
        const std::string num = text.substr(0, slash), den = text.substr(slash + 1);
        const auto digits = [](const std::string& t, std::size_t from) {
            return t.size() > from && t.size() <= from + 3 &&
                   t.find_first_not_of("0123456789", from) == std::string::npos;
        };
        const std::size_t sign = !num.empty() && (num[0] == '-' || num[0] == '+') ? 1 : 0;
        if (!digits(num, sign) || !digits(den, 0) || std::stoi(den) == 0) return std::nullopt;
        const double value = std::stod(num) / std::stod(den);
        return Measured{value, 0,
                        "the fraction " + peakhkl::quoted(text) + " read as " + number_text(value)};
    }
    const double value = cif::as_number(text);
    if (!std::isfinite(value)) return std::nullopt;
    const std::size_t open = text.find('(');
    if (open == std::string::npos) return Measured{value, 0, ""};
    const std::string mantissa = text.substr(0, open);
    const std::size_t e = mantissa.find_first_of("eE");
    const std::size_t dot = mantissa.find('.');
    const long decimals =
        dot == std::string::npos
            ? 0
            : static_cast<long>((e == std::string::npos ? mantissa.size() : e) - dot - 1);
    const long exponent =
        e == std::string::npos ? 0 : std::strtol(mantissa.c_str() + e + 1, nullptr, 10);
    const double digits = std::strtod(text.c_str() + open + 1, nullptr);
    return Measured{value, digits * std::pow(10.0, static_cast<double>(exponent - decimals)), ""};
}

// The element a type symbol or a label begins with: its first two letters
// when they name an element, else its first letter when that does. A type
// symbol must be an element's symbol whole ("Du", "Q" and "X" are none);
// a label may go on with letters of its own ("Ob1" is an oxygen).
gemmi::El element_of(const std::string& text, bool whole) {
    std::size_t letters = 0;
    while (letters < text.size() && std::isalpha(static_cast<unsigned char>(text[letters])))
        ++letters;
    if (letters == 0) return gemmi::El::X;
    const auto find = [&](std::size_t n) {
        return gemmi::find_element(std::string(text, 0, n).c_str());
    };
    if (letters >= 2 && find(2) != gemmi::El::X && (!whole || letters == 2)) return find(2);
    if (!whole || letters == 1) return find(1);
    return gemmi::El::X;
}

// The charge written after an element's symbol: "2-", "3+", "+3", "-", or
// 0 for anything else.
signed char charge_of(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    const std::string rest = text.substr(i);
    if (rest == "+" || rest == "-") return rest == "+" ? 1 : -1;
    if (rest.size() == 2 && std::isdigit(static_cast<unsigned char>(rest[0])) &&
        (rest[1] == '+' || rest[1] == '-'))
        return static_cast<signed char>((rest[1] == '+' ? 1 : -1) * (rest[0] - '0'));
    if (rest.size() == 2 && std::isdigit(static_cast<unsigned char>(rest[1])) &&
        (rest[0] == '+' || rest[0] == '-'))
        return static_cast<signed char>((rest[0] == '+' ? 1 : -1) * (rest[1] - '0'));
    return 0;
}

// Where a value of an atom stands, for a message: the file, the line, the
// tag and the atom's label. The parser keeps the line of a loop, not of its
// values: the line is that of the atom's row, the first line after the
// loop's start that begins with the label, else the loop's own. The file is
// read again once, and each loop's rows indexed once, so that finding the
// lines of every atom takes time linear in the file.
struct Where {
    const std::string& path;
    cif::Block& block;
    mutable std::optional<std::vector<std::string>> lines;
    // loop line -> (first word -> its lines at or after the loop's)
    mutable std::unordered_map<int, std::unordered_map<std::string, std::vector<int>>> rows;

    // The place of the value of tag in the row of label (the row of its
    // occurrence-th use, counted from 0, for a label given twice).
    Place at(const std::string& tag, const std::string& label, std::size_t occurrence = 0) const {
        int line = 0;
        if (cif::Column column = block.find_values(tag); column && column.item()) {
            line = column.item()->line_number;
            if (column.item()->type == cif::ItemType::Loop)
                line = row_line(line, label, occurrence);
        }
        return {path + ":" + std::to_string(line), tag + " of " + label};
    }

    int row_line(int loop_line, const std::string& label, std::size_t occurrence) const {
        if (!lines) {
            lines.emplace();
            std::error_code error;
            if (std::filesystem::is_regular_file(path, error)) {
                std::ifstream in(path, std::ios::binary);
                for (std::string line; std::getline(in, line);) lines->push_back(line);
            }
        }
        auto [index, fresh] = rows.try_emplace(loop_line);
        if (fresh)
            for (std::size_t i = static_cast<std::size_t>(std::max(loop_line, 1));
                 i <= lines->size(); ++i) {
                const std::string& text = (*lines)[i - 1];
                const std::size_t from = text.find_first_not_of(" \t");
                if (from == std::string::npos) continue;
                std::string first = text.substr(from, text.find_first_of(" \t", from) - from);
                if (first.size() > 1 && (first[0] == '\'' || first[0] == '"'))
                    first = first.substr(1, first.size() - 2);
                index->second[first].push_back(static_cast<int>(i));
            }
        const auto found = index->second.find(label);
        if (found == index->second.end()) return loop_line;
        return found->second[std::min(occurrence, found->second.size() - 1)];
    }
};

// A value of a row, for a message: quoted, or "none".
std::string shown(cif::Table::Row& row, int column) {
    if (!row.has(static_cast<std::size_t>(column))) return "none";
    const std::string& raw = row[column];
    return peakhkl::quoted(cif::is_null(raw) ? raw : cif::as_string(raw));
}

// The number of a row's column. Nothing when it is absent, ? or .;
// otherwise the number, or a fault when it is some other text. A fraction
// (when fraction) or a trailing * is read with a warning.
struct Number {
    std::optional<Measured> value;
    std::optional<AtomFault> fault;
};

using PlaceOf = std::function<Place(const std::string& tag)>;

Number number(cif::Table::Row& row, int column, const std::string& tag, const PlaceOf& at,
              bool fraction, std::vector<std::string>& warnings) {
    if (!row.has(static_cast<std::size_t>(column))) return {};
    const std::string& raw = row[column];
    if (cif::is_null(raw)) return {};
    const auto x = measured(cif::as_string(raw), fraction);
    if (!x)
        return {std::nullopt, AtomFault{at(tag), fraction ? "a fractional coordinate" : "a number",
                                        shown(row, column)}};
    if (!x->how.empty()) warnings.push_back(at(tag).warning(x->how));
    return {x, std::nullopt};
}

// Whether the symmetric matrix of U11 U22 U33 U12 U13 U23 is positive
// definite: its leading minors are all above 0 (Sylvester). On the
// reciprocal axes as on Cartesian ones: the two are congruent.
bool positive_definite(const std::array<double, 6>& u) {
    const double m1 = u[0];
    const double m2 = u[0] * u[1] - u[3] * u[3];
    const double m3 = u[0] * (u[1] * u[2] - u[5] * u[5]) - u[3] * (u[3] * u[2] - u[5] * u[4]) +
                      u[4] * (u[3] * u[5] - u[1] * u[4]);
    return m1 > 0 && m2 > 0 && m3 > 0;
}

// Whether the U (U11 U22 U33 U12 U13 U23 on the reciprocal axes) of an
// atom at fract is left as it is by every operation of the crystal's group
// that leaves the atom where it is: U* = N U N (N = diag(a*, b*, c*)) is
// R U* R^T for each such rotation R, to 1e-6 of its largest element.
bool invariant(const Crystal& crystal, const gemmi::Fractional& fract,
               const std::array<double, 6>& u) {
    const gemmi::UnitCell& cell = crystal.unit_cell;
    const double n[3] = {cell.ar, cell.br, cell.cr};
    double us[3][3];
    const int index[3][3] = {{0, 3, 4}, {3, 1, 5}, {4, 5, 2}};
    double largest = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            us[i][j] = n[i] * u[static_cast<std::size_t>(index[i][j])] * n[j];
            largest = std::max(largest, std::fabs(us[i][j]));
        }
    for (const gemmi::Op& op : crystal.symmetry.ops) {
        const auto xyz = op.apply_to_xyz({fract.x, fract.y, fract.z});
        const gemmi::Fractional image(xyz[0], xyz[1], xyz[2]);
        gemmi::Fractional d = image - fract;
        d = gemmi::Fractional(d.x - std::round(d.x), d.y - std::round(d.y), d.z - std::round(d.z));
        if (cell.orthogonalize_difference(d).length() > 0.01) continue;
        const auto r = op.rot;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double x = 0;
                for (int k = 0; k < 3; ++k)
                    for (int l = 0; l < 3; ++l) x += r[i][k] * us[k][l] * r[j][l];
                if (std::fabs(x / (gemmi::Op::DEN * gemmi::Op::DEN) - us[i][j]) > 1e-6 * largest)
                    return false;
            }
    }
    return true;
}

// Whether the site's symmetry makes the element e (0 to 5: U11 ... U23) of
// every U it leaves as it is 0: the mean over the site's rotations R of
// R^T E R is 0, E the symmetric unit tensor of the element (U_ij of an
// invariant U is its product with E, and the mean is the adjoint of the
// projection onto the invariant U). An element of U* and of the CIF's U
// are 0 together.
bool forced_zero(const Crystal& crystal, const gemmi::Fractional& fract, std::size_t e) {
    const gemmi::UnitCell& cell = crystal.unit_cell;
    const int ij[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
    double unit[3][3] = {};
    unit[ij[e][0]][ij[e][1]] = unit[ij[e][1]][ij[e][0]] = 1;
    double sum[3][3] = {};
    for (const gemmi::Op& op : crystal.symmetry.ops) {
        const auto xyz = op.apply_to_xyz({fract.x, fract.y, fract.z});
        gemmi::Fractional d = gemmi::Fractional(xyz[0], xyz[1], xyz[2]) - fract;
        d = gemmi::Fractional(d.x - std::round(d.x), d.y - std::round(d.y), d.z - std::round(d.z));
        if (cell.orthogonalize_difference(d).length() > 0.01) continue;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    for (int l = 0; l < 3; ++l)
                        sum[i][j] += op.rot[k][i] * unit[k][l] * op.rot[l][j];
    }
    for (const auto& row : sum)
        for (const double x : row)
            if (std::fabs(x) > 1e-9) return false;
    return true;
}

void read_anisotropic(cif::Block& block, const Where& where, const Crystal& crystal,
                      AtomSites& atoms) {
    const std::array<std::string, 6> ij{"11", "22", "33", "12", "13", "23"};
    std::unordered_map<std::string, std::size_t> by_label;
    for (std::size_t i = 0; i < atoms.sites.size(); ++i)
        by_label[atoms.sites[i].site.label] = i; // the last of a label given twice
    for (const std::string k : {"U", "B"}) {
        std::vector<std::string> columns{"label"};
        for (const std::string& s : ij) columns.push_back(k + "_" + s);
        cif::Table table = block.find("_atom_site_aniso_", columns);
        if (!table.ok()) continue;
        const double scale = k == "U" ? 1 : 1 / u_to_b;
        for (auto row : table) {
            const std::string label = row.str(0);
            const auto found = by_label.find(label);
            if (found == by_label.end()) {
                atoms.warnings.push_back(
                    where.at("_atom_site_aniso_label", label)
                        .warning("no atom site of that label; its displacement is not used"));
                continue;
            }
            AtomSite& atom = atoms.sites[found->second];
            if (atom.fault) continue;
            std::array<double, 6> u{};
            int given = 0, dots = 0;
            bool forced = true; // each . an element the site's symmetry makes 0
            for (std::size_t i = 0; i < 6; ++i) {
                const std::string tag = "_atom_site_aniso_" + k + "_" + ij[i];
                const Number x = number(
                    row, static_cast<int>(i) + 1, tag,
                    [&](const std::string& t) { return where.at(t, label); }, false,
                    atoms.warnings);
                if (x.fault && !atom.fault) atom.fault = x.fault;
                if (x.value) {
                    u[i] = x.value->value * scale;
                    ++given;
                } else if (row.has(i + 1) && row[static_cast<int>(i) + 1] == ".") {
                    ++dots;
                    forced = forced && forced_zero(crystal, atom.site.fract, i);
                }
            }
            if (atom.fault) continue;
            if (given == 0) continue; // not given: the isotropic value stays
            const std::string tag = "_atom_site_aniso_" + k + "_11";
            std::string values;
            for (std::size_t i = 1; i <= 6; ++i)
                values += (i == 1 ? "" : " ") + row[static_cast<int>(i)];
            const bool zeros =
                given + dots == 6 && forced && invariant(crystal, atom.site.fract, u);
            if (given < 6 && zeros)
                atoms.warnings.push_back(
                    where.at(tag, label)
                        .warning(peakhkl::quoted(values) +
                                 ": each . read as 0, as the site's symmetry makes it"));
            if (given < 6 && !zeros)
                atom.fault =
                    AtomFault{where.at(tag, label), "all six of " + k + "11 ... " + k + "23",
                              peakhkl::quoted(values)};
            if (atom.fault) {
            } else if (!positive_definite(u))
                atom.fault = AtomFault{where.at(tag, label),
                                       "an anisotropic displacement that is positive definite",
                                       peakhkl::quoted(values)};
            else
                atom.site.aniso = {u[0], u[1], u[2], u[3], u[4], u[5]};
        }
        return;
    }
}

// The occupancy as read, clamped to [0, 1] with a warning when it lies
// within three uncertainties (at most 0.1) of the interval, or within 0.01
// without one; a fault beyond.
void read_occupancy(const Measured& occ, const Place& place, const std::string& text,
                    AtomSite& atom, std::vector<std::string>& warnings) {
    const double outside = occ.value < 0 ? -occ.value : occ.value - 1;
    if (!(outside > 0)) {
        atom.site.occ = occ.value;
        return;
    }
    const bool within =
        occ.su > 0 ? occ.su <= 0.1 && outside <= 3 * occ.su : outside <= 0.01 + 1e-12;
    if (!within) {
        atom.fault = AtomFault{place,
                               "an occupancy from 0 to 1 (or outside by at most three of its "
                               "uncertainties, when it is 0.1 or less; by 0.01 without one)",
                               peakhkl::quoted(text)};
        return;
    }
    atom.site.occ = occ.value < 0 ? 0 : 1;
    warnings.push_back(place.warning(peakhkl::quoted(text) + " outside 0 to 1 within " +
                                     (occ.su > 0 ? "three uncertainties" : "0.01") + "; taken as " +
                                     (occ.value < 0 ? "0" : "1")));
}

} // namespace

AtomSites read_atoms(cif::Block& block, const std::string& path, const Crystal& crystal) {
    AtomSites atoms;
    enum { label_, type_, x_, y_, z_, u_, b_, occ_, flag_ };
    cif::Table table = block.find("_atom_site_", {"label", "?type_symbol", "?fract_x", "?fract_y",
                                                  "?fract_z", "?U_iso_or_equiv", "?B_iso_or_equiv",
                                                  "?occupancy", "?calc_flag"});
    if (!table.ok()) return atoms;
    const Where where{path, block, std::nullopt, {}};
    std::vector<bool> without_u;
    std::unordered_map<std::string, std::pair<std::string, std::size_t>>
        labels_seen; // label -> its first line, its rows so far
    auto& warnings = atoms.warnings;
    for (auto row : table) {
        AtomSite atom;
        gemmi::SmallStructure::Site& site = atom.site;
        site.label = row.str(label_);
        auto& seen = labels_seen[site.label];
        const std::size_t occurrence = seen.second++;
        const auto at = [&, occurrence](const std::string& tag) {
            return where.at(tag, site.label, occurrence);
        };
        atom.where = at("_atom_site_label");
        if (occurrence == 0)
            seen.first = atom.where.line;
        else
            warnings.push_back(
                atom.where.warning("the label is given again (first at " + seen.first + ")"));
        const bool typed = row.has2(type_);
        site.type_symbol = typed ? row.str(type_) : site.label;
        site.element = element_of(site.type_symbol, typed);
        site.charge = typed ? charge_of(site.type_symbol) : 0;
        if (row.has2(flag_) && row.str(flag_) == "dum") site.element = gemmi::El::X;
        const auto fault = [&](std::optional<AtomFault> f) {
            if (f && !atom.fault) atom.fault = std::move(f);
        };

        const char* axes[] = {"_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z"};
        double xyz[3] = {0, 0, 0};
        for (int i = 0; i < 3; ++i) {
            const Number x = number(row, x_ + i, axes[i], at, true, warnings);
            fault(x.fault);
            if (x.value)
                xyz[i] = x.value->value;
            else if (!x.fault)
                fault(AtomFault{at(axes[i]), "a fractional coordinate", shown(row, x_ + i)});
        }
        site.fract = gemmi::Fractional(xyz[0], xyz[1], xyz[2]);

        const Number occ = number(row, occ_, "_atom_site_occupancy", at, false, warnings);
        fault(occ.fault);
        if (occ.value && !atom.fault)
            read_occupancy(*occ.value, at("_atom_site_occupancy"), cif::as_string(row[occ_]), atom,
                           warnings);

        const char* u_tag = "_atom_site_U_iso_or_equiv";
        Number u = number(row, u_, u_tag, at, false, warnings);
        fault(u.fault);
        int u_column = u_;
        if (!u.value && !u.fault) {
            Number b = number(row, b_, "_atom_site_B_iso_or_equiv", at, false, warnings);
            fault(b.fault);
            if (b.value) {
                u.value = Measured{b.value->value / u_to_b, b.value->su / u_to_b, ""};
                u_tag = "_atom_site_B_iso_or_equiv";
                u_column = b_;
            }
        }
        if (u.value && u.value->value < 0 && !atom.fault) {
            const Measured& m = *u.value;
            const bool within = m.su > 0 ? m.value + 3 * m.su >= 0 : m.value > -0.01;
            const Place place = at(u_tag);
            if (within)
                warnings.push_back(place.warning(
                    peakhkl::quoted(cif::as_string(row[u_column])) + " negative within " +
                    (m.su > 0 ? "three uncertainties" : "0.01 A^2 of U") + "; taken as 0"));
            else
                fault(AtomFault{place,
                                "a displacement of 0 or more (or below by at most three of its "
                                "uncertainties; by 0.01 A^2 of U without one)",
                                peakhkl::quoted(cif::as_string(row[u_column]))});
        }
        site.u_iso = u.value ? std::max(u.value->value, 0.0) : 0;
        without_u.push_back(!u.value);
        atoms.sites.push_back(std::move(atom));
    }
    read_anisotropic(block, where, crystal, atoms);
    std::string labels;
    for (std::size_t i = 0; i < atoms.sites.size(); ++i)
        if (without_u[i] && !atoms.sites[i].fault && !atoms.sites[i].site.aniso.nonzero())
            labels += (labels.empty() ? "" : " ") + atoms.sites[i].site.label;
    if (!labels.empty())
        warnings.push_back(path +
                           ": warning: no _atom_site_U_iso_or_equiv or "
                           "_atom_site_B_iso_or_equiv for " +
                           labels + "; their displacement is taken as 0");
    return atoms;
}

} // namespace peakhkl
