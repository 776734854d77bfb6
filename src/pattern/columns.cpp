#include "pattern/columns.hpp"

#include "pattern/points.hpp"
#include "pattern/text.hpp"

#include <cmath>
#include <cstring>

namespace pattern::columns {

namespace {

using text::is_blank;
using text::is_digit;

// A line that may hold numbers: a digit first, or a sign or point before
// one, and no letter in its first word but an exponent's ("2theta" and
// "2-Theta" begin headers).
bool starts_number(std::string_view t, char point) {
    if (t.empty()) return false;
    std::size_t i = 0;
    if (t[i] == '-' || t[i] == '+') ++i;
    if (i < t.size() && t[i] == point) ++i;
    if (!(i < t.size() && is_digit(t[i]))) return false;
    for (; i < t.size() && !is_blank(t[i]) && t[i] != ';' && t[i] != ',' && t[i] != '#' &&
           t[i] != '!';
         ++i) {
        const char c = static_cast<char>(t[i] | 0x20);
        if (c >= 'a' && c <= 'z' && c != 'e' && c != 'd') return false;
    }
    return true;
}

bool starts_nonfinite(std::string_view t) {
    return text::scan_nonfinite(t) > 0;
}

// The line without what follows a comment sign after the values.
std::string_view values_part(std::string_view t) {
    for (std::size_t i = 0; i < t.size(); ++i)
        if (t[i] == '#' || t[i] == '!') return t.substr(0, i);
    return t;
}

// "# range N": a new range starts (peakfit's PREFIX.xye writes it).
bool is_range_line(std::string_view t) {
    t.remove_prefix(1); // '#'
    t = text::trim(t);
    if (t.size() < 6) return false;
    for (std::size_t k = 0; k < 5; ++k)
        if ((t[k] | 0x20) != "range"[k]) return false;
    t.remove_prefix(5);
    if (t.empty() || !is_blank(t.front())) return false;
    t = text::trim(t);
    if (t.empty()) return false;
    for (const char c : t)
        if (!is_digit(c)) return false;
    return true;
}

// Up to max values of line t into v (nonfinite words as infinity): returns
// how many the line holds (more than max where it holds more), or -1 where
// it is not numbers between separators.
int numbers(std::string_view t, char point, double* v, int max) {
    const bool comma_sep = point != ',';
    int n = 0;
    std::size_t i = 0;
    for (;;) {
        double value = 0;
        std::size_t len = text::scan_number(t.substr(i), point, value);
        if (len == 0) {
            len = text::scan_nonfinite(t.substr(i));
            if (len == 0) return -1;
            value = HUGE_VAL;
        }
        if (n < max) v[n] = value;
        ++n;
        i += len;
        // Between two values: blanks, and one comma or semicolon among them.
        const std::size_t before = i;
        while (i < t.size() && is_blank(t[i])) ++i;
        if (i < t.size() && (t[i] == ';' || (comma_sep && t[i] == ','))) {
            ++i;
            while (i < t.size() && is_blank(t[i])) ++i;
        }
        if (i == t.size()) return n;
        if (i == before) return -1; // a number glued to something else
    }
}

// peakfit's fit table names its columns "2theta observed calculated
// background difference": its third column is no sigma.
bool is_fit_table_header(std::string_view t) {
    static constexpr std::string_view names[] = {"2theta", "observed", "calculated", "background",
                                                 "difference"};
    t.remove_prefix(1); // '#'
    for (const std::string_view name : names) {
        t = text::trim(t);
        if (t.size() < name.size()) return false;
        for (std::size_t k = 0; k < name.size(); ++k)
            if ((t[k] | 0x20) != name[k]) return false;
        t.remove_prefix(name.size());
        if (!t.empty() && !is_blank(t.front())) return false;
    }
    return text::trim(t).empty();
}

struct Skipped {
    std::size_t count = 0;
    std::size_t first = 0;
    std::string text;
    void add(std::size_t line, std::string_view t) {
        if (count++ == 0) {
            first = line;
            text = text::quoted(t);
        }
    }
};

} // namespace

char decimal_point(std::string_view text, const std::string& file) {
    if (text.find(',') == std::string_view::npos) return '.';
    std::size_t dot_line = 0, comma_line = 0, unclear_line = 0;
    text::Lines lines(text);
    std::string_view line;
    for (lines.skip_blank_lines(); lines.next(line); lines.skip_blank_lines()) {
        std::string_view t = text::trim(line);
        if (!starts_number(t, '.') && !starts_number(t, ',')) continue;
        t = values_part(t);
        bool comma_between_digits = false, other_sep = false, dot = false, single = true;
        for (std::size_t i = 0; i < t.size(); ++i) {
            const char c = t[i];
            if (c == '.') dot = true;
            if (c == ';' || c == '\t') other_sep = true;
            if (c == ';' || c == '\t' || c == ' ' || c == ',') single = false;
            if (c == ',' && i > 0 && i + 1 < t.size() && is_digit(t[i - 1]) && is_digit(t[i + 1]))
                comma_between_digits = true;
        }
        // A value alone (the wavelength line) says nothing of the columns.
        if (dot && !single && dot_line == 0) dot_line = lines.number();
        if (comma_between_digits && other_sep && comma_line == 0) comma_line = lines.number();
        if (comma_between_digits && !other_sep && !dot && unclear_line == 0)
            unclear_line = lines.number();
        if (dot_line != 0 && comma_line != 0)
            throw ReadError(file, comma_line,
                            "a decimal comma here, where line " + std::to_string(dot_line) +
                                " has a decimal point: one file, one decimal sign");
    }
    if (comma_line != 0) return ',';
    if (dot_line == 0 && unclear_line != 0)
        throw ReadError(
            file, unclear_line,
            "commas between digits, and no other separator between the columns: decimal "
            "commas cannot be told from commas between columns (separate the columns by "
            "semicolons or tabs, or write decimal points)");
    return '.';
}

Pattern read(std::string_view text, const std::string& file, const Options& options) {
    const char point = decimal_point(text, file);
    Pattern p;
    p.format = "columns";
    Points points(file, options, p);
    // The columns a point has: set by the first point of each range (its
    // sigma) or of the file (Options::all_columns).
    constexpr int max_columns = 32;
    int wanted = options.all_columns ? max_columns : 3;
    bool fit_table = false;
    int columns = 0;
    std::size_t columns_line = 0;
    std::size_t extra_line = 0; // the first line with columns that are not read
    bool seen_values = false;
    Skipped unread, words;
    double v[max_columns + 1];

    text::Lines lines(text);
    std::string_view line;
    for (lines.skip_blank_lines(); lines.next(line); lines.skip_blank_lines()) {
        const std::string_view t = text::trim(line);
        if (t.empty()) continue;
        if (t[0] == '#') {
            if (!options.all_columns && points.count() == 0 && is_fit_table_header(t)) {
                wanted = 2;
                fit_table = true;
                p.notes.push_back({lines.number(),
                                   "peakfit's fit table: σ from the observed counts, "
                                   "its other columns not read"});
            }
            if (is_range_line(t)) {
                points.start_range();
                if (!options.all_columns) columns = 0;
            }
            continue;
        }
        if (t[0] == '!' || t[0] == '\'') continue;
        if (!starts_number(t, point) && !starts_nonfinite(t)) {
            // Words: a header, skipped; among the points, noted.
            if (points.count() > 0) words.add(lines.number(), t);
            continue;
        }
        const std::string_view values = text::trim(values_part(t));
        const int n = numbers(values, point, v, wanted + 1);
        const bool first_values = !seen_values;
        seen_values = true;
        // The wavelength alone, written with its decimals (a count is no wavelength).
        if (n == 1 && first_values && points.count() == 0 && v[0] >= 0.05 && v[0] <= 50 &&
            values.find(point) != std::string_view::npos) {
            p.wave.alpha1 = v[0];
            p.wave.source = "line " + std::to_string(lines.number());
            continue;
        }
        if (n < 2) {
            unread.add(lines.number(), t);
            continue;
        }
        if (columns == 0) {
            columns = std::min(n, wanted);
            columns_line = lines.number();
        }
        if (n < columns) {
            throw ReadError(file, lines.number(),
                            std::to_string(n) + " columns, where line " +
                                std::to_string(columns_line) + " has " + std::to_string(columns) +
                                (options.all_columns ? "" : " (2θ, intensity and σ)"));
        }
        if (n > columns && extra_line == 0) extra_line = lines.number();
        double sigma = !options.all_columns && columns == 3 ? v[2] : std::nan("");
        if (options.all_columns) {
            // The other columns pass the checks a point's values do: a line
            // with one that is no finite number is skipped (as an infinite
            // sigma makes it), one beyond the magnitude refused.
            for (int k = 2; k < columns; ++k) {
                if (std::isinf(v[k]))
                    sigma = HUGE_VAL;
                else if (std::fabs(v[k]) > max_magnitude)
                    throw ReadError(file, lines.number(),
                                    "the value " + text::number_text(v[k]) +
                                        " lies beyond ±1e100, which no pattern holds");
            }
        }
        if (points.add(v[0], v[1], sigma, lines.number()) && options.all_columns) {
            Range& r = points.current();
            r.columns.resize(static_cast<std::size_t>(columns - 1));
            for (int k = 1; k < columns; ++k)
                r.columns[static_cast<std::size_t>(k - 1)].push_back(v[k]);
        }
    }
    if (extra_line != 0 && !fit_table) {
        p.notes.push_back({extra_line, "columns after the " +
                                           std::string(columns == 2   ? "second"
                                                       : columns == 3 ? "third (σ)"
                                                                      : "last read") +
                                           " are not read; the first such line: line " +
                                           std::to_string(extra_line)});
    }
    if (unread.count > 0) {
        p.notes.push_back(
            {unread.first, std::to_string(unread.count) +
                               (unread.count == 1 ? " line begins with a number but is"
                                                  : " lines begin with a number but are") +
                               " not 2θ and intensity, skipped; the first: line " +
                               std::to_string(unread.first) + ": \"" + unread.text + "\""});
    }
    if (words.count > 0) {
        p.notes.push_back(
            {words.first, std::to_string(words.count) + (words.count == 1 ? " line" : " lines") +
                              " of words among the points skipped; the first: line " +
                              std::to_string(words.first) + ": \"" + words.text + "\""});
    }
    points.finish(unread.count > 0 ? "line " + std::to_string(unread.first) +
                                         " is not 2θ and intensity: \"" + unread.text + "\""
                                   : "");
    if (point == ',') p.notes.push_back({0, "read with decimal commas"});
    return p;
}

} // namespace pattern::columns
