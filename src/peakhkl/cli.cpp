#include "peakhkl/cli.hpp"

#include "peakhkl/bragg.hpp"
#include "peakhkl/cif.hpp"
#include "peakhkl/crystal.hpp"
#include "peakhkl/deck_writer.hpp"
#include "peakhkl/error.hpp"
#include "peakhkl/intensity.hpp"
#include "peakhkl/reflections.hpp"
#include "peakhkl/table.hpp"
#include "peakhkl/wavelengths.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <sys/stat.h>

#ifndef PEAKHKL_VERSION
#define PEAKHKL_VERSION "unknown"
#endif

namespace peakhkl {

namespace {

constexpr std::size_t max_reflections = 5000; // the size of peakpos's reflection table
// The table alone (--no-deck) is bound by memory only: two million sets are
// about 150 MB.
constexpr std::size_t max_table_reflections = 2000000;

struct Options {
    std::string cif, block, sg, wave, tt_max, d_min, name, table;
    std::vector<std::string> cell;
    std::string ymin = "0", ymax = "100", zero = "0";
    std::string radiation, monochromator, polarization, min_intensity;
    bool allowed_only = false, help = false, version = false;
    bool no_dispersion = false, skip_unknown = false, waves = false;
    bool strict = false, no_deck = false;
};

struct UsageError {
    std::string what;
};

Options parse_options(const std::vector<std::string>& args) {
    Options o;
    const std::map<std::string, std::string Options::*> valued{
        {"--block", &Options::block},
        {"--sg", &Options::sg},
        {"--wave", &Options::wave},
        {"--tt-max", &Options::tt_max},
        {"--d-min", &Options::d_min},
        {"--name", &Options::name},
        {"--table", &Options::table},
        {"--ymin", &Options::ymin},
        {"--ymax", &Options::ymax},
        {"--zero", &Options::zero},
        {"--radiation", &Options::radiation},
        {"--monochromator", &Options::monochromator},
        {"--polarization", &Options::polarization},
        {"--min-intensity", &Options::min_intensity}};
    const std::map<std::string, bool Options::*> flags{
        {"--help", &Options::help},
        {"--version", &Options::version},
        {"--allowed-only", &Options::allowed_only},
        {"--no-dispersion", &Options::no_dispersion},
        {"--skip-unknown-atoms", &Options::skip_unknown},
        {"--strict", &Options::strict},
        {"--no-deck", &Options::no_deck},
        {"--waves", &Options::waves}};
    std::vector<std::string> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto needs = [&](std::size_t n) {
            if (args.size() - i - 1 < n)
                throw InputError(arg, std::to_string(n) + (n == 1 ? " value" : " values"),
                                 "the end of the arguments");
        };
        if (const auto flag = flags.find(arg); flag != flags.end()) {
            o.*(flag->second) = true;
            continue;
        } else if (arg == "--cell") {
            needs(6);
            o.cell.assign(args.begin() + static_cast<long>(i) + 1,
                          args.begin() + static_cast<long>(i) + 7);
            i += 6;
        } else if (const auto it = valued.find(arg); it != valued.end()) {
            needs(1);
            o.*(it->second) = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + quoted(arg)};
        } else if (o.cif.empty()) {
            o.cif = arg;
            continue;
        } else {
            throw UsageError{"a second CIF file " + quoted(arg)};
        }
        for (const std::string& g : given)
            if (g == arg) throw InputError(arg, "the option once", "it twice");
        given.push_back(arg);
    }
    return o;
}

double real(const std::string& text, const std::string& option, const char* expected) {
    double x = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, x);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(x) ||
        !std::isfinite(static_cast<float>(x)))
        throw InputError(option, expected, quoted(text));
    return x;
}

