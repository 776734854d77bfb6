#include "deck_gen.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace peakpos::test {

DeckGen::DeckGen(std::uint64_t seed, std::uint64_t index)
    : state_(seed * 0x9E3779B97F4A7C15u ^ (index * 0xD1B54A32D192ED03u + 0x632BE59BD9B4E019u)) {
    for (int i = 0; i < 4; ++i) next();
}

std::uint64_t DeckGen::next() { // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

int DeckGen::below(int n) {
    return n <= 1 ? 0 : static_cast<int>(next() % static_cast<unsigned>(n));
}
int DeckGen::between(int lo, int hi) {
    return lo + below(hi - lo + 1);
}
bool DeckGen::chance(double p) {
    return static_cast<double>(next() >> 11) * 0x1.0p-53 < p;
}

std::string DeckGen::digits(int n, bool leading_nonzero) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>('0' + (i == 0 && leading_nonzero ? between(1, 9) : below(10)));
    return s;
}

std::string DeckGen::name_line() {
    static const char* const words[] = {
        "NaCl", "Si",     "quartz",  "LaB6",   "CeO2", "alpha-Al2O3",  "x",      "Fe_bcc",
        "K",    "test.1", "SRM660c", "mica/2", "Na+",  "TiO2(rutile)", "1.5",    "*",
        "-",    "'q'",    "a,b",     "ZnO@RT", "%d",   "p&q",          "zeolite"};
    const int r = below(100);
    std::string s;
    if (r < 8) return s; // empty
    if (r < 14) return std::string(static_cast<std::size_t>(between(1, 30)), ' ');
    if (r < 22) { // longer than the name
        const std::size_t len = static_cast<std::size_t>(between(26, 150));
        while (s.size() < len) s += std::string(pick(words)) + " ";
        return s;
    }
    s = pick(words);
    if (r < 28) { // a byte Tcl would not take as plain text, in the first word
        static const char bad[] = "[]{}$\\;\"\t\x01\x1b\x7f#";
        const char c = bad[below(sizeof bad - 1)];
        if (c == '#')
            s.insert(0, 1, c);
        else
            s.insert(static_cast<std::size_t>(below(static_cast<int>(s.size()) + 1)), 1, c);
        if (chance(0.3)) s += " rest";
        return s;
    }
    if (r < 31) { // bytes above ASCII
        s += static_cast<char>(between(0x80, 0xFF));
        s.insert(0, 1, static_cast<char>(between(0x80, 0xFF)));
        return s;
    }
    if (r < 36) return std::string(static_cast<std::size_t>(between(1, 8)), ' ') + s;
    if (r < 41) { // later words may hold anything
        static const std::string_view rest[] = {
            " [x] $y", " {a} ;b", " \"quoted\"", " #2", " \t tab", std::string_view(" \0nul", 5)};
        s += pick(rest);
        return s;
    }
    if (r < 45) { // right at the width, or one beside it
        const std::size_t len = static_cast<std::size_t>(between(24, 26));
        while (s.size() < len) s += static_cast<char>('a' + below(26));
        return s.substr(0, len);
    }
    if (chance(0.5)) s += std::string(" ") + pick(words);
    return s;
}

