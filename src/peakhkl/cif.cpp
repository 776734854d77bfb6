#include "peakhkl/cif.hpp"

#include "peakhkl/error.hpp"

#include <gemmi/numb.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>

namespace peakhkl {

namespace {

namespace cif = gemmi::cif;

// Tags are written here in their dotted (DDLm) form; the block holds them in
// the underscore form, _cell.length_a as _cell_length_a.
std::string underscored(const std::string& dotted) {
    std::string tag = dotted;
    if (const auto dot = tag.find('.'); dot != std::string::npos) tag[dot] = '_';
    return tag;
}

// "_cell_length_a (or _cell.length_a)", for a message about a missing tag.
std::string both_forms(const std::string& dotted) {
    const std::string tag = underscored(dotted);
    return tag == dotted ? tag : tag + " (or " + dotted + ")";
}

const std::array<const char*, 6> cell_tags{"_cell.length_a",   "_cell.length_b",
                                           "_cell.length_c",   "_cell.angle_alpha",
                                           "_cell.angle_beta", "_cell.angle_gamma"};
const std::array<const char*, 2> operator_tags{"_space_group_symop.operation_xyz",
                                               "_symmetry_equiv.pos_as_xyz"};
const std::array<const char*, 2> hall_tags{"_space_group.name_Hall",
                                           "_symmetry.space_group_name_Hall"};
const std::array<const char*, 5> hm_tags{"_space_group.name_H-M_alt",
                                         "_symmetry.space_group_name_H-M", "_space_group.name_H-M",
                                         "_space_group.name_H-M_full", "_space_group.name_H-M_ref"};
const std::array<const char*, 2> number_tags{"_space_group.IT_number",
                                             "_symmetry.Int_Tables_number"};
const std::array<const char*, 3> name_tags{"_chemical.name_mineral", "_chemical.name_common",
                                           "_chemical_formula.sum"};

// The tags whose value peakhkl takes, lower case: a second value of one of
// them is a refusal, not a warning. The atom sites are read for intensities.
bool read_by_peakhkl(const std::string& lower_tag) {
    if (lower_tag.rfind("_atom_site_", 0) == 0 || lower_tag.rfind("_atom_type_", 0) == 0)
        return true;
    static const std::vector<std::string> tags = [] {
        std::vector<std::string> all;
        const auto add = [&](const auto& list) {
            for (const char* t : list) all.push_back(gemmi::to_lower(underscored(t)));
        };
        add(cell_tags);
        add(operator_tags);
        add(hall_tags);
        add(hm_tags);
        add(number_tags);
        add(name_tags);
        return all;
    }();
    return std::find(tags.begin(), tags.end(), lower_tag) != tags.end();
}

struct Value {
    std::string tag;
    std::string text; // without quotes
    int line = 0;
};

// The value of the first of tags that the block gives one to (neither ?
// nor .).
template <std::size_t N>
std::optional<Value> find_value(cif::Block& block, const std::array<const char*, N>& tags) {
    for (const char* dotted : tags) {
        const std::string tag = underscored(dotted);
        cif::Column column = block.find_values(tag);
        if (!column || column.length() < 1) continue;
        const std::string& raw = column[0];
        if (cif::is_null(raw)) continue;
        return Value{tag, cif::as_string(raw), column.item()->line_number};
    }
    return std::nullopt;
}

std::string at(const std::string& path, const Value& value) {
    return path + ":" + std::to_string(value.line) + ": " + value.tag;
}

// One place the block may name its space group, in the order of trust.
struct Source {
    std::string where; // "FILE:LINE: TAG"
    std::string tag;
    std::function<Symmetry()> read;
};

std::vector<Source> symmetry_sources(cif::Block& block, const std::string& path,
                                     const CellValues& cell) {
    std::vector<Source> sources;
    for (const char* dotted : operator_tags) {
        const std::string tag = underscored(dotted);
        cif::Column column = block.find_values(tag);
        if (!column) continue;
        std::vector<std::string> triplets;
        for (int i = 0; i < column.length(); ++i)
            if (!cif::is_null(column[i])) triplets.push_back(column.str(i));
        if (triplets.empty()) continue;
        const std::string where =
            path + ":" + std::to_string(column.item()->line_number) + ": " + tag;
        sources.push_back(
            {where, tag, [triplets, where] { return symmetry_from_operators(triplets, where); }});
        break;
    }
    if (const auto hall = find_value(block, hall_tags)) {
        const std::string where = at(path, *hall);
        sources.push_back({where, hall->tag,
                           [text = hall->text, where] { return symmetry_from_hall(text, where); }});
    }
    for (const char* dotted : hm_tags) {
        const std::array<const char*, 1> one{dotted};
        if (const auto hm = find_value(block, one)) {
            const std::string where = at(path, *hm);
            sources.push_back({where, hm->tag, [text = hm->text, where, cell] {
                                   return symmetry_from_symbol(text, cell, where);
                               }});
        }
    }
    if (const auto number = find_value(block, number_tags)) {
        const std::string where = at(path, *number);
        sources.push_back({where, number->tag, [text = number->text, where, cell] {
                               return symmetry_from_symbol(text, cell, where);
                           }});
    }
    return sources;
}

// The International Tables number of the group the operations make, 0 for
// a setting gemmi does not tabulate.
int group_number(const Symmetry& symmetry) {
    const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_ops(symmetry.ops);
    return sg ? sg->number : 0;
}

// Text fit for the deck's name line: printable ASCII only.
bool printable(const std::string& text) {
    for (const char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// A block name that tells a user nothing of the phase: global, I (a
// structure's number in a paper), a bare number, a database code.
bool anonymous_block(const std::string& name) {
    const std::string lower = gemmi::to_lower(name);
    if (lower == "global" || lower.find_first_not_of("ivx") == std::string::npos) return true;
    std::string rest = lower;
    for (const char* code : {"amcsd", "icsd", "ccdc", "csd", "cod", "mp", "pdf"})
        if (const auto pos = rest.find(code); pos != std::string::npos)
            rest.erase(pos, std::strlen(code));
    return rest.find_first_of("0123456789") != std::string::npos &&
           rest.find_first_not_of("0123456789-_.#") == std::string::npos;
}

} // namespace

gemmi::cif::Block read_cif_block(const std::string& path, const std::string& block_name,
                                 std::vector<std::string>& warnings) {
    return read_block(path, block_name, read_by_peakhkl, warnings);
}

CifCrystal read_cif(const std::string& path, const std::string& block_name) {
    CifCrystal result;
    cif::Block block = read_cif_block(path, block_name, result.warnings);
    const std::string block_where = path + ": data_" + block.name;

    CellValues cell{};
    int cell_line = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::array<const char*, 1> tag{cell_tags[i]};
        const auto value = find_value(block, tag);
        if (!value)
            throw InputError(block_where, "a value for " + both_forms(cell_tags[i]), "none");
        cell[i] = cif::as_number(value->text);
        if (std::isnan(cell[i]))
            throw InputError(at(path, *value), "a number", quoted(value->text));
        if (i == 0) cell_line = value->line;
    }

    // The most trusted source that can be read; the others are warned about
    // when they cannot be read or name another group.
    const std::vector<Source> sources = symmetry_sources(block, path, cell);
    if (sources.empty())
        throw InputError(block_where,
                         "the space group (" + both_forms(operator_tags[0]) + ", " +
                             both_forms(hall_tags[0]) + ", " + both_forms(hm_tags[0]) + " or " +
                             both_forms(number_tags[0]) + ")",
                         "none");
    std::vector<std::optional<Symmetry>> read(sources.size());
    std::vector<std::optional<InputError>> errors(sources.size());
    std::optional<std::size_t> chosen;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        try {
            read[i] = sources[i].read();
            if (!chosen) chosen = i;
        } catch (const InputError& e) {
            errors[i] = e;
        }
    }
    if (!chosen) throw *errors[0];
    Symmetry symmetry = std::move(*read[*chosen]);
    const std::string used = sources[*chosen].tag;
    const int number = group_number(symmetry);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (i == *chosen) continue;
        const std::string head = sources[i].where + ": warning: ";
        if (!read[i]) {
            result.warnings.push_back(head + "expected " + errors[i]->expected + ", found " +
                                      errors[i]->found + "; " + (i < *chosen ? "skipped, " : "") +
                                      "the space group is " + "taken from " + used);
        } else if (const int other = group_number(*read[i]);
                   i > *chosen && number != 0 && other != 0 && other != number) {
            result.warnings.push_back(head + "names space group " + std::to_string(other) + ", " +
                                      used + " gives " + std::to_string(number) +
                                      "; the space group is taken from " + used);
        }
    }
    // Operators in a setting without a tabulated name keep the name the
    // file gives them.
    if (symmetry.symbol.empty())
        if (const auto hm = find_value(block, hm_tags); hm && printable(hm->text))
            symmetry.symbol = hm->text;

    const std::string cell_where = path + ":" + std::to_string(cell_line) + ": _cell_*";
    result.crystal = make_crystal(cell, std::move(symmetry), cell_where);
    result.block = block.name;
    result.atoms = read_atoms(block, path);
    result.name = block.name;
    if (anonymous_block(block.name))
        if (const auto name = find_value(block, name_tags)) {
            std::string text = name->text;
            if (name->tag == underscored(name_tags[2]))
                text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
            if (!text.empty()) {
                result.name = text;
                result.name_from = name->tag;
            }
        }
    return result;
}

} // namespace peakhkl
