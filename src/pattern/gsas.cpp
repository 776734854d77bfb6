#include "pattern/gsas.hpp"

#include "pattern/points.hpp"
#include "pattern/text.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

namespace pattern::gsas {

namespace {

[[noreturn]] void refuse(const std::string& file, std::size_t line, const std::string& why) {
    throw ReadError(file, line, why);
}

bool starts_with(std::string_view s, std::string_view word) {
    return s.substr(0, word.size()) == word;
}

bool starts_with_nocase(std::string_view s, std::string_view lower) {
    if (s.size() < lower.size()) return false;
    for (std::size_t k = 0; k < lower.size(); ++k)
        if ((s[k] | 0x20) != lower[k]) return false;
    return true;
}

bool is_bank(std::string_view line) {
    return starts_with(line, "BANK") && (line.size() == 4 || text::is_blank(line[4]));
}

std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> w;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && text::is_blank(s[i])) ++i;
        const std::size_t start = i;
        while (i < s.size() && !text::is_blank(s[i])) ++i;
        if (i > start) w.push_back(s.substr(start, i - start));
    }
    return w;
}

// The value of a whole word or field, false where it is no number.
bool whole_number(std::string_view s, double& v) {
    s = text::trim(s);
    return !s.empty() && text::scan_number(s, '.', v) == s.size();
}

enum class Type { std_counts, esd, fxye, fxy };

struct Bank {
    Type type = Type::std_counts;
    std::string_view type_name;
    std::size_t line = 0;
    double npts = 0;
    double start = 0; // centidegrees
    double step = 0;
    std::size_t read = 0; // points read (skipped ones too)
};

Bank parse_bank(std::string_view line, std::size_t number, const std::string& file) {
    const auto w = words(line);
    const auto fail = [&](const std::string& why) { refuse(file, number, why); };
    Bank b;
    b.line = number;
    if (w.size() < 5 || !whole_number(w[2], b.npts) || b.npts < 0)
        fail("a BANK line reads \"BANK n npts nrec CONST start step 0 0 TYPE\"");
    // The type: the last word where it is one, STD otherwise.
    b.type_name = "STD";
    const std::string_view last = w.back();
    if (last == "STD" || last == "ESD" || last == "FXYE" || last == "FXY")
        b.type_name = last;
    else if (last == "ALT")
        fail("the GSAS ALT format is not read (STD, ESD, FXYE and FXY are)");
    b.type = b.type_name == "ESD"    ? Type::esd
             : b.type_name == "FXYE" ? Type::fxye
             : b.type_name == "FXY"  ? Type::fxy
                                     : Type::std_counts;
    const std::string_view bintyp = w[4];
    if (bintyp != "CONST" && bintyp != "CONS")
        fail("the binning \"" + text::quoted(bintyp) +
             "\" is not read: only constant-wavelength 2θ data (CONST or CONS) are");
    if (b.type == Type::std_counts || b.type == Type::esd) {
        if (w.size() < 7 || !whole_number(w[5], b.start) || !whole_number(w[6], b.step) ||
            !(b.step > 0))
            fail("a BANK line of constant steps gives the start and a step above 0 (centidegrees)");
    }
    return b;
}

// The wavelength a comment line states ("# Calibrated wavelength = 0.41384 A"):
// the first number within 20 characters after the word, where it is one in
// angstroms.
bool comment_wavelength(std::string_view t, double& v) {
    for (std::size_t i = 0; i + 10 <= t.size(); ++i) {
        if (!starts_with_nocase(t.substr(i), "wavelength")) continue;
        for (std::size_t j = i + 10; j < t.size() && j < i + 30; ++j) {
            if (text::is_digit(t[j]) ||
                (t[j] == '.' && j + 1 < t.size() && text::is_digit(t[j + 1])))
                return text::scan_number(t.substr(j), '.', v) > 0 && v >= 0.05 && v <= 50;
        }
        return false;
    }
    return false;
}

} // namespace

bool looks_like(std::string_view text) {
    text::Lines lines(text);
    std::string_view line;
    if (!lines.next(line)) return false; // the title
    while (lines.next(line) && lines.number() < 200) {
        if (is_bank(line)) return true;
        const std::string_view t = text::trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (lines.number() == 2 && starts_with_nocase(t, "inst")) continue;
        if (starts_with(t, "Monitor")) continue;
        return false;
    }
    return false;
}