// Text near a rounding boundary: a decimal close to the point halfway
// between two adjacent floats or doubles, so that the result depends on the
// digits up to the 40th that the reader keeps (and on none after it).
std::string DeckGen::tricky_text(bool integer) {
    char buf[1024];
    if (integer) {
        const int k = chance(0.5) ? between(1, 50) : between(1, 2147483647);
        if (chance(0.3)) { // nines up to the last digits that a double holds
            std::string s = std::to_string(k - 1) + "." +
                            std::string(static_cast<std::size_t>(between(14, 18)), '9');
            if (chance(0.5)) s += digits(between(1, 4), false);
            return (chance(0.3) ? "-" : "") + s;
        }
        // Halfway between k and the double below it: k or k - 1 after truncation.
        const double d = k;
        const long double h = (static_cast<long double>(d) + std::nextafter(d, 0.0)) / 2;
        std::snprintf(buf, sizeof buf, "%.200Le", h);
    } else if (chance(0.5)) { // halfway between two floats: exact in a double
        std::uint32_t bits =
            static_cast<std::uint32_t>(between(0x2E800000, 0x50800000)); // ~1e-10..1e10
        bits += static_cast<std::uint32_t>(below(1 << 20));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        const double h = (static_cast<double>(f) + std::nextafter(f, INFINITY)) / 2;
        std::snprintf(buf, sizeof buf, "%.200e", h);
    } else { // halfway between two doubles: exact in an x87 long double
        const double d =
            std::ldexp(1.0 + static_cast<double>(next() >> 12) * 0x1.0p-52, between(-40, 40));
        const long double h = (static_cast<long double>(d) + std::nextafter(d, INFINITY)) / 2;
        std::snprintf(buf, sizeof buf, "%.200Le", h);
    }
    const std::string e = buf;
    const std::size_t epos = e.find('e');
    std::string d = e.substr(0, 1) + e.substr(2, epos - 2);
    const int exponent = std::stoi(e.substr(epos + 1)); // of the first digit
    while (d.size() > 1 && d.back() == '0') d.pop_back();

    // Raises the last digit by one, with carry (the digits are not all nines).
    const auto raise = [](std::string t) {
        for (std::size_t i = t.size(); i-- > 0;) {
            if (t[i] != '9') {
                ++t[i];
                break;
            }
            t[i] = '0';
        }
        return t;
    };
    switch (below(5)) {
    case 0:
        break; // exactly halfway
    case 1:    // above halfway by one unit in the 40th digit
        if (d.size() > 40) d = raise(d.substr(0, 40)) + digits(below(6), false);
        break;
    case 2: // above halfway only past the last digit
        d += std::string(static_cast<std::size_t>(below(5)), '0') + "1";
        break;
    case 3: // cut around the 40th digit
        d = d.substr(0, static_cast<std::size_t>(between(38, 45))) + digits(below(4), false);
        break;
    default: // below halfway in the last digit
        if (d.back() != '0') --d.back();
        break;
    }
    std::string s = chance(0.2) ? "-" : "";
    switch (below(3)) {
    case 0:
        s += d.substr(0, 1) + "." + d.substr(1) + pick({"e", "E", "d", "D"}) +
             std::to_string(exponent);
        break;
    case 1:
        s += "0." + d + "e" + std::to_string(exponent + 1);
        break;
    default:
        s += d + "E" + std::to_string(exponent - static_cast<int>(d.size()) + 1);
        break;
    }
    return s;
}

std::string DeckGen::real_text() {
    static const char* const edges[] = {"0",
                                        "-0",
                                        "0.0",
                                        "-0.0",
                                        ".0",
                                        "0.",
                                        "1e38",
                                        "3.4028235e38",
                                        "3.4028236e38",
                                        "3.40282357e38",
                                        "1e39",
                                        "-1e39",
                                        "1e-38",
                                        "1.17549435e-38",
                                        "1.4e-45",
                                        "7e-46",
                                        "7.1e-46",
                                        "1e-46",
                                        "1e308",
                                        "1.7976931348623157e308",
                                        "1.8e308",
                                        "4.9e-324",
                                        "2.4703282292062328e-324",
                                        "1e-400",
                                        "-1e-400",
                                        "1e99999999",
                                        "1e-99999999",
                                        "1e099999999",
                                        "-1D+99999999",
                                        "1e+000000000001",
                                        "16777217",
                                        "16777219",
                                        "1.00000005960464477539062",
                                        "0.1",
                                        "3.3",
                                        "1.000000059604644775390625",
                                        "1.0000000596046447753906250000000000000000001",
                                        "9007199254740993",
                                        "0.30000000000000004",
                                        "2.5e-8",
                                        "5e-324",
                                        "123456789e-50"};
    static const char* const usual[] = {"5.64",   "90",  "1.54", "120.0", "0.177305",
                                        "1.5406", "100", "0.05", "60",    "109.47"};
    const int r = below(100);
    std::string s;
    if (r < 25) {
        const int v = between(-200, 200);
        s = std::to_string(v);
        if (v >= 0 && chance(0.2)) s = "+" + s;
        if (chance(0.1)) s.insert(s[0] == '-' || s[0] == '+' ? 1 : 0, "00");
        return s;
    }
    if (r < 45) {
        const int lead = below(5), frac = below(7);
        s = digits(lead, false) + "." + digits(frac, false);
        if (lead + frac == 0) s = chance(0.5) ? "0." : ".0";
        if (chance(0.3)) s = (chance(0.5) ? "-" : "+") + s;
        return s;
    }
    if (r < 70) {
        std::string m = digits(between(1, 17), chance(0.8));
        if (chance(0.7))
            m.insert(static_cast<std::size_t>(below(static_cast<int>(m.size()) + 1)), ".");
        if (chance(0.3)) m = "-" + m;
        static const char* const letters[] = {"e", "E", "d", "D", ""};
        const std::string letter = pick(letters);
        std::string sign = letter.empty() ? (chance(0.5) ? "+" : "-") : pick({"", "+", "-"});
        int e;
        const int kind = below(10);
        if (kind < 7)
            e = between(0, 40);
        else if (kind < 9)
            e = between(36, 50);
        else
            e = between(300, 330);
        std::string es = std::to_string(e);
        if (chance(0.1)) es = "00" + es;
        return m + letter + sign + es;
    }
    if (r < 80) return pick(edges);
    if (r < 90) {
        std::string m = digits(between(35, 60), chance(0.7));
        m.insert(static_cast<std::size_t>(below(static_cast<int>(m.size()) + 1)), ".");
        if (chance(0.4)) m += "e" + std::to_string(between(-60, 20));
        if (chance(0.3)) m = "-" + m;
        return m;
    }
    return pick(usual);
}

