#include "peakfit/cli.hpp"

#include "peakfit/data.hpp"
#include "peakfit/lebail.hpp"
#include "peakfit/model.hpp"
#include "peakfit/phase.hpp"
#include "peakfit/quantities.hpp"
#include "peakfit/refine.hpp"
#include "peakfit/report.hpp"

#include "pattern/pattern.hpp"
#include "peakhkl/bragg.hpp"
#include "peakhkl/cif.hpp"
#include "peakhkl/crystal.hpp"
#include "peakhkl/deck_writer.hpp"
#include "peakhkl/error.hpp"
#include "peakhkl/wavelengths.hpp"
#include "peakpos/deck.hpp"
#include "peakpos/io.hpp"
#include "peakpos/run.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>

#ifndef PEAKFIT_VERSION
#define PEAKFIT_VERSION "unknown"
#endif

namespace peakfit {

namespace {

// A refusal: where (an option, or FILE:LINE) and what.
struct Refused {
    std::string where, what;
};

struct PhaseArg {
    std::string path, block, sg, name;
    std::vector<std::string> cell; // --cell group
};

struct Options {
    std::string data, mode, wave, kalpha2, ratio, radius = "240", background = "8";
    std::string out, time_limit, radiation, monochromator, polarization, threads;
    bool kalpha2_given = false, zero = false, displacement = false, inverse = false;
    bool help = false, version = false;
    std::vector<std::string> range;
    std::vector<std::pair<std::string, std::string>> excluded;
    std::vector<PhaseArg> phases;
    QuantityOptions quantities; // --biso, --po, --standard, --brindley
};

bool is_number(const std::string& s) {
    double x = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), x);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

double real(const std::string& text, const std::string& option, const std::string& expected) {
    double x = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), x);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(x))
        throw Refused{option, "expected " + expected + ", found " + peakhkl::quoted(text)};
    return x;
}

Options parse(const std::vector<std::string>& args) {
    Options o;
    const std::vector<std::pair<std::string, std::string Options::*>> valued{
        {"--data", &Options::data},
        {"--mode", &Options::mode},
        {"--wave", &Options::wave},
        {"--ratio", &Options::ratio},
        {"--radius", &Options::radius},
        {"--background", &Options::background},
        {"--out", &Options::out},
        {"--time-limit", &Options::time_limit},
        {"--radiation", &Options::radiation},
        {"--monochromator", &Options::monochromator},
        {"--polarization", &Options::polarization},
        {"--threads", &Options::threads}};
    const std::vector<std::pair<std::string, bool Options::*>> flags{
        {"--zero", &Options::zero},
        {"--displacement", &Options::displacement},
        {"--background-inverse", &Options::inverse},
        {"--help", &Options::help},
        {"--version", &Options::version}};
    std::vector<std::string> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (take_quantity_option(args, i, o.quantities)) continue;
        const std::string& a = args[i];
        const auto needs = [&](std::size_t n) {
            if (args.size() - i - 1 < n)
                throw Refused{a, "expected " + std::to_string(n) + (n == 1 ? " value" : " values") +
                                     ", found the end of the arguments"};
        };
        const auto once = [&] {
            if (std::find(given.begin(), given.end(), a) != given.end())
                throw Refused{a, "given twice"};
            given.push_back(a);
        };
        bool matched = false;
        for (const auto& [name, member] : flags)
            if (a == name) {
                o.*member = true;
                matched = true;
            }
        if (matched) continue;
        for (const auto& [name, member] : valued)
            if (a == name) {
                needs(1);
                once();
                o.*member = args[++i];
                matched = true;
            }
        if (matched) continue;
        if (a == "--kalpha2") {
            once();
            o.kalpha2_given = true;
            if (i + 1 < args.size() && (is_number(args[i + 1]) || args[i + 1] == "none"))
                o.kalpha2 = args[++i];
        } else if (a == "--range") {
            needs(2);
            once();
            o.range = {args[i + 1], args[i + 2]};
            i += 2;
        } else if (a == "--exclude") {
            needs(2);
            o.excluded.emplace_back(args[i + 1], args[i + 2]);
            i += 2;
        } else if (a == "--cell") {
            needs(6);
            PhaseArg p;
            p.cell.assign(args.begin() + static_cast<long>(i) + 1,
                          args.begin() + static_cast<long>(i) + 7);
            o.phases.push_back(p);
            i += 6;
        } else if (a == "--sg" || a == "--name" || a == "--block") {
            needs(1);
            if (o.phases.empty())
                throw Refused{a, "expected after a phase (a CIF, a deck or --cell)"};
            PhaseArg& p = o.phases.back();
            std::string& slot = a == "--sg" ? p.sg : a == "--name" ? p.name : p.block;
            if (!slot.empty()) throw Refused{a, "given twice for one phase"};
            if (a == "--block" && (p.path.empty() || !p.cell.empty()))
                throw Refused{a, "expected right after a CIF file"};
            slot = args[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            throw Refused{a, "unknown option (peakfit --help lists them)"};
        } else {
            PhaseArg p;
            p.path = a;
            o.phases.push_back(p);
        }
    }
    return o;
}