// The wavelength of --wave: a named X-ray line, or a number of angstroms
// from 0.05 to 50 (a value outside is plausible only in nanometres or
// picometres, and the message says how to convert it).
double wavelength(const std::string& text, Radiation radiation) {
    if (text.empty())
        throw InputError("--wave", "the wavelength (it is never assumed)", "no --wave");
    if (const auto named = named_line(text)) {
        if (radiation == Radiation::neutron)
            throw InputError("--wave", "a neutron wavelength in angstroms with --radiation neutron",
                             "the X-ray line " + quoted(text));
        return *named;
    }
    const std::string expected = "a wavelength in angstroms above 0 or one of " + line_names();
    double x = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, x);
    if (result.ec != std::errc() || result.ptr != end || !(static_cast<float>(x) > 0) ||
        !std::isfinite(static_cast<float>(x)))
        throw InputError("--wave", expected, quoted(text));
    if (x < 0.05)
        throw InputError("--wave",
                         "a wavelength in angstroms from 0.05 to 50 (in nanometres? " + text +
                             " nm is " + number_text(x * 10) + " A)",
                         quoted(text));
    if (x > 50)
        throw InputError("--wave",
                         "a wavelength in angstroms from 0.05 to 50 (in picometres? " + text +
                             " pm is " + number_text(x / 100) + " A)",
                         quoted(text));
    return x;
}

// The beam of the options, for the intensities.
Beam beam_of(const Options& o) {
    Beam beam;
    if (o.radiation == "neutron")
        beam.radiation = Radiation::neutron;
    else if (!o.radiation.empty() && o.radiation != "xray")
        throw InputError("--radiation", "xray or neutron", quoted(o.radiation));
    beam.wave = wavelength(o.wave, beam.radiation);
    beam.dispersion = !o.no_dispersion;
    const bool xray = beam.radiation == Radiation::xray;
    if (!o.monochromator.empty() && !o.polarization.empty())
        throw InputError("--monochromator/--polarization", "one of the two", "both");
    if (!o.monochromator.empty()) {
        if (!xray) throw InputError("--monochromator", "X-rays", "--radiation neutron");
        beam.monochromator =
            real(o.monochromator, "--monochromator", "the monochromator's 2theta in degrees");
        if (!(beam.monochromator >= 0 && beam.monochromator < 180))
            throw InputError("--monochromator", "a 2theta from 0 to 180 degrees",
                             quoted(o.monochromator));
    }
    if (!o.polarization.empty()) {
        if (!xray) throw InputError("--polarization", "X-rays", "--radiation neutron");
        beam.polarized = real(o.polarization, "--polarization", "a fraction from 0 to 1");
        if (!(*beam.polarized >= 0 && *beam.polarized <= 1))
            throw InputError("--polarization", "a fraction from 0 to 1", quoted(o.polarization));
    }
    return beam;
}

// The limit a refusal of too many reflections proposes: the number with the
// fewest significant digits that keeps the sets with d > cut.d_out and all
// those with d >= *cut.d_in, as the option's text would read it back.
std::string proposed_limit(const Cut& cut, bool by_d, double wave) {
    const double bound = by_d ? cut.d_out : two_theta(cut.d_out, wave);
    const double magnitude = std::floor(std::log10(bound));
    for (int digits = 1; digits <= 17; ++digits) {
        const double scale = std::pow(10.0, digits - 1 - magnitude);
        const double x =
            by_d ? std::ceil(bound * scale) / scale : std::floor(bound * scale) / scale;
        char text[64];
        std::snprintf(text, sizeof text, "%.*g", digits, x);
        const double read = std::strtod(text, nullptr);
        const double d = by_d ? read : d_of_two_theta(read, wave);
        if (read > 0 && (by_d || read < 180) && d > cut.d_out && d <= *cut.d_in) return text;
    }
    return number_text(by_d ? *cut.d_in : two_theta(*cut.d_in, wave));
}

// A number for a message, to 9 significant digits.
std::string shown(double x) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", x);
    return text;
}