std::string DeckGen::integer_text(bool flag) {
    static const char* const edges[] = {"2147483647",
                                        "-2147483648",
                                        "2147483648",
                                        "-2147483649",
                                        "2147483647.9",
                                        "-2147483648.9",
                                        "2147483648.0",
                                        "4.2e9",
                                        "-4.2e9",
                                        "1e10",
                                        "1e99999999",
                                        "99999999999999999999999",
                                        "1e-5",
                                        "-1e-400",
                                        "2147483647.5",
                                        "2.147483647e9",
                                        "21474836.47e2",
                                        "-2147483648.99999",
                                        "2147483647.99999999"};
    const int r = below(100);
    if (flag) {
        if (r < 60) return chance(0.7) ? "0" : "1";
        if (r < 75) return std::to_string(between(-3, 5));
        if (r < 88 || !chance(edge_p_))
            return pick({"1.0", "0.5", "-0.9", "1e0", "2.7", ".5", "1.", "1d0"});
        return pick(edges);
    }
    if (r < 50) {
        const int v = between(-12, 12);
        std::string s = std::to_string(v);
        if (v >= 0 && chance(0.15)) s = "+" + s;
        if (chance(0.08)) s.insert(s[0] == '-' || s[0] == '+' ? 1 : 0, "0");
        return s;
    }
    if (r < 70) {
        const int v = between(-9, 9);
        const std::string d = std::to_string(v);
        switch (below(10)) {
        case 0:
            return d + "." + digits(between(1, 3), false);
        case 1:
            return d + "e0";
        case 2:
            return d + ".";
        case 3:
            return "0." + std::to_string(std::abs(v)) + "d1";
        case 4:
            return std::to_string(std::abs(v)) + "0-1";
        case 5:
            return d + "+0";
        case 6:
            return "-0.5";
        case 7:
            return ".9";
        case 8:
            return d + ".99999999999999999999";
        default:
            return d + "E00";
        }
    }
    if (r < 85 || !chance(edge_p_)) return std::to_string(between(-100000, 100000));
    return pick(edges);
}

std::string DeckGen::hostile_text() {
    static const char* const bad[] = {
        "abc",    "1x",          "1.2.3",        "1..2",         "--1",     "+-1",
        "-+3",    "1e",          "1e+",          "1E-",          "e5",      ".",
        "-",      "+",           "-.",           "+.",           ".e1",     "1.5-",
        "0x1A",   "inf",         "NaN",          "5*",           "*5",      "0*5",
        "00*5",   "-2*5",        "2*-",          "2*.",          "3*-.",    ".-5",
        "+.+2",   "1e100000000", "1e-100000000", "1d+099999999", "T",       ".TRUE.",
        "'a'",    "(1,2)",       "1;2",          "\x01",         "\xff",    "1\r",
        "#",      "*",           "**",           "2**3",         "1.5e3.5", "1e5e5",
        "5-",     "5+",          "1 .5",         "1+ 2",         "2*-1e",   "-,",
        ".,",     "+/",          "-+3,",         "2*+",          "2*-.-7",  "3*1*2",
        "1*-",    "+2*4",        "02*4",         "1q2",          "1\f2",    "\v1",
        "1.0e1x", "1*2*3"};
    // No repeat count of 2^31 or more: the library reads those with atoi
    // and misbehaves.
    return pick(bad);
}

