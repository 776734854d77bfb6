#include "peakhkl/symbol.hpp"

#include <algorithm>
#include <cctype>
#include <map>

namespace peakhkl {

namespace {

// The text with the digits papers print as plain digits: the subscripts
// U+2080 to U+2089 ("2\u2081" is "21") and the full-width U+FF10 to U+FF19.
std::string plain_digits(const std::string& text) {
    std::string s;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = [&](std::size_t k) {
            return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
        };
        if (c == 0xE2 && next(1) == 0x82 && next(2) >= 0x80 && next(2) <= 0x89) {
            s += static_cast<char>('0' + (next(2) - 0x80));
            i += 2;
        } else if (c == 0xEF && next(1) == 0xBC && next(2) >= 0x90 && next(2) <= 0x99) {
            s += static_cast<char>('0' + (next(2) - 0x90));
            i += 2;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s;
}

// Whether every character of a compact symbol is one a symbol is written
// with: nothing is left unread.
bool all_read(const std::string& compacted) {
    return std::all_of(compacted.begin(), compacted.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '/' || c == ':';
    });
}

// The symbol with the bar as a leading minus, subscripts as plain digits and
// no blanks: "P2(1)/c" and "P 2_1/c" are "P21/c", "3\u0305" is "-3".
std::string compact(const std::string& text) {
    std::string s;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = [&](std::size_t k) {
            return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
        };
        if (c == 0xE2 && next(1) == 0x88 && next(2) == 0x92) { // U+2212 minus
            s += '-';
            i += 2;
        } else if (c == 0xCC && next(1) == 0x85 && !s.empty() &&
                   std::isdigit(static_cast<unsigned char>(s.back()))) {
            s.insert(s.size() - 1, 1, '-'); // U+0305 combining overline after the digit
            i += 1;
        } else if (c == '_' && std::isdigit(next(1))) {
            // "2_1": the subscript follows
        } else if (c == '_' && next(1) == '{' && std::isdigit(next(2)) && next(3) == '}') {
            s += static_cast<char>(next(2));
            i += 3;
        } else if (c == '(' && std::isdigit(next(1)) && next(2) == ')' && !s.empty() &&
                   std::isdigit(static_cast<unsigned char>(s.back()))) {
            s += static_cast<char>(next(1));
            i += 2;
        } else if (!std::isspace(c)) {
            s += static_cast<char>(c);
        }
    }
    return s;
}

// The setting a trailing letter names, as gemmi writes it after a colon.
char setting_of(char letter, char lattice) {
    switch (std::toupper(static_cast<unsigned char>(letter))) {
    case 'H':
    case 'R':
        return std::toupper(static_cast<unsigned char>(lattice)) == 'R'
                   ? static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))
                   : 0;
    case 'S':
        return '1';
    case 'Z':
        return '2';
    default:
        return 0;
    }
}

// "Fm3m" is "Fm-3m": before 1983 the bar of a cubic group's 3 was left out
// where a mirror or glide precedes it.
std::string with_cubic_bar(const std::string& s) {
    for (std::size_t i = 2; i < s.size(); ++i)
        if (s[i] == '3' && std::isalpha(static_cast<unsigned char>(s[i - 1])))
            return s.substr(0, i) + "-" + s.substr(i);
    return s;
}

std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "P 4/n m m (origin choice 2)" is "P 4/n m m:2".
std::string with_origin_suffix(const std::string& text) {
    const std::string lowered = lower(text);
    const auto at = lowered.find("origin choice");
    if (at == std::string::npos) return text;
    const auto digit = lowered.find_first_not_of(" \t", at + 13);
    if (digit == std::string::npos || (lowered[digit] != '1' && lowered[digit] != '2')) return text;
    const auto open = lowered.rfind('(', at);
    const std::size_t from =
        open != std::string::npos && lowered.find_first_not_of(" \t", open + 1) == at ? open : at;
    std::size_t to = digit + 1;
    if (open == from) {
        to = lowered.find_first_not_of(" \t", to);
        if (to == std::string::npos || lowered[to] != ')') return text;
        ++to;
    }
    if (lowered.find_first_not_of(" \t", to) != std::string::npos) return text;
    return text.substr(0, from) + ":" + lowered[digit];
}

// The short symbol of a full one: each "2/m" of the directions after the
// first is its "m" ("P 4/m 2/m 2/m" is "P 4/m m m"); with every_direction,
// the first's too ("P 21/n 21/m 21/a" is "P n m a", "F 4/m -3 2/m" is
// "F m -3 m").
std::string short_symbol(const std::string& text, bool every_direction) {
    std::string s;
    std::size_t word = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (std::isspace(static_cast<unsigned char>(text[i]))) {
            s += text[i++];
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
        std::string token = text.substr(i, end - i);
        const auto slash = token.find('/');
        // Only a rotation or a screw (2, 21, 4, 42, -3 ...) over a mirror or a
        // glide is shortened.
        const bool axis =
            slash != std::string::npos && slash > 0 &&
            token.find_first_not_of("-0123456789") == slash && slash + 1 < token.size() &&
            std::all_of(token.begin() + static_cast<long>(slash) + 1, token.end(),
                        [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
        if (word >= (every_direction ? 1u : 2u) && axis) token = token.substr(slash + 1);
        s += token;
        ++word;
        i = end;
    }
    return s;
}

const gemmi::SpaceGroup* find_spelt(const std::string& base) {
    if (base.empty()) return nullptr;
    for (const std::string& s : {base, with_cubic_bar(base)}) {
        if (const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_name(s)) return sg;
        if (s.size() > 2 && s.find(':') == std::string::npos)
            if (const char setting = setting_of(s.back(), s[0]))
                if (const auto* sg =
                        gemmi::find_spacegroup_by_name(s.substr(0, s.size() - 1) + ":" + setting))
                    return sg;
    }
    return nullptr;
}

} // namespace

const gemmi::SpaceGroup* find_by_symbol(const std::string& symbol) {
    const std::string text = with_origin_suffix(plain_digits(symbol));
    if (!all_read(compact(text))) return nullptr;
    if (const gemmi::SpaceGroup* sg = find_spelt(compact(text))) return sg;
    // A full symbol needs its blanks to tell its directions apart: the
    // lattice and three directions.
    std::size_t words = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        words += !std::isspace(static_cast<unsigned char>(text[i])) &&
                 (i == 0 || std::isspace(static_cast<unsigned char>(text[i - 1])));
    if (words < 4) return nullptr;
    for (const bool every : {false, true})
        if (const std::string shorter = short_symbol(text, every); shorter != text)
            if (const gemmi::SpaceGroup* sg = find_spelt(compact(shorter))) return sg;
    return nullptr;
}

std::vector<std::string> close_names(const std::string& symbol) {
    const std::string wanted = lower(compact(plain_digits(symbol)));
    std::multimap<std::size_t, std::string> by_distance;
    for (const gemmi::SpaceGroup& sg : gemmi::spacegroup_tables::main) {
        const std::string name = sg.xhm();
        by_distance.emplace(edit_distance(wanted, lower(compact(name))), name);
    }
    // Near: at most two edits, or a third of the symbol.
    const std::size_t near = std::max<std::size_t>(2, wanted.size() / 3);
    std::vector<std::string> names;
    for (const auto& [distance, name] : by_distance) {
        if (distance > near || names.size() == 3) break;
        names.push_back(name);
    }
    return names;
}

} // namespace peakhkl