// Whether path names the same file as input (its device and inode), when
// both exist.
bool same_file(const std::string& path, const std::string& input) {
    struct stat a {
    }, b{};
    return !input.empty() && ::stat(path.c_str(), &a) == 0 && ::stat(input.c_str(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string write_file(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return std::strerror(errno);
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int write_errno = errno;
    if (std::fclose(f) != 0) return std::strerror(errno);
    return written ? "" : std::strerror(write_errno);
}

// A line for standard error: "peakhkl: " and the message, its control
// characters (a file's bytes may be any) as \xNN.
std::string line(const std::string& message) {
    std::string text = "peakhkl: ";
    for (const char c : message) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            text += hex;
        } else {
            text += c;
        }
    }
    return text + "\n";
}

// Adds each warning ("FILE:LINE: warning: ...") to what goes to standard
// error.
void say(Outcome& outcome, const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) outcome.err += line(warning);
}

// The refusal of a non-finite |F|^2: the first atom whose own part of it
// is not finite.
InputError non_finite(const Crystal& crystal, const Scatterers& s, const Reflection& r,
                      const Beam& beam) {
    const std::string hkl =
        std::to_string(r.hkl[0]) + " " + std::to_string(r.hkl[1]) + " " + std::to_string(r.hkl[2]);
    for (std::size_t i = 0; i < s.sites.size(); ++i)
        if (!std::isfinite(set_f2(crystal, {s.sites[i]}, {r}, beam)[0]))
            return InputError(s.atoms[i].where.text(), "an atom with a finite |F|^2",
                              "one that is not finite at " + hkl);
    return InputError("the atoms", "a finite |F|^2", "one that is not finite at " + hkl);
}