std::string DeckGen::value(bool integer, bool flag) {
    if (hostile_ && chance(0.03)) return hostile_text();
    if (chance(integer ? 0.03 : 0.1)) return tricky_text(integer);
    return integer ? integer_text(flag) : real_text();
}

std::string DeckGen::separator() {
    if (chance(newline_p_))
        return pick({"\n", "\n\n", " \n", "\n  ", "\t\n", ",\n", "\n\t\n", " , \n", "\n\n\n"});
    return pick({" ", " ", "  ", "\t", ",", ", ", " , ", " \t ", "     ", ",\t"});
}

void DeckGen::list_read(std::string& out, int items, bool integer, bool flag) {
    if (chance(0.04)) out += "\n"; // a blank line first (the whole read when it has no items)
    if (chance(0.2)) out += pick({" ", "  ", "\t", " \t"});
    bool need_sep = false;
    for (int i = 0; i < items;) {
        const int r = below(100);
        if (r < 1) { // a slash ends the read early
            if (need_sep && chance(0.7)) out += separator();
            out += "/";
            need_sep = true;
            break;
        }
        if (r < 7) { // a null value
            if (need_sep) out += pick({",", ", ", " ,", "\n", ",\n"});
            out += ",";
            if (chance(0.3)) out += " ";
            need_sep = false;
            ++i;
            continue;
        }
        if (need_sep) out += separator();
        need_sep = true;
        if (r < 13) { // a repeat, r*value or r* (r null values)
            int m = between(1, std::min(items - i, 5));
            if (chance(0.1)) m += between(1, 3);
            std::string count = std::to_string(m);
            if (chance(0.1)) count = "+" + count;
            if (chance(0.05)) count = "0" + count;
            out += count + "*";
            if (chance(0.7)) out += value(integer, flag);
            i += m;
            continue;
        }
        out += value(integer, flag);
        ++i;
    }
    if (chance(0.12))
        out += pick({" words after the values", " 1 2 3", " x", " / trailing", "\tabc", " , ,",
                     " 7*8", " -", " 1e", ", and more", " 3*", ",", "/"});
    if (chance(0.05)) out += " ";
    out += "\n";
}

std::string DeckGen::npeak_text(int& npeak) {
    const int r = below(1000);
    if (r < 500) return std::to_string(npeak = between(0, 6));
    if (r < 650) return std::to_string(npeak = between(7, 40));
    if (r < 700) return std::to_string(npeak = between(41, 300));
    if (r < 730) return npeak = 0, pick({"0", "0.0", "-0", "0e5", "-0.9"});
    if (r < 780) return std::to_string(npeak = between(-5, -1));
    if (r < 880) {
        npeak = between(0, 8);
        const std::string n = std::to_string(npeak);
        switch (below(6)) {
        case 0:
            return n + "." + digits(between(1, 3), false);
        case 1:
            return n + "e0";
        case 2:
            return "+" + n;
        case 3:
            return n + ".9";
        case 4:
            return "0" + n;
        default:
            return n + ".0d0";
        }
    }
    if (r < 900) {
        npeak = 0;
        switch (below(3)) {
        case 0:
            return ",";
        case 1:
            return "/";
        default:
            return npeak = 4, "1*4";
        }
    }
    if (r < 903) return std::to_string(npeak = 5000);
    if (r < 915) {
        npeak = between(0, 3); // refused: the lists that follow hardly matter
        return pick({"5001", "99999", "3e9", "-3e9", "1e10", "2147483648", "5000.5e0", "5.001e3"});
    }
    npeak = between(0, 6);
    return std::to_string(npeak) + pick({" reflections", " 9 9", "/", ",", " ,,"});
}