Pattern read(std::string_view text, const std::string& file, const Options& options) {
    Pattern p;
    Points points(file, options, p);
    text::Lines lines(text);
    std::string_view line;
    if (lines.next(line)) p.meta.emplace_back("title", std::string(text::trim(line)));
    std::vector<Bank> banks;
    const auto fail = [&](const std::string& why) { refuse(file, lines.number(), why); };
    const auto value = [&](std::string_view field, const char* what) {
        double v = 0;
        if (whole_number(field, v)) return v;
        if (text::scan_nonfinite(text::trim(field)) == text::trim(field).size() &&
            !text::trim(field).empty())
            return HUGE_VAL;
        refuse(file, lines.number(),
               std::string("the ") + what + " \"" + text::quoted(text::trim(field)) +
                   "\" is no number");
    };
    bool extra_noted = false;
    while (lines.next(line)) {
        const std::string_view t = text::trim(line);
        if (t.empty()) continue;
        if (t[0] == '#') {
            double w = 0;
            if (std::isnan(p.wave.alpha1) && comment_wavelength(t, w)) {
                p.wave.alpha1 = w;
                p.wave.source = "line " + std::to_string(lines.number());
            }
            continue;
        }
        if (lines.number() == 2 && starts_with_nocase(t, "inst")) {
            p.meta.emplace_back("instrument parameter file", std::string(t));
            continue;
        }
        if (is_bank(line)) {
            banks.push_back(parse_bank(line, lines.number(), file));
            points.start_range();
            continue;
        }
        if (starts_with(t, "TIME_MAP"))
            fail("time-of-flight data are not read (constant-wavelength 2θ only)");
        if (starts_with(t, "Monitor")) continue;
        if (banks.empty()) fail("data before the first BANK line");
        Bank& b = banks.back();
        const auto add = [&](double x_centideg, double y, double sigma) {
            if (b.read >= b.npts) {
                if (!extra_noted)
                    p.notes.push_back({lines.number(),
                                       "values after the " + text::number_text(b.npts) +
                                           " points the BANK line (line " + std::to_string(b.line) +
                                           ") announces are not read; the first: line " +
                                           std::to_string(lines.number())});
                extra_noted = true;
                return;
            }
            ++b.read;
            points.add(x_centideg / 100.0, y, sigma, lines.number());
        };
        switch (b.type) {
        case Type::std_counts:
            for (std::size_t k = 0; k < 10 && 8 * k < line.size(); ++k) {
                const std::string_view raw = line.substr(8 * k, 8);
                const std::string_view f = text::trim(raw);
                if (f.empty()) break;
                // F8 count, or I2 count of detectors in the field's first two
                // columns and F6 count in its other six: the variance is
                // count / detectors.
                double counts = 0, detectors = 0, sigma = std::nan("");
                if (!whole_number(f, counts)) {
                    if (raw.size() > 2 && whole_number(raw.substr(0, 2), detectors) &&
                        detectors >= 0 && detectors == std::floor(detectors) &&
                        whole_number(raw.substr(2), counts))
                        sigma = std::sqrt(std::max(counts, 1.0) / std::max(detectors, 1.0));
                    else
                        counts = value(f, "count");
                }
                add(b.start + b.step * static_cast<double>(b.read), counts, sigma);
            }
            break;
        case Type::esd:
            for (std::size_t k = 0; k < 5 && 16 * k < line.size(); ++k) {
                const std::string_view f = line.substr(16 * k, 8);
                if (text::trim(f).empty()) break;
                const double y = value(f, "value");
                const std::string_view s =
                    16 * k + 8 < line.size() ? line.substr(16 * k + 8, 8) : "";
                if (text::trim(s).empty())
                    fail("a value without its σ (ESD records are value and σ pairs)");
                add(b.start + b.step * static_cast<double>(b.read), y, value(s, "σ"));
            }
            break;
        case Type::fxye:
        case Type::fxy: {
            const auto w = words(t);
            const std::size_t want = b.type == Type::fxye ? 3 : 2;
            if (w.size() != want)
                fail(
                    std::string("an ") + std::string(b.type_name) + " record holds " +
                    (want == 3 ? "2θ (centidegrees), value and σ" : "2θ (centidegrees) and value") +
                    "; this one holds " + std::to_string(w.size()) + " words");
            add(value(w[0], "2θ"), value(w[1], "value"),
                want == 3 ? value(w[2], "σ") : std::nan(""));
            break;
        }
        }
    }
    if (banks.empty()) throw ReadError(file, 0, "no BANK line");
    p.format = "gsas-" + std::string(banks.front().type_name);
    for (char& c : p.format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Bank& b : banks) {
        if (static_cast<double>(b.read) < b.npts)
            p.notes.push_back({b.line, "the BANK line announces " + text::number_text(b.npts) +
                                           " points; the file holds " + std::to_string(b.read)});
    }
    points.finish("");
    return p;
}

} // namespace pattern::gsas
