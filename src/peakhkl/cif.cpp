#include "peakhkl/cif.hpp"

#include "peakhkl/error.hpp"

#include <gemmi/cif.hpp>
#include <gemmi/numb.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

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

std::string at_line(const std::string& path, int line) {
    return path + ":" + std::to_string(line);
}

// The file's bytes; a directory or a file that cannot be read is refused.
std::string file_bytes(const std::string& path) {
    const std::string expected = "a CIF file that can be read";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw InputError(path, expected, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw InputError(path, expected,
                         "a directory (" + std::string(std::strerror(EISDIR)) + ")");
    }
    std::string bytes;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int read_errno = errno;
            ::close(fd);
            throw InputError(path, expected, std::strerror(read_errno));
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

int line_of(const std::string& text, std::size_t pos) {
    return 1 +
           static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(pos), '\n'));
}

bool starts_with_nocase(const std::string& text, std::size_t pos, const char* word) {
    for (std::size_t k = 0; word[k] != '\0'; ++k)
        if (pos + k >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[pos + k])) != word[k])
            return false;
    return true;
}

// Lines before the first data_ (or global_) line that are neither blank nor
// comments are blanked, the line count kept, with a warning. Text without a
// data_ line is refused.
void skip_text_before_data(std::string& text, const std::string& path,
                           std::vector<std::string>& warnings) {
    std::size_t junk = std::string::npos;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::size_t first = start;
        while (first < end && (text[first] == ' ' || text[first] == '\t' || text[first] == '\r'))
            ++first;
        if (starts_with_nocase(text, first, "data_") ||
            starts_with_nocase(text, first, "global_")) {
            if (junk == std::string::npos) return;
            for (std::size_t k = 0; k < start; ++k)
                if (text[k] != '\n') text[k] = ' ';
            warnings.push_back(at_line(path, line_of(text, junk)) +
                               ": warning: text before the first data_ line, skipped");
            return;
        }
        if (first < end && text[first] != '#' && junk == std::string::npos) junk = start;
        start = end + 1;
    }
    throw InputError(path, "a data block (data_NAME)", "none");
}

// CIF 2.0's lists [...], tables {...} and triple-quoted strings, which
// gemmi 0.5.7 does not parse, as CIF 1.1 values on the same lines: a list
// or a table as the word [list] or {table}, a string on one line quoted,
// one over several lines as the word [text]. Line breaks are kept, so that
// the lines of every later value stay as in the file. One left open is a
// syntax error.
std::string cif1_values(const std::string& text, const std::string& path) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const auto at_token_start = [&] {
        return i == 0 || std::isspace(static_cast<unsigned char>(text[i - 1]));
    };
    // The end of the quoted string that starts at i (past its closing quote).
    const auto quoted_end = [&](std::size_t from) {
        const char q = text[from];
        if (text.compare(from, 3, std::string(3, q)) == 0) {
            const std::size_t close = text.find(std::string(3, q), from + 3);
            if (close == std::string::npos)
                throw InputError(at_line(path, line_of(text, from)), "CIF syntax",
                                 "a triple-quoted string that is not closed");
            return close + 3;
        }
        std::size_t close = text.find_first_of(std::string(1, q) + "\n", from + 1);
        return close == std::string::npos || text[close] == '\n' ? close : close + 1;
    };
    const auto newlines = [&](std::size_t from, std::size_t to) {
        return std::string(
            static_cast<std::size_t>(std::count(text.begin() + static_cast<long>(from),
                                                text.begin() + static_cast<long>(to), '\n')),
            '\n');
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == ';' && (i == 0 || text[i - 1] == '\n')) { // a text field, as it is
            std::size_t close = text.find("\n;", i + 1);
            close = close == std::string::npos ? text.size() : close + 2;
            out.append(text, i, close - i);
            i = close;
        } else if (c == '#' && at_token_start()) {
            const std::size_t end = std::min(text.find('\n', i), text.size());
            out.append(text, i, end - i);
            i = end;
        } else if ((c == '\'' || c == '"') && at_token_start()) {
            const std::size_t end = std::min(quoted_end(i), text.size());
            if (text.compare(i, 3, std::string(3, c)) == 0) {
                const std::string inner = text.substr(i + 3, end - i - 6);
                const bool one_line = inner.find('\n') == std::string::npos;
                const auto fits = [&](char q) { // as a CIF 1.1 string quoted with q
                    return inner.find(std::string(1, q) + " ") == std::string::npos &&
                           (inner.empty() || inner.back() != q);
                };
                if (one_line && fits('\''))
                    out += "'" + inner + "'";
                else if (one_line && fits('"'))
                    out += "\"" + inner + "\"";
                else
                    out += "[text]" + newlines(i, end);
            } else {
                out.append(text, i, end - i);
            }
            i = end;
        } else if ((c == '[' || c == '{') && at_token_start()) {
            std::size_t depth = 0, k = i;
            while (k < text.size()) {
                const char d = text[k];
                if (d == '\'' || d == '"') {
                    k = std::min(quoted_end(k), text.size());
                    continue;
                }
                if (d == '[' || d == '{') ++depth;
                if ((d == ']' || d == '}') && --depth == 0) {
                    ++k;
                    break;
                }
                ++k;
            }
            if (depth != 0)
                throw InputError(at_line(path, line_of(text, i)), "CIF syntax",
                                 c == '[' ? "a list that is not closed"
                                          : "a table that is not closed");
            out += (c == '[' ? "[list]" : "{table}") + newlines(i, k);
            i = k;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

cif::Document parse(const std::string& path, std::vector<std::string>& warnings) {
    std::string text = file_bytes(path);
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        throw InputError(at_line(path, line_of(text, nul)), "CIF text", "a NUL byte");
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3);
        warnings.push_back(at_line(path, 1) + ": warning: a UTF-8 byte-order mark, skipped");
    }
    if (text.rfind("#\\#CIF_2.0", 0) == 0) text = cif1_values(text, path);
    skip_text_before_data(text, path, warnings);
    cif::Document doc;
    doc.source = path;
    try {
        tao::pegtl::memory_input<> in(text, path);
        cif::parse_input(doc, in);
    } catch (const tao::pegtl::parse_error& e) {
        const auto& positions = e.positions();
        const std::string line = positions.empty() ? "" : ":" + std::to_string(positions[0].line);
        throw InputError(path + line, "CIF syntax", std::string(e.message()));
    } catch (const std::exception& e) {
        throw InputError(path, "a CIF file that can be read", e.what());
    }
    underscore_tags(doc);
    return doc;
}