void DeckGen::mutate(std::string& deck) {
    if (hostile_ && chance(0.15)) // cut at a random byte
        deck.resize(static_cast<std::size_t>(below(static_cast<int>(deck.size()) + 1)));
    if (hostile_ && chance(0.12)) {
        static const char alphabet[] = " \t\n,/*.+-eEdD0123456789x\r#;\"\f\vq";
        for (int n = between(1, 3); n > 0; --n) {
            const std::size_t at =
                static_cast<std::size_t>(below(static_cast<int>(deck.size()) + 1));
            const char c = chance(0.05) ? '\0' : alphabet[below(sizeof alphabet - 1)];
            const int op = below(3);
            if (op == 0 || at == deck.size())
                deck.insert(at, 1, c);
            else if (op == 1)
                deck.erase(at, 1);
            else
                deck[at] = c;
        }
    }
    if (chance(0.1)) { // CR LF line ends, all or some
        const bool all = chance(0.6);
        std::string out;
        for (const char c : deck) {
            if (c == '\n' && (all || chance(0.5))) out += '\r';
            out += c;
        }
        deck = out;
    }
    if (chance(0.02))
        deck.insert(static_cast<std::size_t>(below(static_cast<int>(deck.size()) + 1)), 1, '\r');
}

std::string DeckGen::deck() {
    hostile_ = chance(0.4);
    newline_p_ = pick({0.0, 0.03, 0.15, 0.4});
    edge_p_ = pick({0.0, 0.0, 0.03, 0.3});
    std::string out = name_line() + "\n";
    list_read(out, 7, false, false);
    list_read(out, 3, false, false);

    if (chance(0.03)) out += "\n";
    int npeak = 0;
    out += npeak_text(npeak);
    if (chance(0.08)) out += pick({" words", " 1 2", "\t", ",", " /"});
    out += "\n";
    const int n = std::clamp(npeak, 0, 5000);
    if (n == 0) { // each list read takes one line whatever it holds
        for (int i = 0; i < 4; ++i)
            out += pick({"", "", " ", "junk", "1 2 3", "/"}) + std::string("\n");
        if (chance(0.5)) out.resize(out.size() - static_cast<std::size_t>(below(12)) % out.size());
    } else {
        list_read(out, n, true, false);
        list_read(out, n, true, false);
        if (chance(0.04)) { // the copies of a repeat end the last index list and the input
            const int m = between(1, n);
            list_read(out, n - m, true, false);
            out.pop_back();
            out += (n - m > 0 ? " " : "") + std::to_string(m) + "*";
            if (chance(0.8))
                out += integer_text(false);
            else
                out += " "; // null values, ended by a blank
            if (chance(0.3)) out += " ";
            return out;
        }
        list_read(out, n, true, false);
        const int r = below(100);
        if (r < 40)
            list_read(out, n, true, true);
        else if (r < 55)
            list_read(out, between(0, n - 1), true, true);
        else if (r < 63) {
        } else if (r < 70) {
            list_read(out, n, true, true);
            out.pop_back();
            out.resize(out.size() - static_cast<std::size_t>(below(4)) % out.size());
        } else if (r < 76) {
            list_read(out, between(0, n - 1), true, true);
            out.insert(out.size() - 1, " /");
        } else if (r < 84) { // the copies of a repeat end the flags and the input
            const int m = between(1, n);
            list_read(out, n - m, true, true);
            out.pop_back();
            out += (n - m > 0 ? " " : "") + std::to_string(m) + "*" + integer_text(true);
            if (chance(0.3)) out += "\t";
        } else if (r < 88) { // null values to the end of the input
            const int m = between(1, n);
            list_read(out, n - m, true, true);
            out.pop_back();
            out += (n - m > 0 ? " " : "") + std::to_string(m) + "*";
            if (chance(0.3)) out += "\t";
        } else if (r < 92) {
            out += "\n";
        } else {
            list_read(out, n, true, true);
            out += pick({"more text\n", "1 1 1\n", "\n\n", "/\n"});
        }
    }
    if (chance(0.12) && !out.empty() && out.back() == '\n') out.pop_back();
    mutate(out);
    return out;
}

} // namespace peakpos::test