Outcome make_deck(const Options& o) {
    Outcome outcome;
    // The crystal.
    Crystal crystal;
    AtomSites atoms;
    std::string name = o.name;
    if (!o.cif.empty()) {
        if (!o.cell.empty() || !o.sg.empty())
            throw InputError("--cell/--sg", "either a CIF file or --cell and --sg",
                             "both, with " + quoted(o.cif));
        CifCrystal from_cif = read_cif(o.cif, o.block);
        crystal = std::move(from_cif.crystal);
        say(outcome, from_cif.warnings);
        atoms = std::move(from_cif.atoms);
        say(outcome, atoms.warnings);
        if (name.empty()) {
            name = mended_name(from_cif.name);
            const std::string source = from_cif.name_from.empty()
                                           ? "the block name " + quoted(from_cif.block)
                                           : "the name " + quoted(from_cif.name) + " of " +
                                                 from_cif.name_from + " (the block is data_" +
                                                 from_cif.block + ")";
            if (name != from_cif.name)
                outcome.err +=
                    line("note: " + source + " is not a Tcl and BLT name word (" +
                         name_fault(from_cif.name) + "); the deck is named " + quoted(name));
            else if (!from_cif.name_from.empty())
                outcome.err += line("note: the deck is named after " + source);
        }
    } else {
        if (o.cell.empty())
            throw InputError("the arguments", "a CIF file, or --cell and --sg", "neither");
        if (o.sg.empty()) throw InputError("--sg", "the space group of --cell", "no --sg");
        if (!o.block.empty()) throw InputError("--block", "a CIF file to take it from", "none");
        CellValues cell{};
        for (std::size_t i = 0; i < 6; ++i) cell[i] = real(o.cell[i], "--cell", "six numbers");
        crystal = make_crystal(cell, symmetry_from_symbol(o.sg, cell, "--sg"), "--cell");
        if (name.empty()) name = "crystal";
    }
    if (const std::string fault = name_fault(name); !fault.empty())
        throw InputError("--name", fault + " (it names Tcl variables and BLT vectors)",
                         quoted(name));

    // The wavelength and the limit.
    const Beam beam = beam_of(o);
    const double wave = beam.wave;
    if (!o.tt_max.empty() && !o.d_min.empty())
        throw InputError("--tt-max/--d-min", "one of the two limits", "both");
    double d_min = 0;
    if (!o.d_min.empty()) {
        d_min = real(o.d_min, "--d-min", "a d limit in angstroms above 0");
        if (!(d_min > 0))
            throw InputError("--d-min", "a d limit in angstroms above 0", quoted(o.d_min));
    } else {
        const std::string text = o.tt_max.empty() ? "90" : o.tt_max;
        const double tt = real(text, "--tt-max", "a 2theta limit in degrees");
        if (!(tt > 0 && tt < 180))
            throw InputError("--tt-max", "a 2theta limit between 0 and 180 degrees", quoted(text));
        d_min = d_of_two_theta(tt, wave);
    }
    const double ymin = real(o.ymin, "--ymin", "a number");
    const double ymax = real(o.ymax, "--ymax", "a number");
    const double zero = real(o.zero, "--zero", "a zero shift in degrees");

    // The list.
    if (o.no_deck && o.table.empty())
        throw InputError("--no-deck", "--table FILE to write the list to", "no --table");
    const std::size_t most = o.no_deck ? max_table_reflections : max_reflections;
    const auto list = reflection_list(crystal, d_min, o.allowed_only, most);
    if (!list) {
        const bool by_d = !o.d_min.empty();
        const char* option = by_d ? "--d-min" : "--tt-max";
        const Cut cut = cut_at(crystal, d_min, o.allowed_only, most);
        const std::string limit = std::to_string(most);
        std::string within = "no limit keeps fewer";
        if (cut.d_in)
            within = std::string(by_d ? "the smallest d limit that stays within " + limit +
                                            " is just above " + shown(cut.d_out) + " A"
                                      : "the largest 2theta limit that stays within " + limit +
                                            " is just below " + shown(two_theta(cut.d_out, wave)) +
                                            " degrees") +
                     ", e.g. " + option + " " + proposed_limit(cut, by_d, wave);
        throw InputError(
            option,
            "at most " + limit +
                (o.no_deck ? " reflections in the table (" : " reflections, as peakpos reads (") +
                within + ")",
            "more than " + limit);
    }

    // How strong each reflection is, from the atoms: an atom that cannot be
    // read costs the intensities (or, with --skip-unknown-atoms, only its
    // own part of them; with --strict, the run), never the positions.
    std::optional<Strengths> strengths;
    std::vector<Reflection> reflections = std::move(*list);
    std::string without_intensities;
    if (!atoms.sites.empty()) {
        const Scatterers s = scatterers(atoms.sites, beam);
        say(outcome, s.warnings);
        if (!s.faults.empty() && o.strict) {
            const AtomFault& f = s.faults.front();
            throw InputError(f.place.text(), f.expected + " (--strict)", f.found);
        }
        for (const AtomFault& f : s.faults)
            outcome.err +=
                line(f.place.warning("expected " + f.expected + ", found " + f.found +
                                     (o.skip_unknown ? "; the atom is left out of the intensities"
                                                     : "; no intensities (--skip-unknown-atoms "
                                                       "leaves the atom out of them)")));
        say(outcome, site_notes(crystal, s.atoms));
        if (s.faults.empty() || o.skip_unknown) {
            std::vector<double> f2 = set_f2(crystal, s.sites, reflections, beam);
            for (std::size_t i = 0; i < f2.size(); ++i)
                if (!std::isfinite(f2[i])) throw non_finite(crystal, s, reflections[i], beam);
            std::vector<double> intensity = intensities(reflections, f2, beam);
            strengths = Strengths{std::move(f2), std::move(intensity)};
        } else {
            without_intensities = " (an atom cannot be read; --skip-unknown-atoms leaves it out)";
        }
    }
    if (!o.min_intensity.empty()) {
        if (!strengths)
            throw InputError("--min-intensity",
                             "a crystal with atom sites (a CIF with _atom_site_)",
                             atoms.sites.empty() ? "none" : "none" + without_intensities);
        const double pct = real(o.min_intensity, "--min-intensity", "a percentage from 0 to 100");
        if (!(pct >= 0 && pct <= 100))
            throw InputError("--min-intensity", "a percentage from 0 to 100",
                             quoted(o.min_intensity));
        Strengths kept;
        std::vector<Reflection> strong;
        for (std::size_t i = 0; i < reflections.size(); ++i) {
            if (!reflections[i].extinct && strengths->intensity[i] < pct) continue;
            strong.push_back(reflections[i]);
            kept.f2.push_back(strengths->f2[i]);
            kept.intensity.push_back(strengths->intensity[i]);
        }
        reflections = std::move(strong);
        strengths = std::move(kept);
    }

    if (!o.table.empty()) {
        if (same_file(o.table, o.cif))
            throw InputError("--table", "a file other than the CIF it is made from",
                             quoted(o.table) + ", the CIF itself");
        const std::string table = table_text(reflections, wave, strengths ? &*strengths : nullptr);
        if (const std::string why = write_file(o.table, table); !why.empty()) {
            outcome.status = 1;
            outcome.err += line(o.table + ": cannot write the table: " + why);
            return outcome;
        }
    }
    if (o.no_deck) {
        outcome.what = "nothing";
        return outcome;
    }
    outcome.out = deck_text({name, crystal.symmetry.symbol, crystal.cell, wave, ymin, ymax, zero},
                            reflections);
    return outcome;
}

} // namespace

