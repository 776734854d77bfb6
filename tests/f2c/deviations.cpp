#include "deviations.hpp"

#include <cstring>

namespace peakpos::test {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_sign(char c) {
    return c == '+' || c == '-';
}
bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == ',' || c == '/';
}

// Length of a repeat prefix "r*" (optional plus, digits, star) of field.
std::size_t repeat_prefix(std::string_view field) {
    std::size_t i = 0;
    if (i < field.size() && field[i] == '+') ++i;
    const std::size_t digits = i;
    while (i < field.size() && is_digit(field[i])) ++i;
    if (i > digits && i < field.size() && field[i] == '*') return i + 1;
    return 0;
}

bool is_exponent_letter(char c) {
    return c == 'e' || c == 'E' || c == 'd' || c == 'D';
}

// How far the library's number scanner takes a value that starts at
// field[i], and whether it held no mantissa digit. A value ends where its
// syntax ends, not at a separator: in "1.5e-3-" or "-.4." the scanner stops
// at the second sign or point, and the next value starts there.
struct Scan {
    std::size_t end;   // first byte not taken
    bool bare = false; // a sign, point or exponent but no mantissa digit
    bool fails = false;
};

Scan scan_value(std::string_view f, std::size_t i, bool after_star) {
    const std::size_t start = i;
    if (i < f.size() && is_sign(f[i])) ++i;
    bool digits = false;
    while (i < f.size() && is_digit(f[i])) ++i, digits = true;
    if (i < f.size() && f[i] == '*' && !after_star) {
        if (!digits || f[start] == '-') return {i, false, true}; // no count
        return scan_value(f, i + 1, true);
    }
    if (i < f.size() && f[i] == '.') {
        ++i;
        while (i < f.size() && is_digit(f[i])) ++i, digits = true;
    }
    if (i < f.size() && (is_sign(f[i]) || (digits && is_exponent_letter(f[i])))) {
        if (!is_sign(f[i])) ++i;
        if (i < f.size() && is_sign(f[i])) ++i;
        if (i == f.size() || !is_digit(f[i])) return {i, false, true};
        while (i < f.size() && is_digit(f[i])) ++i;
    }
    return {i, !digits && i > start, false};
}

} // namespace

std::string lf_line_ends(std::string_view deck) {
    std::string out;
    out.reserve(deck.size());
    for (std::size_t i = 0; i < deck.size(); ++i)
        if (!(deck[i] == '\r' && i + 1 < deck.size() && deck[i + 1] == '\n')) out += deck[i];
    return out;
}

int letter_for_bare_signs(std::string& deck) {
    std::size_t i = deck.find('\n');
    if (i == std::string::npos) return 0;
    int replaced = 0;
    std::string out = deck.substr(0, i);
    while (i < deck.size()) {
        if (is_separator(deck[i])) {
            out += deck[i++];
            continue;
        }
        std::size_t j = i;
        while (j < deck.size() && !is_separator(deck[j])) ++j;
        const std::string_view field = std::string_view(deck).substr(i, j - i);
        // The values the scanner finds one after the other in the field:
        // only one that ends with the field is followed by a separator.
        std::size_t at = 0;
        for (;;) {
            const Scan v = scan_value(field, at, false);
            if (v.end == at || v.fails) break;
            if (v.end == field.size()) {
                if (v.bare) {
                    // Keep a repeat count in front: "2*-" becomes "2*x".
                    std::size_t keep = field.find('*', at);
                    keep = keep == std::string_view::npos || keep >= v.end ? at : keep + 1;
                    out += field.substr(0, keep);
                    out += 'x';
                    ++replaced;
                    at = field.size() + 1;
                }
                break;
            }
            at = v.end;
        }
        if (at <= field.size()) out += field;
        i = j;
    }
    deck = out;
    return replaced;
}

EndRepeat repeat_at_end(std::string_view deck) {
    if (deck.empty() || deck.back() == '\n' || deck.find('\n') == std::string_view::npos)
        return EndRepeat::none;
    std::size_t end = deck.size();
    while (end > 0 && (deck[end - 1] == ' ' || deck[end - 1] == '\t')) --end;
    std::size_t start = end;
    while (start > 0 && !is_separator(deck[start - 1])) --start;
    const std::string_view field = deck.substr(start, end - start);
    const std::size_t p = repeat_prefix(field);
    if (p == 0) return EndRepeat::none;
    return p == field.size() && end == deck.size() ? EndRepeat::cut : EndRepeat::complete;
}

bool huge_repeat_count(std::string_view deck) {
    std::size_t i = deck.find('\n');
    if (i == std::string_view::npos) return false;
    while (i < deck.size()) {
        if (is_separator(deck[i])) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < deck.size() && !is_separator(deck[j])) ++j;
        const std::string_view field = deck.substr(i, j - i);
        if (const std::size_t p = repeat_prefix(field); p > 0) {
            std::string_view count = field.substr(0, p - 1);
            if (!count.empty() && count[0] == '+') count.remove_prefix(1);
            while (!count.empty() && count[0] == '0') count.remove_prefix(1);
            if (count.size() > 10 || (count.size() == 10 && count >= "2147483648")) return true;
        }
        i = j;
    }
    return false;
}

bool unsafe_name_word(std::string_view dnam) {
    std::size_t i = 0;
    while (i < dnam.size() && dnam[i] == ' ') ++i;
    if (i == dnam.size()) return false;
    if (dnam[i] == '#') return true;
    for (; i < dnam.size() && dnam[i] != ' '; ++i) {
        const unsigned char c = static_cast<unsigned char>(dnam[i]);
        if (c < 0x20 || c == 0x7F || std::strchr("[]{}$\\;\"", c) != nullptr) return true;
    }
    return false;
}

} // namespace peakpos::test