// The name a phase's files are named after: letters, digits, '_' and '-'.
std::string file_word(const std::string& name) {
    std::string w = peakhkl::mended_name(name);
    for (char& c : w)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) c = '_';
    return w;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Refused{path, "cannot be read"};
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool looks_like_cif(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".cif") return true;
    if (ext == ".deck") return false;
    const std::string text = read_text(path);
    return text.find("data_") != std::string::npos &&
           text.find("_cell_length_a") != std::string::npos;
}

struct Crystal {
    peakhkl::Crystal crystal;
    std::string name;
    PhaseSource source;
    bool from_cif = false;
    std::vector<peakhkl::AtomSite> atoms; // a CIF's atom sites
    std::vector<std::string> atom_warnings;
};

Crystal crystal_of(const PhaseArg& p, std::string& notes) {
    Crystal c;
    if (!p.cell.empty()) {
        if (p.sg.empty()) throw Refused{"--sg", "expected the space group of the --cell before it"};
        peakhkl::CellValues cell{};
        for (std::size_t i = 0; i < 6; ++i) cell[i] = real(p.cell[i], "--cell", "six numbers");
        c.crystal = peakhkl::make_crystal(cell, peakhkl::symmetry_from_symbol(p.sg, cell, "--sg"),
                                          "--cell");
        c.name = p.name.empty() ? "phase" : p.name;
        return c;
    }
    if (looks_like_cif(p.path)) {
        if (!p.sg.empty()) throw Refused{"--sg", "expected with --cell or a deck, not after a CIF"};
        peakhkl::CifCrystal from = peakhkl::read_cif(p.path, p.block);
        for (const std::string& w : from.warnings) notes += "peakfit: " + w + "\n";
        c.crystal = std::move(from.crystal);
        c.name = p.name.empty() ? from.name : p.name;
        c.source = {p.path, from.block};
        c.from_cif = true;
        c.atoms = std::move(from.atoms.sites);
        c.atom_warnings = std::move(from.atoms.warnings);
        return c;
    }
    // A deck: its cell, and its space group from its name line (after the
    // name word) or from --sg.
    const std::string text = read_text(p.path);
    peakpos::MemorySource src(text);
    auto deck = std::make_unique<peakpos::Run>();
    try {
        peakpos::read_deck(src, *deck);
    } catch (const peakpos::DeckError& e) {
        throw Refused{p.path + ":" + std::to_string(e.at.line),
                      e.item + ": expected " + e.expected + ", found " + e.found};
    }
    const std::string line(deck->dnam.begin(), deck->dnam.end());
    std::istringstream words(line);
    std::string word, symbol, w;
    words >> word;
    while (words >> w) symbol += (symbol.empty() ? "" : " ") + w;
    const std::string sg = p.sg.empty() ? symbol : p.sg;
    if (sg.empty())
        throw Refused{p.path + ":1",
                      "expected a space group after the name word, or --sg after the deck"};
    const peakhkl::CellValues cell{deck->a, deck->b, deck->c, deck->alpha, deck->beta, deck->gamma};
    c.crystal = peakhkl::make_crystal(
        cell, peakhkl::symmetry_from_symbol(sg, cell, p.sg.empty() ? p.path + ":1" : "--sg"),
        p.path + ":2");
    c.name = p.name.empty() ? word : p.name;
    return c;
}

