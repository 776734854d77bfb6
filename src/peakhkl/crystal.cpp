#include "peakhkl/crystal.hpp"

#include "peakhkl/error.hpp"
#include "peakhkl/symbol.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <set>
#include <stdexcept>

namespace peakhkl {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool rhombohedral_axes(const CellValues& cell) {
    const auto same_length = [&](double x, double y) {
        return std::fabs(x - y) <= 1e-4 * std::max(x, y);
    };
    const auto same_angle = [](double x, double y) { return std::fabs(x - y) <= 1e-3; };
    return same_length(cell[0], cell[1]) && same_length(cell[1], cell[2]) &&
           same_angle(cell[3], cell[4]) && same_angle(cell[4], cell[5]) &&
           !same_angle(cell[3], 90.0);
}

Symmetry from_table(const gemmi::SpaceGroup& sg) {
    return {sg.operations(), sg.xhm()};
}

// The tabulated name of a group given by its operations, if it has one.
std::string name_of(const gemmi::GroupOps& ops) {
    const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_ops(ops);
    return sg ? sg->xhm() : std::string();
}

// One coordinate of an operator ("-x+1/2", "y - 0.25") as gemmi reads it:
// terms of a sign, an integer or a fraction of integers, and x, y or z,
// with a decimal translation written as the fraction of 24 it is within
// 1e-3 of. Throws std::invalid_argument with the reason before any number
// too long for the arithmetic reaches gemmi.
std::string checked_part(const std::string& part) {
    const auto fail = [&](const std::string& why) { throw std::invalid_argument(why); };
    std::string out;
    std::size_t i = 0;
    const auto blanks = [&] {
        while (i < part.size() && (part[i] == ' ' || part[i] == '\t')) ++i;
    };
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < part.size() && std::isdigit(static_cast<unsigned char>(part[i]))) ++i;
        return part.substr(from, i - from);
    };
    const auto integer = [&](const std::string& text) {
        if (text.empty()) fail("a number expected");
        if (text.size() > 3) fail("the number " + text + " is not a coefficient of an operator");
        return std::stoi(text);
    };
    const auto letter = [&]() -> std::string {
        if (i >= part.size()) return "";
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(part[i])));
        if (c != 'x' && c != 'y' && c != 'z') return "";
        ++i;
        return std::string(1, c);
    };
    blanks();
    if (i == part.size()) fail("an empty coordinate");
    bool first = true;
    while (true) {
        blanks();
        if (i == part.size()) break;
        char sign = '+';
        if (part[i] == '+' || part[i] == '-') {
            sign = part[i++];
            blanks();
        } else if (!first) {
            fail("a sign expected between terms");
        }
        first = false;
        std::string term;
        if (std::string axis = letter(); !axis.empty()) {
            term = axis;
            blanks();
            if (i < part.size() && part[i] == '/') {
                ++i;
                term += "/" + std::to_string(integer(digits()));
            }
        } else if (i < part.size() &&
                   (std::isdigit(static_cast<unsigned char>(part[i])) || part[i] == '.')) {
            std::string whole = digits();
            if (i < part.size() && part[i] == '.') {
                ++i;
                const std::string fraction = digits();
                if (whole.size() > 3 || fraction.size() > 30 || whole.size() + fraction.size() == 0)
                    fail("the number " + whole + "." + fraction + " is not a translation");
                const double value = std::strtod((whole + "." + fraction).c_str(), nullptr);
                const long n = std::lround(value * 24);
                if (std::fabs(value - static_cast<double>(n) / 24) > 1e-3)
                    fail(whole + "." + fraction + " is not within 0.001 of a multiple of 1/24");
                const long g = std::gcd(n, 24L);
                term = n == 0 ? "0" : std::to_string(n / g) + "/" + std::to_string(24 / g);
            } else {
                term = std::to_string(integer(whole));
                blanks();
                if (i < part.size() && part[i] == '/') {
                    ++i;
                    blanks();
                    const int den = integer(digits());
                    if (den == 0) fail("a denominator of 0");
                    term += "/" + std::to_string(den);
                }
            }
            blanks();
            if (i < part.size() && part[i] == '*') {
                ++i;
                blanks();
                const std::string axis = letter();
                if (axis.empty()) fail("x, y or z expected after *");
                if (term.find('/') != std::string::npos) fail("a fraction of x, y or z");
                term += "*" + axis;
            } else if (std::string axis = letter(); !axis.empty()) {
                if (term.find('/') != std::string::npos) fail("a fraction of x, y or z");
                term += "*" + axis;
            }
        } else {
            fail("x, y, z or a number expected at " + quoted(part.substr(i)));
        }
        out += sign + term;
    }
    return out;
}