std::string usage() {
    return "usage: peakhkl FILE.cif [--block NAME] --wave W [options]\n"
           "       peakhkl --cell A B C ALPHA BETA GAMMA --sg SYMBOL --wave W [options]\n"
           "Writes a deck for peakpos on standard output: every reflection with d >= d_min,\n"
           "one per set of reflections equivalent under the Laue group, those the space\n"
           "group makes systematically absent flagged extinct.\n"
           "  --wave W          the wavelength (required): angstroms, or a line named as\n"
           "                    --waves lists them, in any case (CuKa1, CuKa2, CuKb, and\n"
           "                    CuKa the mean (2 Ka1 + Ka2)/3; Mo Co Cr Fe Ag alike)\n"
           "  --waves           list the named lines and their wavelengths\n"
           "  --tt-max DEG      the 2theta limit in degrees (default 90), or\n"
           "  --d-min A         the d limit in angstroms\n"
           "  --sg SYMBOL       Hermann-Mauguin name (P 21/c, Fm-3m, R 3 :R), number, or\n"
           "                    hall: and a Hall symbol (with --cell)\n"
           "  --block NAME      the data block of a CIF that holds several\n"
           "  --allowed-only    leave the systematically absent reflections out\n"
           "  --name WORD       the deck's name (default: the CIF block name, or crystal)\n"
           "  --ymin Y --ymax Y --zero DEG\n"
           "                    the sticks' y range and zero shift (default 0 100 0)\n"
           "  --table FILE      also write the list as a tab-separated table, with |F|^2\n"
           "                    and the intensity of each reflection from the CIF's atoms\n"
           "  --radiation R     xray (default) or neutron\n"
           "  --no-dispersion   X-rays: leave out the anomalous terms f', f''\n"
           "  --monochromator DEG  the monochromator's 2theta (default 0: no monochromator)\n"
           "  --polarization F  the beam's fraction polarized perpendicular to the\n"
           "                    scattering plane (synchrotron; an unpolarized tube is 0.5)\n"
           "  --min-intensity PCT  leave out the allowed reflections weaker than PCT\n"
           "                    percent of the strongest\n"
           "  --skip-unknown-atoms  leave atoms that cannot be read (dummy and unknown\n"
           "                    atoms, coordinates ? or .) out of the intensities\n"
           "  --strict          refuse a CIF with an atom that cannot be read (by default\n"
           "                    its table has no intensities, with a warning)\n"
           "  --no-deck         with --table: write the table only, up to 2000000\n"
           "                    reflections (a deck holds at most 5000)\n"
           "  --help, --version\n";
}

Outcome run(const std::vector<std::string>& args) {
    try {
        if (args.empty()) throw UsageError{"no crystal and no wavelength"};
        const Options o = parse_options(args);
        if (o.help) return {0, usage(), "", "the help"};
        if (o.version) return {0, "peakhkl " PEAKHKL_VERSION "\n", "", "the version"};
        if (o.waves) return {0, waves_text(), "", "the wavelengths"};
        return make_deck(o);
    } catch (const UsageError& e) {
        return {2, "", line(e.what) + usage()};
    } catch (const InputError& e) {
        return {2, "", line(e.what())};
    }
}

} // namespace peakhkl