// The wavelengths of the fit: the options' over the file's.
Instrument instrument_of(const Options& o, const pattern::Pattern& pat, const std::string& data,
                         std::string& notes) {
    Instrument in;
    const bool neutron = o.radiation == "neutron";
    if (!o.radiation.empty() && o.radiation != "xray" && !neutron)
        throw Refused{"--radiation",
                      "expected xray or neutron, found " + peakhkl::quoted(o.radiation)};
    if (neutron) in.beam.radiation = peakhkl::Radiation::neutron;
    double a1 = pat.wave.alpha1, a2 = pat.wave.alpha2;
    double ratio = pat.wave.ratio;
    if (!o.wave.empty()) {
        double w1 = NAN, w2 = NAN;
        std::string base = o.wave;
        for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (peakhkl::named_line(o.wave)) {
            if (neutron) throw Refused{"--wave", "expected a neutron wavelength in angstroms"};
            std::string stem = base;
            if (!stem.empty() && (stem.back() == '1' || stem.back() == '2')) stem.pop_back();
            if (stem.size() > 2 && stem.substr(stem.size() - 2) == "ka") {
                w1 = *peakhkl::named_line(stem + "1");
                w2 = *peakhkl::named_line(stem + "2");
                if (base.back() == '2') w1 = *peakhkl::named_line(base), w2 = NAN;
            } else {
                w1 = *peakhkl::named_line(o.wave);
            }
        } else {
            w1 = real(o.wave, "--wave",
                      "a wavelength in angstroms or a line (" + peakhkl::line_names() + ")");
            if (!(w1 >= 0.05 && w1 <= 50))
                throw Refused{"--wave", "expected a wavelength from 0.05 to 50 angstroms"};
        }
        if (std::isfinite(a1) && std::abs(a1 - w1) > 1e-6 * w1) {
            char t[256];
            std::snprintf(t, sizeof t,
                          "peakfit: warning: --wave %.7g A differs from the %.7g A that %s states "
                          "(%s): the option's is used\n",
                          w1, a1, data.c_str(), pat.wave.source.c_str());
            notes += t;
            a2 = w2;
        } else if (!std::isfinite(a2)) {
            a2 = w2;
        }
        a1 = w1;
    }
    if (!std::isfinite(a1) || !(a1 > 0)) throw Refused{data, "states no wavelength: give --wave"};
    in.alpha1 = a1;
    in.alpha2 = std::isfinite(a2) && a2 > a1 ? a2 : 0;
    if (o.kalpha2_given) {
        if (o.kalpha2 == "none")
            in.alpha2 = 0;
        else if (!o.kalpha2.empty())
            in.alpha2 = real(o.kalpha2, "--kalpha2", "a wavelength in angstroms");
        else if (in.alpha2 == 0)
            throw Refused{"--kalpha2", "expected a wavelength: neither the line named nor " + data +
                                           " gives one"};
        if (in.alpha2 != 0 && !(in.alpha2 > in.alpha1 && in.alpha2 < in.alpha1 * 1.01))
            throw Refused{"--kalpha2", "expected a wavelength just above Kalpha1's"};
    }
    if (neutron) in.alpha2 = 0;
    in.beam.wave = in.alpha1;
    if (!o.monochromator.empty() && !o.polarization.empty())
        throw Refused{"--monochromator/--polarization", "expected one of the two, found both"};
    if (!o.monochromator.empty()) {
        in.beam.monochromator =
            real(o.monochromator, "--monochromator", "the monochromator's 2theta in degrees");
        if (!(in.beam.monochromator >= 0 && in.beam.monochromator < 180))
            throw Refused{"--monochromator", "expected a 2theta from 0 to 180 degrees"};
    }
    if (!o.polarization.empty()) {
        in.beam.polarized = real(o.polarization, "--polarization", "a fraction from 0 to 1");
        if (!(*in.beam.polarized >= 0 && *in.beam.polarized <= 1))
            throw Refused{"--polarization", "expected a fraction from 0 to 1"};
    }
    in.radius = real(o.radius, "--radius", "the goniometer radius in mm");
    if (!(in.radius > 0)) throw Refused{"--radius", "expected a radius above 0 mm"};
    const double nb = real(o.background, "--background", "a number of terms from 1 to 32");
    if (!(nb >= 1 && nb <= 32 && nb == std::floor(nb)))
        throw Refused{"--background", "expected a number of terms from 1 to 32"};
    in.background_terms = static_cast<int>(nb);
    in.inverse_term = o.inverse;
    (void)ratio;
    return in;
}