std::string checked_triplet(const std::string& triplet) {
    std::vector<std::string> parts{""};
    for (const char c : triplet) {
        if (c == ',')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts.size() != 3) throw std::invalid_argument("three coordinates expected");
    return checked_part(parts[0]) + "," + checked_part(parts[1]) + "," + checked_part(parts[2]);
}

} // namespace

Symmetry symmetry_from_hall(const std::string& hall, const std::string& where) {
    const std::string text = trimmed(hall);
    try {
        if (text.empty()) throw std::runtime_error("empty");
        gemmi::GroupOps ops = gemmi::symops_from_hall(text.c_str());
        return {ops, name_of(ops)};
    } catch (const std::exception&) {
        throw InputError(where, "a Hall symbol", quoted(hall));
    }
}

Symmetry symmetry_from_symbol(const std::string& text, const CellValues& cell,
                              const std::string& where) {
    const std::string symbol = trimmed(text);
    const std::string expected = "a space-group symbol (a Hermann-Mauguin name, a number from "
                                 "1 to 230, or hall: and a Hall symbol)";
    if (symbol.size() > 5 && std::equal(symbol.begin(), symbol.begin() + 5, "hall:",
                                        [](char a, char b) { return std::tolower(a) == b; }))
        return symmetry_from_hall(symbol.substr(5), where);
    const gemmi::SpaceGroup* sg = nullptr;
    if (!symbol.empty() && std::isdigit(static_cast<unsigned char>(symbol[0]))) {
        int number = 0;
        const auto [end, ec] =
            std::from_chars(symbol.data(), symbol.data() + symbol.size(), number);
        if (ec != std::errc() || end != symbol.data() + symbol.size() || number < 1 || number > 230)
            throw InputError(where, expected, quoted(text));
        sg = &gemmi::get_spacegroup_reference_setting(number);
    } else {
        sg = find_by_symbol(symbol);
        if (sg == nullptr) {
            std::string found = quoted(text);
            const std::vector<std::string> close = close_names(symbol);
            for (std::size_t i = 0; i < close.size(); ++i)
                found += (i == 0                  ? " (did you mean "
                          : i + 1 == close.size() ? " or "
                                                  : ", ") +
                         quoted(close[i]) + (i + 1 == close.size() ? "?)" : "");
            throw InputError(where, expected, found);
        }
    }
    // gemmi lists each rhombohedral group's hexagonal setting first and its
    // rhombohedral setting right after it. A setting is named by a suffix,
    // ":H", ":R", or a last letter H or R.
    const char last = static_cast<char>(std::toupper(static_cast<unsigned char>(symbol.back())));
    const bool has_suffix = symbol.find(':') != std::string::npos || last == 'H' || last == 'R';
    if (!has_suffix && sg->ext == 'H' && rhombohedral_axes(cell)) {
        const gemmi::SpaceGroup* next = sg + 1;
        if (next->number == sg->number && next->ext == 'R') sg = next;
    }
    return from_table(*sg);
}

