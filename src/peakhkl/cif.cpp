#include "peakhkl/cif.hpp"

#include "peakhkl/error.hpp"

#include <gemmi/cif.hpp>
#include <gemmi/numb.hpp>

#include <array>
#include <cmath>

namespace peakhkl {

namespace {

namespace cif = gemmi::cif;

// The tags of one quantity, in the order they are looked for: the current
// dictionary's name first, then the older one.
struct Value {
    std::string tag;
    std::string text; // without quotes
    int line = 0;
};

// The first of tags that the block gives a value to (neither ? nor .).
std::optional<Value> find_value(cif::Block& block, std::initializer_list<const char*> tags) {
    for (const char* tag : tags) {
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

std::string block_list(const cif::Document& doc) {
    std::string names;
    for (const cif::Block& b : doc.blocks) names += (names.empty() ? "" : " ") + b.name;
    return names;
}

cif::Document read_document(const std::string& path) {
    try {
        return cif::read_file(path);
    } catch (const tao::pegtl::parse_error& e) {
        const auto& positions = e.positions();
        const std::string line = positions.empty() ? "" : ":" + std::to_string(positions[0].line);
        throw InputError(path + line, "CIF syntax", std::string(e.message()));
    } catch (const std::exception& e) {
        throw InputError(path, "a CIF file that can be read", e.what());
    }
}

// Symmetry operators listed in a loop, or nothing.
std::optional<Symmetry> listed_operators(cif::Block& block, const std::string& path) {
    for (const char* tag : {"_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz"}) {
        cif::Column column = block.find_values(tag);
        if (!column) continue;
        std::vector<std::string> triplets;
        for (int i = 0; i < column.length(); ++i) triplets.push_back(column.str(i));
        return symmetry_from_operators(
            triplets, path + ":" + std::to_string(column.item()->line_number) + ": " + tag);
    }
    return std::nullopt;
}

// Text fit for the deck's name line: printable ASCII only.
bool printable(const std::string& text) {
    for (const char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

} // namespace

CifCrystal read_cif(const std::string& path, const std::string& block_name) {
    cif::Document doc = read_document(path);
    if (doc.blocks.empty()) throw InputError(path, "a data block (data_NAME)", "none");
    cif::Block* block = nullptr;
    if (block_name.empty()) {
        if (doc.blocks.size() > 1)
            throw InputError(path, "--block NAME to choose one of several data blocks",
                             "the blocks " + block_list(doc));
        block = &doc.blocks[0];
    } else {
        block = doc.find_block(block_name);
        if (block == nullptr)
            throw InputError(path, "a data block named " + quoted(block_name),
                             "the blocks " + block_list(doc));
    }

    CellValues cell{};
    const std::array<const char*, 6> axes{"length_a",    "length_b",   "length_c",
                                          "angle_alpha", "angle_beta", "angle_gamma"};
    int cell_line = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::string tag = std::string("_cell_") + axes[i];
        const auto value = find_value(*block, {tag.c_str()});
        if (!value)
            throw InputError(path + ": data_" + block->name + ": " + tag, "a value", "none");
        cell[i] = cif::as_number(value->text);
        if (std::isnan(cell[i]))
            throw InputError(at(path, *value), "a number", quoted(value->text));
        if (i == 0) cell_line = value->line;
    }

    std::optional<Symmetry> symmetry = listed_operators(*block, path);
    const auto hm =
        find_value(*block, {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M"});
    if (!symmetry) {
        if (const auto hall =
                find_value(*block, {"_space_group_name_Hall", "_symmetry_space_group_name_Hall"}))
            symmetry = symmetry_from_hall(hall->text, at(path, *hall));
        else if (hm)
            symmetry = symmetry_from_symbol(hm->text, cell, at(path, *hm));
        else if (const auto number =
                     find_value(*block, {"_space_group_IT_number", "_symmetry_Int_Tables_number"}))
            symmetry = symmetry_from_symbol(number->text, cell, at(path, *number));
        else
            throw InputError(path + ": data_" + block->name,
                             "the space group (_space_group_symop_operation_xyz, "
                             "_space_group_name_Hall, _space_group_name_H-M_alt or "
                             "_space_group_IT_number)",
                             "none");
    }
    // Operators in a setting without a tabulated name keep the name the
    // file gives them.
    if (symmetry->symbol.empty() && hm && printable(hm->text)) symmetry->symbol = hm->text;
    const std::string cell_where = path + ":" + std::to_string(cell_line) + ": _cell_*";
    Crystal crystal = make_crystal(cell, std::move(*symmetry), cell_where);
    return {std::move(crystal), block->name, read_atoms(*block, path)};
}

} // namespace peakhkl
