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
#include <optional>
#include <vector>

namespace peakhkl {

namespace {

namespace cif = gemmi::cif;

constexpr double u_to_b = 8 * 3.14159265358979323846 * 3.14159265358979323846; // B = 8 pi^2 U

// A CIF number and its standard uncertainty: "0.0123(4)" is 0.0123 and
// 0.0004, "1.2e-3(5)" 0.0012 and 0.0005, "0.5" 0.5 and 0.
struct Measured {
    double value;
    double su;
};

std::optional<Measured> measured(const std::string& text) {
    const double value = cif::as_number(text);
    if (std::isnan(value)) return std::nullopt;
    const std::size_t open = text.find('(');
    if (open == std::string::npos) return Measured{value, 0};
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
    return Measured{value, digits * std::pow(10.0, static_cast<double>(exponent - decimals))};
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
// loop's start that begins with the label, else the loop's own.
struct Where {
    const std::string& path;
    cif::Block& block;
    // The file's lines, read again when a message needs them; a pipe or a
    // device cannot be read twice, and its messages name the loop's line.
    mutable std::optional<std::vector<std::string>> lines;

    Place at(const std::string& tag, const std::string& label) const {
        int line = 0;
        if (cif::Column column = block.find_values(tag); column && column.item()) {
            line = column.item()->line_number;
            if (column.item()->type == cif::ItemType::Loop) line = row_line(line, label);
        }
        return {path + ":" + std::to_string(line), tag + " of " + label};
    }

    int row_line(int loop_line, const std::string& label) const {
        if (!lines) {
            lines.emplace();
            std::error_code error;
            if (std::filesystem::is_regular_file(path, error)) {
                std::ifstream in(path, std::ios::binary);
                for (std::string line; std::getline(in, line);) lines->push_back(line);
            }
        }
        for (std::size_t i = static_cast<std::size_t>(std::max(loop_line, 1)); i <= lines->size();
             ++i) {
            const std::string& text = (*lines)[i - 1];
            const std::size_t from = text.find_first_not_of(" \t");
            if (from == std::string::npos) continue;
            std::string first = text.substr(from, text.find_first_of(" \t", from) - from);
            if (first.size() > 1 && (first[0] == '\'' || first[0] == '"'))
                first = first.substr(1, first.size() - 2);
            if (first == label) return static_cast<int>(i);
        }
        return loop_line;
    }
};

// The number of a row's column: nothing when it is ? or ., refused when it
// is some other text.
std::optional<Measured> number(cif::Table::Row& row, int column, const std::string& tag,
                               const std::string& label, const Where& where) {
    if (!row.has(static_cast<std::size_t>(column))) return std::nullopt;
    const std::string& raw = row[column];
    if (cif::is_null(raw)) return std::nullopt;
    const auto x = measured(cif::as_string(raw));
    if (!x)
        throw InputError(where.at(tag, label).text(), "a number",
                         peakhkl::quoted(cif::as_string(raw)));
    return x;
}

void read_anisotropic(cif::Block& block, const Where& where, AtomSites& atoms) {
    const std::array<std::string, 6> ij{"11", "22", "33", "12", "13", "23"};
    for (const std::string k : {"U", "B"}) {
        std::vector<std::string> columns{"label"};
        for (const std::string& s : ij) columns.push_back(k + "_" + s);
        cif::Table table = block.find("_atom_site_aniso_", columns);
        if (!table.ok()) continue;
        const double scale = k == "U" ? 1 : 1 / u_to_b;
        for (auto row : table) {
            const std::string label = row.str(0);
            AtomSite* atom = nullptr;
            for (AtomSite& a : atoms.sites)
                if (a.site.label == label) atom = &a;
            if (atom == nullptr) {
                atoms.warnings.push_back(
                    where.at("_atom_site_aniso_label", label)
                        .warning("no atom site of that label; its displacement is not used"));
                continue;
            }
            std::array<double, 6> u{};
            for (std::size_t i = 0; i < 6; ++i) {
                const std::string tag = "_atom_site_aniso_" + k + "_" + ij[i];
                const auto x = number(row, static_cast<int>(i) + 1, tag, label, where);
                if (!x)
                    throw InputError(where.at(tag, label).text(), "a number",
                                     peakhkl::quoted(row.str(static_cast<int>(i) + 1)));
                u[i] = x->value * scale;
            }
            atom->site.aniso = {u[0], u[1], u[2], u[3], u[4], u[5]};
        }
        return;
    }
}

} // namespace

AtomSites read_atoms(cif::Block& block, const std::string& path) {
    AtomSites atoms;
    enum { label_, type_, x_, y_, z_, u_, b_, occ_, flag_ };
    cif::Table table = block.find("_atom_site_", {"label", "?type_symbol", "?fract_x", "?fract_y",
                                                  "?fract_z", "?U_iso_or_equiv", "?B_iso_or_equiv",
                                                  "?occupancy", "?calc_flag"});
    if (!table.ok()) return atoms;
    const Where where{path, block, std::nullopt};
    std::vector<bool> without_u;
    for (auto row : table) {
        AtomSite atom;
        gemmi::SmallStructure::Site& site = atom.site;
        site.label = row.str(label_);
        atom.where = where.at("_atom_site_label", site.label);
        const bool typed = row.has2(type_);
        site.type_symbol = typed ? row.str(type_) : site.label;
        site.element = element_of(site.type_symbol, typed);
        site.charge = typed ? charge_of(site.type_symbol) : 0;
        if (row.has2(flag_) && row.str(flag_) == "dum") site.element = gemmi::El::X;

        const char* axes[] = {"_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z"};
        double xyz[3];
        for (int i = 0; i < 3; ++i) {
            const auto x = number(row, x_ + i, axes[i], site.label, where);
            if (!x)
                throw InputError(where.at(axes[i], site.label).text(), "a fractional coordinate",
                                 row.has(static_cast<std::size_t>(x_ + i))
                                     ? peakhkl::quoted(row[x_ + i])
                                     : "none");
            xyz[i] = x->value;
        }
        site.fract = gemmi::Fractional(xyz[0], xyz[1], xyz[2]);

        if (const auto occ = number(row, occ_, "_atom_site_occupancy", site.label, where)) {
            if (occ->value + occ->su < 0 || occ->value - occ->su > 1)
                throw InputError(where.at("_atom_site_occupancy", site.label).text(),
                                 "an occupancy from 0 to 1",
                                 peakhkl::quoted(cif::as_string(row[occ_])));
            site.occ = occ->value;
        }

        std::optional<Measured> u = number(row, u_, "_atom_site_U_iso_or_equiv", site.label, where);
        const char* u_tag = "_atom_site_U_iso_or_equiv";
        if (!u) {
            if (auto b = number(row, b_, "_atom_site_B_iso_or_equiv", site.label, where)) {
                u = Measured{b->value / u_to_b, b->su / u_to_b};
                u_tag = "_atom_site_B_iso_or_equiv";
            }
        }
        if (u && u->value < 0) {
            if (u->value + u->su < 0)
                throw InputError(where.at(u_tag, site.label).text(), "a displacement of 0 or more",
                                 peakhkl::quoted(cif::as_string(row[u_tag[11] == 'U' ? u_ : b_])));
            atoms.warnings.push_back(
                where.at(u_tag, site.label).warning("negative within its uncertainty; taken as 0"));
        }
        site.u_iso = u ? std::max(u->value, 0.0) : 0;
        without_u.push_back(!u);
        atoms.sites.push_back(std::move(atom));
    }
    read_anisotropic(block, where, atoms);
    std::string labels;
    for (std::size_t i = 0; i < atoms.sites.size(); ++i)
        if (without_u[i] && !atoms.sites[i].site.aniso.nonzero())
            labels += (labels.empty() ? "" : " ") + atoms.sites[i].site.label;
    if (!labels.empty())
        atoms.warnings.push_back(path +
                                 ": warning: no _atom_site_U_iso_or_equiv or "
                                 "_atom_site_B_iso_or_equiv for " +
                                 labels + "; their displacement is taken as 0");
    return atoms;
}

} // namespace peakhkl