Symmetry symmetry_from_operators(const std::vector<std::string>& triplets,
                                 const std::string& where) {
    // 48 rotations at most, each with its centring translations: more than
    // this many is no space group, and would make the check below slow.
    constexpr std::size_t most = 48 * 32;
    if (triplets.size() > most)
        throw InputError(where, "at most " + std::to_string(most) + " symmetry operators",
                         std::to_string(triplets.size()));
    std::vector<gemmi::Op> ops;
    for (const std::string& triplet : triplets) {
        try {
            ops.push_back(gemmi::parse_triplet(checked_triplet(triplet)).wrap());
        } catch (const std::exception& e) {
            throw InputError(where, "a symmetry operator such as -x,y+1/2,-z",
                             quoted(triplet) + " (" + e.what() + ")");
        }
    }
    const std::set<gemmi::Op> group(ops.begin(), ops.end());
    const std::string no_group = "symmetry operators that form a group";
    if (!group.count(gemmi::Op::identity()))
        throw InputError(where, no_group, "no identity x,y,z among them");
    for (const gemmi::Op& a : group)
        for (const gemmi::Op& b : group)
            if (!group.count(a * b))
                throw InputError(where, no_group,
                                 "the product of " + a.triplet() + " and " + b.triplet() + ", " +
                                     (a * b).triplet() + ", not among them");
    // gemmi takes the first pure translation as the null one: give it the
    // identity first.
    std::vector<gemmi::Op> ordered{gemmi::Op::identity()};
    for (const gemmi::Op& op : group)
        if (op != gemmi::Op::identity()) ordered.push_back(op);
    gemmi::GroupOps split = gemmi::split_centering_vectors(ordered);
    return {split, name_of(split)};
}

Crystal make_crystal(const CellValues& cell, Symmetry symmetry, const std::string& cell_where) {
    const char* names[6] = {"a", "b", "c", "alpha", "beta", "gamma"};
    for (int i = 0; i < 6; ++i) {
        const double v = cell[static_cast<std::size_t>(i)];
        const float as_read = static_cast<float>(v); // peakpos reads single precision
        const std::string found = names[i] + std::string(" = ") + number_text(v);
        if (!std::isfinite(v) || !std::isfinite(as_read))
            throw InputError(cell_where, "a finite number", found);
        if (i < 3 && !(as_read > 0)) throw InputError(cell_where, "a positive length", found);
        if (i >= 3 && !(v > 0 && v < 180))
            throw InputError(cell_where, "an angle between 0 and 180 degrees", found);
    }
    if (!(static_cast<float>(cell[0]) > 1.0f))
        throw InputError(
            cell_where,
            "a direct cell with a above 1 A (peakpos takes a <= 1 for a reciprocal cell)",
            "a = " + number_text(cell[0]));
    const double rad = 3.14159265358979323846 / 180;
    const double ca = std::cos(cell[3] * rad), cb = std::cos(cell[4] * rad),
                 cg = std::cos(cell[5] * rad);
    if (!(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg > 1e-12))
        throw InputError(cell_where, "cell angles that span a volume",
                         "alpha, beta, gamma = " + number_text(cell[3]) + ", " +
                             number_text(cell[4]) + ", " + number_text(cell[5]));
    Crystal crystal{cell, gemmi::UnitCell(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]),
                    std::move(symmetry)};
    const double longest = std::max({cell[0], cell[1], cell[2]});
    if (!crystal.unit_cell.is_compatible_with_groupops(crystal.symmetry.ops,
                                                       1e-3 * longest * longest)) {
        const std::string group =
            crystal.symmetry.symbol.empty() ? "the space group" : crystal.symmetry.symbol;
        throw InputError(cell_where, "a cell with the symmetry of " + group,
                         "a b c alpha beta gamma = " + number_text(cell[0]) + " " +
                             number_text(cell[1]) + " " + number_text(cell[2]) + " " +
                             number_text(cell[3]) + " " + number_text(cell[4]) + " " +
                             number_text(cell[5]));
    }
    return crystal;
}

} // namespace peakhkl
