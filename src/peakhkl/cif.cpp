#include "peakhkl/cif.hpp"

#include "peakhkl/error.hpp"

#include <gemmi/elem.hpp>
#include <gemmi/numb.hpp>

#include <algorithm>
#include <array>
#include <cctype>
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
const std::array<const char*, 4> name_tags{"_chemical.name_mineral", "_chemical.name_common",
                                           "_chemical_formula.sum", "_chemical.name_systematic"};

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
    for (const char* dotted : number_tags) {
        const std::array<const char*, 1> one{dotted};
        if (const auto number = find_value(block, one)) {
            const std::string where = at(path, *number);
            sources.push_back({where, number->tag, [text = number->text, where, cell] {
                                   return symmetry_from_symbol(text, cell, where);
                               }});
        }
    }
    return sources;
}

// The International Tables number of the group the operations make (its
// space-group type), 0 for a setting gemmi does not tabulate.
int group_number(const Symmetry& symmetry) {
    const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_ops(symmetry.ops);
    return sg ? sg->number : 0;
}

// "P 1 21/c 1 (14)", for a message.
std::string group_text(const Symmetry& symmetry, int number) {
    return (symmetry.symbol.empty() ? "space group" : symmetry.symbol) + " (" +
           std::to_string(number) + ")";
}

// Text fit for the deck's name line: printable ASCII only.
bool printable(const std::string& text) {
    for (const char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// Pauling's electronegativity of the elements H to Cm (0 for the noble
// gases without one).
constexpr std::array<double, 96> pauling{
    2.20, 0,    0.98, 1.57, 2.04, 2.55, 3.04, 3.44, 3.98, 0,    0.93, 1.31, 1.61, 1.90, 2.19, 2.58,
    3.16, 0,    0.82, 1.00, 1.36, 1.54, 1.63, 1.66, 1.55, 1.83, 1.88, 1.91, 1.90, 1.65, 1.81, 2.01,
    2.18, 2.55, 2.96, 3.00, 0.82, 0.95, 1.22, 1.33, 1.6,  2.16, 1.9,  2.2,  2.28, 2.20, 1.93, 1.69,
    1.78, 1.96, 2.05, 2.1,  2.66, 2.6,  0.79, 0.89, 1.10, 1.12, 1.13, 1.14, 1.13, 1.17, 1.2,  1.2,
    1.1,  1.22, 1.23, 1.24, 1.25, 1.1,  1.27, 1.3,  1.5,  2.36, 1.9,  2.2,  2.20, 2.28, 2.54, 2.00,
    1.62, 2.33, 2.02, 2.0,  2.2,  2.2,  0.7,  0.9,  1.1,  1.3,  1.5,  1.38, 1.36, 1.28, 1.3,  1.3};

// A formula as chemists write it: the elements in the order of their
// electronegativity, the most electropositive first (IUPAC's rule for
// binary compounds: ZnO, NaCl, SiO2, CaCO3; Hill's order, C, H and the
// others alphabetically, with carbon and hydrogen: C7H6O2), counts of 1
// dropped, no blanks. A formula with a word that is not an element and a count is
// kept as written, without its blanks.
std::string chemists_formula(const std::string& text) {
    struct Part {
        std::string element, count;
        double order;
    };
    std::vector<Part> parts;
    std::string plain = text;
    plain.erase(std::remove(plain.begin(), plain.end(), ' '), plain.end());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        const std::size_t end = std::min(text.find(' ', i), text.size());
        const std::string word = text.substr(i, end - i);
        i = end;
        std::size_t letters = 0;
        while (letters < word.size() && std::isalpha(static_cast<unsigned char>(word[letters])))
            ++letters;
        const std::string element = word.substr(0, letters), count = word.substr(letters);
        const gemmi::Element el(element.c_str());
        const bool number =
            count.empty() || (count.find_first_not_of("0123456789.") == std::string::npos &&
                              std::isdigit(static_cast<unsigned char>(count[0])));
        if (letters == 0 || el == gemmi::El::X || el.name() != element || !number) return plain;
        const auto z = static_cast<std::size_t>(el.atomic_number());
        const double chi = z <= pauling.size() ? pauling[z - 1] : 1.3;
        parts.push_back({element, count.empty() || std::stod(count) == 1 ? "" : count, chi});
    }
    const auto has = [&](const char* el) {
        return std::any_of(parts.begin(), parts.end(),
                           [&](const Part& p) { return p.element == el; });
    };
    const bool organic = has("C") && has("H");
    const auto hill = [](const Part& p) {
        return p.element == "C" ? "0" : p.element == "H" ? "1" : "2" + p.element;
    };
    std::stable_sort(parts.begin(), parts.end(), [&](const Part& a, const Part& b) {
        return organic ? hill(a) < hill(b) : a.order < b.order;
    });
    std::string formula;
    for (const Part& p : parts) formula += p.element + p.count;
    return formula;
}

// The words of text on one line, one blank between each two (a text
// field's name spans lines).
std::string one_line(const std::string& text) {
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!std::isspace(static_cast<unsigned char>(text[i])))
            line += text[i];
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    if (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
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
    const auto has_cell = [](const cif::Block& block) {
        for (const cif::Item& item : block.items)
            if (item.type == cif::ItemType::Pair &&
                gemmi::to_lower(item.pair[0]) == underscored(cell_tags[0]))
                return true;
        return false;
    };
    return read_block(path, block_name, read_by_peakhkl, warnings, has_cell, "a cell");
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
            result.warnings.push_back(head + "names " + group_text(*read[i], other) +
                                      ", another "
                                      "space-group type than " +
                                      group_text(symmetry, number) + " of " +
                                      sources[*chosen].where + "; the space group is taken from " +
                                      used);
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
    result.atoms = read_atoms(block, path, result.crystal);
    result.name = block.name;
    if (anonymous_block(block.name) ||
        (!block.name.empty() && std::isdigit(static_cast<unsigned char>(block.name[0]))))
        if (const auto name = find_value(block, name_tags)) {
            std::string text = name->text;
            if (name->tag == underscored(name_tags[2])) text = chemists_formula(text);
            text = one_line(text);
            if (!text.empty()) {
                result.name = text;
                result.name_from = name->tag;
            }
        }
    return result;
}

} // namespace peakhkl