// Writes every file under the prefix, or none: each to a temporary name
// first, renamed once all are written.
std::string write_all(const std::string& prefix, const std::map<std::string, std::string>& files) {
    std::vector<std::pair<std::string, std::string>> written;
    std::string why;
    for (const auto& [suffix, text] : files) {
        const std::string path = prefix + suffix;
        const std::string tmp = path + ".tmp" + std::to_string(::getpid());
        std::FILE* f = std::fopen(tmp.c_str(), "wb");
        if (f == nullptr) {
            why = path + ": cannot be written";
            break;
        }
        const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (std::fclose(f) != 0 || !ok) {
            std::remove(tmp.c_str());
            why = path + ": cannot be written";
            break;
        }
        written.emplace_back(tmp, path);
    }
    if (!why.empty()) {
        for (const auto& [tmp, path] : written) std::remove(tmp.c_str());
        return why;
    }
    for (const auto& [tmp, path] : written)
        if (std::rename(tmp.c_str(), path.c_str()) != 0) why = path + ": cannot be written";
    return why;
}

Outcome fit(const Options& o, void (*say)(const std::string&)) {
    Outcome out;
    if (o.data.empty()) throw Refused{"--data", "expected the measured pattern"};
    if (o.phases.empty())
        throw Refused{"the arguments", "expected a phase: a CIF, a deck, or --cell ... --sg"};
    // No --mode: Rietveld for the phases with atom sites (all of them when
    // every phase has atoms), Le Bail for the others.
    Mode mode = Mode::lebail;
    if (o.mode == "pawley")
        mode = Mode::pawley;
    else if (o.mode == "rietveld")
        mode = Mode::rietveld;
    else if (!o.mode.empty() && o.mode != "lebail")
        throw Refused{"--mode",
                      "expected lebail, pawley or rietveld, found " + peakhkl::quoted(o.mode)};

    pattern::Pattern pat;
    try {
        pat = pattern::read(o.data);
    } catch (const pattern::ReadError& e) {
        throw Refused{"", e.what()};
    }
    for (const pattern::Note& n : pat.notes)
        out.err += "peakfit: " + o.data + (n.line ? ":" + std::to_string(n.line) : "") +
                   ": note: " + n.text + "\n";
    const Instrument in = instrument_of(o, pat, o.data, out.err);

    Selection sel;
    if (!o.range.empty()) {
        sel.lo = real(o.range[0], "--range", "two 2theta values");
        sel.hi = real(o.range[1], "--range", "two 2theta values");
        if (!(sel.lo < sel.hi)) throw Refused{"--range", "expected TT0 below TT1"};
    }
    for (const auto& [a, b] : o.excluded) {
        const double x0 = real(a, "--exclude", "two 2theta values"),
                     x1 = real(b, "--exclude", "two 2theta values");
        if (!(x0 < x1)) throw Refused{"--exclude", "expected TT0 below TT1"};
        sel.excluded.emplace_back(x0, x1);
    }
    std::vector<std::string> notes;
    Data data = select_points(pat, sel, notes);
    for (const std::string& n : notes) out.err += "peakfit: note: " + n + "\n";
    if (data.size() < 10) throw Refused{o.data, "has fewer than 10 points within the range fitted"};

    std::vector<Phase> phases;
    std::vector<PhaseSource> sources;
    std::vector<std::string> inputs{o.data};
    std::vector<Crystal> crystals;
    std::vector<std::string> phase_names;
    std::vector<bool> rietveld;
    for (const PhaseArg& pa : o.phases) {
        Crystal c = crystal_of(pa, out.err);
        std::string name = file_word(c.name);
        for (int k = 2;
             std::find(phase_names.begin(), phase_names.end(), name) != phase_names.end(); ++k)
            name = file_word(c.name) + "_" + std::to_string(k);
        const std::string refusal = rietveld_refusal(c.atoms, c.from_cif);
        if (mode == Mode::rietveld && !refusal.empty())
            throw Refused{pa.path.empty() ? "--cell" : pa.path,
                          "phase " + name + " cannot be fitted by --mode rietveld: " + refusal};
        rietveld.push_back(mode == Mode::rietveld || (o.mode.empty() && refusal.empty()));
        phase_names.push_back(name);
        crystals.push_back(std::move(c));
    }
    const Quantities quantities = resolve(o.quantities, phase_names, rietveld);
    for (std::size_t f = 0; f < crystals.size(); ++f) {
        const PhaseArg& pa = o.phases[f];
        Crystal& c = crystals[f];
        const std::string& name = phase_names[f];
        Phase ph;
        if (rietveld[f]) {
            for (const std::string& w : c.atom_warnings) out.err += "peakfit: " + w + "\n";
            std::vector<std::string> warnings;
            ph = make_rietveld_phase(name, c.crystal, c.atoms, data, in, quantities.po_axis[f],
                                     o.quantities.biso, warnings);
            for (const std::string& w : warnings) out.err += "peakfit: " + w + "\n";
        } else {
            if (o.mode.empty() &&
                std::find(rietveld.begin(), rietveld.end(), true) != rietveld.end())
                out.err += "peakfit: note: " + name +
                           " has no atom sites: its intensities are fitted by Le Bail beside the "
                           "Rietveld phases\n";
            ph =
                make_phase(name, c.crystal, mode == Mode::rietveld ? Mode::lebail : mode, data, in);
        }
        bool inside = false;
        for (const auto& r : ph.reflections) {
            const double tt = peakhkl::two_theta(r.d, in.alpha1);
            if (tt >= data.x_lo && tt <= data.x_hi) inside = true;
        }
        if (!inside)
            throw Refused{pa.path.empty() ? "--cell" : pa.path,
                          "phase " + name + " has no reflection within the range fitted"};
        phases.push_back(std::move(ph));
        sources.push_back(c.source);
        if (!pa.path.empty()) inputs.push_back(pa.path);
    }

    Model model(std::move(data), in, std::move(phases));
    {
        std::vector<double> v = model.values();
        const double r = o.ratio.empty()
                             ? (std::isfinite(pat.wave.ratio) ? pat.wave.ratio : 0.5)
                             : real(o.ratio, "--ratio", "a Kalpha2/Kalpha1 ratio from 0 to 1");
        if (!(r >= 0 && r <= 1)) throw Refused{"--ratio", "expected a ratio from 0 to 1"};
        v[static_cast<std::size_t>(model.ratio)] = r;
        model.set_values(v);
    }
    RefineOptions ro;
    ro.zero = o.zero;
    ro.displacement = o.displacement;
    ro.ratio = model.has_alpha2();
    ro.threads = static_cast<int>(std::max(1u, std::min(std::thread::hardware_concurrency(), 8u)));
    if (!o.threads.empty())
        ro.threads = static_cast<int>(real(o.threads, "--threads", "a number of threads"));
    if (!o.time_limit.empty()) {
        ro.time_limit = real(o.time_limit, "--time-limit", "seconds above 0");
        if (!(ro.time_limit > 0)) throw Refused{"--time-limit", "expected seconds above 0"};
    }
    const std::size_t free = final_parameters(model, ro).size();
    if (free >= model.data().size())
        throw Refused{o.data, std::to_string(free) + " free parameters for " +
                                  std::to_string(model.data().size()) +
                                  " points: expected fewer parameters than points"};

    // The outputs may not be written over an input.
    std::vector<std::string> names{".json", ".xye"};
    for (const Phase& ph : model.phases())
        for (const char* s : {".deck", ".cif", ".tsv"}) names.push_back("-" + ph.name + s);
    if (!o.out.empty())
        for (const std::string& n : names)
            for (const std::string& input : inputs) {
                std::error_code ec;
                if (std::filesystem::equivalent(o.out + n, input, ec))
                    throw Refused{"--out", o.out + n + " is the input " + input +
                                               ": it is not written over"};
            }

    std::string progress;
    ro.say = [&](const std::string& line) {
        const std::string l = "peakfit: " + line + "\n";
        if (say != nullptr)
            say(l);
        else
            out.err += l;
    };
    start_values(model);
    const RefineResult result = refine(model, ro);
    std::optional<Amounts> amounts;
    if (std::find(rietveld.begin(), rietveld.end(), true) != rietveld.end()) {
        try {
            amounts = peakfit::amounts(model, result, quantities.amounts);
        } catch (const std::domain_error& e) {
            throw Refused{"",
                          std::string("an atom's element has no X-ray attenuation: ") + e.what()};
        }
        for (const std::string& l : quantity_lines(model, *amounts))
            if (l.rfind("warning: ", 0) == 0) out.err += "peakfit: " + l + "\n";
    }

    Run run;
    std::error_code ec;
    run.data_path = std::filesystem::absolute(o.data, ec).string();
    run.version = PEAKFIT_VERSION;
    run.zero = o.zero;
    run.displacement = o.displacement;
    run.model = &model;
    run.result = &result;
    run.sources = sources;
    run.amounts = amounts ? &*amounts : nullptr;
    out.out = summary(run);
    if (!o.out.empty()) {
        const std::string why = write_all(o.out, outputs(run));
        if (!why.empty()) {
            out.err += "peakfit: " + why + " (nothing written under " + o.out + ")\n";
            out.status = 1;
            return out;
        }
    }
    if (!result.converged) {
        out.err += "peakfit: not converged: " + result.reason + "\n";
        out.status = 1;
    }
    return out;
}

} // namespace