// At most 20 block names, and how many more.
std::string block_list(const cif::Document& doc) {
    std::string names;
    const std::size_t shown = std::min<std::size_t>(doc.blocks.size(), 20);
    for (std::size_t i = 0; i < shown; ++i) names += (i == 0 ? "" : " ") + doc.blocks[i].name;
    if (doc.blocks.size() > shown)
        names += " and " + std::to_string(doc.blocks.size() - shown) + " more";
    return names;
}

// A tag given twice, or without a value: read past with a warning unless
// peakhkl reads it. Of a tag peakhkl reads, a value given twice, or once
// beside an empty one (mineral databases write _chemical_formula_sum a
// second time, empty), is read with a warning; two values are refused.
void check_tags(cif::Block& block, const std::string& path, std::vector<std::string>& warnings) {
    struct Seen {
        cif::Item* item;
        int line;
        std::string* value; // null in a loop
    };
    const auto empty = [](const std::string* v) { return v && cif::as_string(*v).empty(); };
    std::unordered_map<std::string, Seen> seen;
    const auto look = [&](cif::Item& item, const std::string& tag, std::string* value) {
        const std::string lower = gemmi::to_lower(tag);
        const int line = item.line_number;
        const auto [it, first] = seen.emplace(lower, Seen{&item, line, value});
        if (first) return;
        Seen& before = it->second;
        const std::string head = at_line(path, line) + ": warning: " + tag +
                                 " given again (first at line " + std::to_string(before.line) + ")";
        if (!read_by_peakhkl(lower)) {
            warnings.push_back(head + "; peakhkl does not read it");
        } else if (value && before.value &&
                   cif::as_string(*value) == cif::as_string(*before.value)) {
            warnings.push_back(head + " with the same value");
        } else if (empty(value)) {
            warnings.push_back(head + " without a value; the value at line " +
                               std::to_string(before.line) + " is read");
            item.erase();
        } else if (empty(before.value)) {
            warnings.push_back(head + "; the first without a value, this one is read");
            before.item->erase();
            before = Seen{&item, line, value};
        } else {
            const auto shown = [](const std::string* v) {
                return v ? quoted(cif::as_string(*v)) : std::string("a loop");
            };
            throw InputError(at_line(path, line) + ": " + tag, "one value",
                             shown(before.value) + " at line " + std::to_string(before.line) +
                                 " and " + shown(value) + " at line " + std::to_string(line));
        }
    };
    for (cif::Item& item : block.items) {
        if (item.type == cif::ItemType::Pair) {
            if (item.pair[1].empty()) {
                if (read_by_peakhkl(gemmi::to_lower(item.pair[0])))
                    throw InputError(at_line(path, item.line_number) + ": " + item.pair[0],
                                     "a value", "none");
                warnings.push_back(at_line(path, item.line_number) + ": warning: " + item.pair[0] +
                                   " has no value; peakhkl does not read it");
                item.pair[1] = "?";
            }
            look(item, item.pair[0], &item.pair[1]);
        } else if (item.type == cif::ItemType::Loop) {
            for (const std::string& tag : item.loop.tags) look(item, tag, nullptr);
        }
    }
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
        const std::string where = at_line(path, column.item()->line_number) + ": " + tag;
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

void underscore_tags(gemmi::cif::Document& doc) {
    // A DDLm tag names its category before the dot: _cell.length_a is _cell_length_a.
    const auto rewrite = [](std::string& tag) {
        if (const auto dot = tag.find('.'); dot != std::string::npos) tag[dot] = '_';
    };
    for (cif::Block& block : doc.blocks)
        for (cif::Item& item : block.items) {
            if (item.type == cif::ItemType::Pair) rewrite(item.pair[0]);
            if (item.type == cif::ItemType::Loop)
                for (std::string& tag : item.loop.tags) rewrite(tag);
        }
}

gemmi::cif::Block read_cif_block(const std::string& path, const std::string& block_name,
                                 std::vector<std::string>& warnings) {
    cif::Document doc = parse(path, warnings);
    if (doc.blocks.empty()) throw InputError(path, "a data block (data_NAME)", "none");
    std::size_t index = 0;
    if (block_name.empty()) {
        if (doc.blocks.size() > 1)
            throw InputError(path, "--block NAME to choose one of several data blocks",
                             "the blocks " + block_list(doc));
    } else {
        const std::string wanted = gemmi::to_lower(block_name);
        std::size_t count = 0;
        for (std::size_t i = 0; i < doc.blocks.size(); ++i)
            if (gemmi::to_lower(doc.blocks[i].name) == wanted && count++ == 0) index = i;
        if (count == 0)
            throw InputError(path, "a data block named " + quoted(block_name),
                             "the blocks " + block_list(doc));
        if (count > 1)
            throw InputError(path, "one data block named " + quoted(block_name),
                             std::to_string(count));
    }
    cif::Block block = std::move(doc.blocks[index]);
    check_tags(block, path, warnings);
    return block;
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
