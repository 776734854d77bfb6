#include "peakfit/report.hpp"

#include "peakfit/quantities.hpp"

#include "peakfit/geometry.hpp"

#include "peakhkl/bragg.hpp"
#include "peakhkl/deck_writer.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>

namespace peakfit {

namespace {

using json = nlohmann::ordered_json;

std::size_t sz(int i) {
    return static_cast<std::size_t>(i);
}

std::string printed(const char* format, double x) {
    char t[64];
    std::snprintf(t, sizeof t, format, x);
    return t;
}

json number(double value, double esd) {
    json j;
    j["value"] = value;
    j["esd"] = std::isfinite(esd) && esd > 0 ? json(esd) : json(nullptr);
    return j;
}

int position_of(const std::vector<int>& list, int q) {
    const auto it = std::find(list.begin(), list.end(), q);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

// The phase's allowed reflections at the refined cell within the data's
// 2theta span, by decreasing d, at most max_count.
std::vector<peakhkl::Reflection> refined_list(const Run& run, std::size_t f,
                                              std::size_t max_count) {
    const Model& m = *run.model;
    const Phase& ph = m.phases()[f];
    const std::vector<double> p = m.values();
    const Metric a = ph.constraint.metric(p.data() + ph.metric);
    std::vector<peakhkl::Reflection> list;
    for (const peakhkl::Reflection& r : ph.reflections) {
        peakhkl::Reflection x = r;
        x.d = 1 / std::sqrt(inverse_d2(a, r.hkl));
        const double tt = peakhkl::two_theta(x.d, m.instrument().alpha1);
        if (tt < 0 || tt > m.data().x_hi) continue;
        list.push_back(x);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& x, const auto& y) { return x.d > y.d; });
    if (list.size() > max_count) list.resize(max_count);
    return list;
}

const char* const cell_tags[7] = {"_cell_length_a",    "_cell_length_b",   "_cell_length_c",
                                  "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma",
                                  "_cell_volume"};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The CIF of the phase: its own file with the cell's values replaced in
// its block, or a small one for a phase given by --cell.
std::string cif_text(const Run& run, std::size_t f, const CellWithEsd& cell) {
    const Phase& ph = run.model->phases()[f];
    std::vector<std::string> values;
    for (int j = 0; j < 7; ++j)
        values.push_back(with_esd(cell.value[sz(j)], cell.esd[sz(j)], j < 3 ? 6 : 4));
    const PhaseSource& src = run.sources[f];
    if (!src.cif_path.empty()) {
        std::ifstream in(src.cif_path, std::ios::binary);
        std::string line, out;
        bool in_block = false, seen_block = false;
        std::vector<bool> done(7, false);
        while (std::getline(in, line)) {
            std::string word;
            std::istringstream words(line);
            words >> word;
            const std::string w = lower(word);
            if (w.rfind("data_", 0) == 0) {
                in_block = !seen_block && (src.block.empty() || w.substr(5) == lower(src.block));
                seen_block = seen_block || in_block;
            }
            if (in_block)
                for (int j = 0; j < 7; ++j) {
                    std::string dotted = cell_tags[j];
                    dotted[5] = '.';
                    if ((w == cell_tags[j] || w == dotted) && !done[sz(j)]) {
                        line = word + "  " + values[sz(j)];
                        done[sz(j)] = true;
                    }
                }
            out += line + "\n";
        }
        return out;
    }
    std::string out =
        "# The refined cell of " + ph.name + ", written by peakfit\ndata_" + ph.name + "\n";
    for (int j = 0; j < 7; ++j) out += std::string(cell_tags[j]) + "  " + values[sz(j)] + "\n";
    if (!ph.crystal.symmetry.symbol.empty())
        out += "_space_group_name_H-M_alt  '" + ph.crystal.symmetry.symbol + "'\n";
    out += "loop_\n_space_group_symop_operation_xyz\n";
    for (const gemmi::Op& op : ph.crystal.symmetry.ops.all_ops_sorted())
        out += "'" + op.triplet() + "'\n";
    return out;
}

} // namespace

std::string with_esd(double value, double esd, int plain) {
    if (!(std::isfinite(esd) && esd > 0))
        return printed(("%." + std::to_string(plain) + "f").c_str(), value);
    int decimals = static_cast<int>(std::ceil(-std::log10(esd))) + 1;
    // Two significant digits, one where they would read 20 or more.
    long digits = std::lround(esd * std::pow(10.0, decimals));
    if (digits >= 20) {
        --decimals;
        digits = std::lround(esd * std::pow(10.0, decimals));
    }
    if (decimals < 0) decimals = 0;
    return printed(("%." + std::to_string(decimals) + "f").c_str(), value) + "(" +
           std::to_string(digits) + ")";
}

CellWithEsd phase_cell(const Run& run, std::size_t f) {
    const Model& m = *run.model;
    const Phase& ph = m.phases()[f];
    const std::vector<double> values = m.values();
    const std::vector<double> p(values.begin() + ph.metric,
                                values.begin() + ph.metric + ph.constraint.free());
    const int n = ph.constraint.free();
    Eigen::MatrixXd cov = Eigen::MatrixXd::Zero(n, n);
    const RefineResult& r = *run.result;
    bool all = r.covariance.size() > 0;
    for (int i = 0; i < n && all; ++i) all = position_of(r.refined, ph.metric + i) >= 0;
    if (all)
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                cov(i, j) = r.covariance(position_of(r.refined, ph.metric + i),
                                         position_of(r.refined, ph.metric + j));
    return cell_with_esd(ph.constraint, p, cov);
}

std::map<std::string, std::string> outputs(const Run& run) {
    const Model& m = *run.model;
    const RefineResult& r = *run.result;
    const std::vector<double> p = m.values();
    const Instrument& in = m.instrument();
    std::map<std::string, std::string> files;
    const auto esd_of = [&](int q) { return q >= 0 ? r.esd[sz(q)] : NAN; };

    // The zero the decks carry: the zero, and the displacement's shift at
    // the middle of the fitted range folded into it.
    const double mid = (m.data().x_lo + m.data().x_hi) / 2;
    const double deck_zero = p[sz(m.zero)] - 2 * p[sz(m.displacement)] / in.radius *
                                                 std::cos(mid * std::numbers::pi / 360) * 180 /
                                                 std::numbers::pi;

    json j;
    j["program"] = "peakfit";
    j["version"] = run.version;
    std::string mode = m.phases().empty() ? "lebail" : mode_name(m.phases()[0].mode);
    for (const Phase& ph : m.phases())
        if (ph.mode == Mode::rietveld) mode = "rietveld";
    j["mode"] = mode;
    j["converged"] = r.converged;
    j["reason"] = r.reason;
    j["data"] = {{"path", run.data_path},
                 {"points", m.data().size()},
                 {"first", m.data().x_lo},
                 {"last", m.data().x_hi}};
    j["wavelengths"] = {{"alpha1", in.alpha1},
                        {"alpha2", in.alpha2 > 0 ? json(in.alpha2) : json(nullptr)},
                        {"ratio", in.alpha2 > 0 ? json(p[sz(m.ratio)]) : json(nullptr)}};
    j["R"] = {{"Rp", r.r.rp},
              {"Rwp", r.r.rwp},
              {"Rexp", r.r.rexp},
              {"GoF", r.r.gof},
              {"Rwp_background_subtracted", r.r.rwp_background}};
    j["zero_deg"] = number(p[sz(m.zero)], esd_of(m.zero));
    j["displacement_mm"] = number(p[sz(m.displacement)], esd_of(m.displacement));
    j["radius_mm"] = in.radius;
    j["kalpha2_ratio"] = number(p[sz(m.ratio)], in.alpha2 > 0 ? esd_of(m.ratio) : NAN);
    j["stages"] = json::array();
    for (const StageReport& s : r.stages)
        j["stages"].push_back({{"name", s.name},
                               {"Rwp_before", s.rwp_before},
                               {"Rwp_after", s.rwp_after},
                               {"iterations", s.iterations},
                               {"seconds", s.seconds},
                               {"undone", s.undone}});
    j["phases"] = json::array();
    const char* const names[7] = {"a", "b", "c", "alpha", "beta", "gamma", "volume"};
    for (std::size_t f = 0; f < m.phases().size(); ++f) {
        const Phase& ph = m.phases()[f];
        const CellWithEsd cell = phase_cell(run, f);
        json q;
        q["name"] = ph.name;
        q["mode"] = mode_name(ph.mode);
        q["space_group"] = ph.crystal.symmetry.symbol;
        for (int k = 0; k < 7; ++k) q[names[k]] = number(cell.value[sz(k)], cell.esd[sz(k)]);
        q["deck"] = "-" + ph.name + ".deck";
        q["cif"] = "-" + ph.name + ".cif";
        q["table"] = "-" + ph.name + ".tsv";
        if (run.amounts != nullptr) q.update(phase_quantities(m, r, *run.amounts, f));
        j["phases"].push_back(q);

        // The deck.
        peakhkl::DeckValues dv;
        dv.name = ph.name;
        dv.symbol = ph.crystal.symmetry.symbol;
        dv.cell = {cell.value[0], cell.value[1], cell.value[2],
                   cell.value[3], cell.value[4], cell.value[5]};
        dv.wave = in.alpha1;
        dv.ymin = 0;
        dv.ymax = 100;
        dv.zero = deck_zero;
        files["-" + ph.name + ".deck"] = peakhkl::deck_text(dv, refined_list(run, f, 5000));
        files["-" + ph.name + ".cif"] = cif_text(run, f, cell);

        // The table: each reflection at its refined position, with the
        // integrated intensity of its Kalpha1 line.
        std::string t = "h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity\n";
        std::vector<std::size_t> order(ph.reflections.size());
        for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
        for (const std::size_t k : order) {
            const Line l = m.line(p.data(), static_cast<int>(f), static_cast<int>(k), 0);
            if (!l.ok || l.position < m.data().x_lo || l.position > m.data().x_hi) continue;
            const auto& h = ph.reflections[k].hkl;
            const double d =
                1 / std::sqrt(inverse_d2(ph.constraint.metric(p.data() + ph.metric), h));
            char row[256];
            std::snprintf(row, sizeof row, "%d\t%d\t%d\t%.6f\t%.4f\t%d\t0\t", h[0], h[1], h[2], d,
                          l.position, ph.reflections[k].multiplicity);
            t += row;
            t += ph.f2.empty() ? "-" : printed("%.6f", ph.f2[k]);
            t += "\t" +
                 printed("%.3f", m.intensity(p.data(), static_cast<int>(f), static_cast<int>(k))) +
                 "\n";
        }
        files["-" + ph.name + ".tsv"] = t;
    }
    json params = json::object();
    for (std::size_t q = 0; q < m.parameters().size(); ++q)
        params[m.parameters()[q].name] = number(p[q], r.esd[q]);
    j["parameters"] = params;
    j["correlations"] = json::array();
    for (const Correlation& c : r.correlations)
        j["correlations"].push_back(
            {m.parameters()[sz(c.p)].name, m.parameters()[sz(c.q)].name, c.r});
    j["singular"] = r.singular;
    if (run.amounts != nullptr && run.amounts->amorphous) {
        const Amounts& a = *run.amounts;
        j["amorphous_percent"] = value_esd(100 * a.amorphous->value, 100 * a.amorphous->esd);
        j["amorphous_percent_without_standard"] =
            value_esd(100 * a.amorphous_original->value, 100 * a.amorphous_original->esd);
    }
    files[".json"] = j.dump(2) + "\n";

    // The pattern.
    std::vector<double> yc, bg;
    m.calculate(p.data(), yc, bg);
    const Data& d = m.data();
    std::string x = "# 2theta observed calculated background difference\n";
    for (std::size_t s = 0; s < d.segments(); ++s) {
        if (s > 0) x += "# range " + std::to_string(s + 1) + "\n";
        for (std::size_t i = d.start[s]; i < d.start[s + 1]; ++i) {
            char row[160];
            std::snprintf(row, sizeof row, "%.6f %.8g %.8g %.8g %.8g\n", d.x[i], d.y[i], yc[i],
                          bg[i], d.y[i] - yc[i]);
            x += row;
        }
    }
    files[".xye"] = x;
    return files;
}

std::string summary(const Run& run) {
    const Model& m = *run.model;
    const RefineResult& r = *run.result;
    const std::vector<double> p = m.values();
    std::string s;
    char line[256];
    std::snprintf(line, sizeof line, "%zu points, %zu parameters refined, %s\n", r.r.points,
                  r.r.parameters,
                  r.converged ? "converged" : ("not converged: " + r.reason).c_str());
    s += line;
    s += "phase                     a              b              c              alpha        "
         "  beta           gamma          volume\n";
    for (std::size_t f = 0; f < m.phases().size(); ++f) {
        const CellWithEsd c = phase_cell(run, f);
        std::snprintf(line, sizeof line, "%-25s", m.phases()[f].name.c_str());
        s += line;
        for (int k = 0; k < 7; ++k) {
            std::snprintf(line, sizeof line, " %-14s",
                          with_esd(c.value[sz(k)], c.esd[sz(k)], k < 3 ? 6 : 4).c_str());
            s += line;
        }
        s += "\n";
    }
    const auto shown = [&](const char* name, int q, const char* unit, bool free) {
        s += std::string(name) + " " + with_esd(p[sz(q)], r.esd[sz(q)], 5) + " " + unit +
             (free ? "" : " (held)") + "\n";
    };
    shown("zero", m.zero, "deg", run.zero);
    shown("displacement", m.displacement, "mm (> 0: lines moved to lower 2theta)",
          run.displacement);
    if (m.has_alpha2()) shown("Kalpha2/Kalpha1", m.ratio, "", true);
    std::snprintf(
        line, sizeof line,
        "Rp %.3f%%  Rwp %.3f%%  Rexp %.3f%%  GoF %.4f  Rwp(background subtracted) %.3f%%\n", r.r.rp,
        r.r.rwp, r.r.rexp, r.r.gof, r.r.rwp_background);
    s += line;
    for (const Correlation& c : r.correlations)
        s += "correlation " + m.parameters()[sz(c.p)].name + " " + m.parameters()[sz(c.q)].name +
             " " + printed("%.3f", c.r) + "\n";
    if (run.amounts != nullptr)
        for (const std::string& l : quantity_lines(m, *run.amounts))
            if (l.rfind("warning: ", 0) != 0) s += "weight " + l + "\n";
    return s;
}

} // namespace peakfit