std::string usage() {
    return "usage: peakfit --data FILE [OPTION]... PHASE...\n"
           "Fits the cells, the zero or the specimen displacement and the peak shapes of\n"
           "the phases to the measured pattern (Le Bail by default).\n"
           "PHASE: a CIF (--block NAME right after it picks a block), a deck (its space\n"
           "group on its name line, or --sg after it), or --cell A B C ALPHA BETA GAMMA\n"
           "--sg SYMBOL; --name WORD after any of them names the phase.\n"
           "  --data FILE         the measured pattern (xy, xye, GSAS raw, and the formats\n"
           "                      libxy reads)\n"
           "  --mode lebail|pawley|rietveld  intensities partitioned, refined, or from the\n"
           "                      atoms (default: rietveld for the phases with atom sites)\n"
           "  --biso              refine an overall B per Rietveld phase\n"
           "  --po NAME H K L     March-Dollase preferred orientation of phase NAME along H K L\n"
           "  --standard NAME PERCENT  phase NAME was added at PERCENT wt%: the amorphous part\n"
           "  --brindley [NAME] RADIUS_UM  Brindley's microabsorption correction for particles\n"
           "                      of that radius (one phase's, or all)\n"
           "  --wave NAME|A       the wavelength (default the file's): CuKa gives Ka1 and Ka2\n"
           "  --kalpha2 [A|none]  the Kalpha2 line (default the line's or the file's)\n"
           "  --ratio R           the start of the Kalpha2/Kalpha1 ratio (default the\n"
           "                      file's, or 0.5)\n"
           "  --zero              refine the zero shift\n"
           "  --displacement      refine the specimen displacement (mm; > 0 moves the lines\n"
           "                      to lower 2theta), with --radius MM (default 240)\n"
           "  --range TT0 TT1     fit only this 2theta range\n"
           "  --exclude TT0 TT1   leave this region out (repeatable)\n"
           "  --background N      Chebyshev terms (default 8); --background-inverse adds 1/2theta\n"
           "  --radiation xray|neutron, --monochromator DEG, --polarization F  as peakhkl\n"
           "  --out PREFIX        write PREFIX.json, PREFIX.xye, PREFIX-NAME.deck, .cif, .tsv\n"
           "  --time-limit S      stop after S seconds (status 1)\n"
           "  --threads N         threads (default: the machine's cores)\n"
           "  --help, --version\n"
           "Status: 0 converged, 1 written but not converged, 2 input refused.\n";
}

Outcome run(const std::vector<std::string>& args, void (*say)(const std::string&)) {
    try {
        const Options o = parse(args);
        if (o.help) return {0, usage(), ""};
        if (o.version) return {0, "peakfit " PEAKFIT_VERSION "\n", ""};
        return fit(o, say);
    } catch (const Refused& r) {
        return {2, "", "peakfit: " + (r.where.empty() ? "" : r.where + ": ") + r.what + "\n"};
    } catch (const peakhkl::InputError& e) {
        return {2, "", std::string("peakfit: ") + e.what() + "\n"};
    }
}

} // namespace peakfit
