#include "peakfit/model.hpp"

#include <algorithm>
#include <cmath>
#include <thread>

namespace peakfit {

namespace {

// Beyond this many FWHM (and the divergence's reach) from its centroid a
// line's divergence is one shifted copy: its tails differ from the full sum
// by a part in 10^4 of the peak.
constexpr double far_widths = 6;

std::size_t sz(int i) {
    return static_cast<std::size_t>(i);
}

// The Chebyshev polynomials of the first kind T_0 .. T_{n-1} at t in [-1, 1].
void chebyshev(double t, int n, double* out) {
    if (n > 0) out[0] = 1;
    if (n > 1) out[1] = t;
    for (int j = 2; j < n; ++j) out[j] = 2 * t * out[j - 1] - out[j - 2];
}

} // namespace

const char* mode_name(Mode mode) {
    return mode == Mode::pawley ? "pawley" : mode == Mode::rietveld ? "rietveld" : "lebail";
}

int Model::add(const std::string& name, double value, double lower, double upper) {
    Parameter q;
    q.name = name;
    q.value = value;
    q.lower = lower;
    q.upper = upper;
    parameters_.push_back(q);
    return static_cast<int>(parameters_.size()) - 1;
}

Model::Model(Data data, Instrument instrument, std::vector<Phase> phases)
    : data_(std::move(data)), instrument_(instrument), phases_(std::move(phases)) {
    background = static_cast<int>(parameters_.size());
    for (int j = 0; j < instrument_.background_terms; ++j)
        add("background_" + std::to_string(j), 0);
    if (instrument_.inverse_term) inverse = add("background_inverse", 0);
    zero = add("zero_deg", 0);
    displacement = add("displacement_mm", 0);
    ratio = add("kalpha2_ratio", 0.5, 0, 1);
    // Axial divergence: the mean of S/L and H/L, and the square of their
    // half difference.
    asym_s = add("asymmetry_SH_L", 0.01, 0, 0.5);
    asym_h = add("asymmetry_D2_L", 1e-5, 0, 0.25);
    int key = 0;
    for (std::size_t f = 0; f < phases_.size(); ++f) {
        Phase& ph = phases_[f];
        const std::vector<double> a = ph.constraint.parameters(metric_of_cell(ph.crystal.cell));
        ph.metric = static_cast<int>(parameters_.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            add(ph.name + "_metric_" + std::to_string(i + 1), a[i]);
        ph.profile = add(ph.name + "_U", 0, 0);
        add(ph.name + "_V", 0);
        add(ph.name + "_W", 0.005, 0);
        add(ph.name + "_X", 0, 0);
        add(ph.name + "_Y", 0, 0);
        if (ph.intensity.size() != ph.reflections.size())
            ph.intensity.assign(ph.reflections.size(), 1);
        if (ph.mode == Mode::pawley) {
            ph.intensity0 = static_cast<int>(parameters_.size());
            ph.pawley_index.assign(ph.reflections.size(), -1);
            std::vector<Eigen::VectorXd> seen;
            for (std::size_t k = 0; k < ph.reflections.size(); ++k) {
                const auto t = hkl_terms(ph.reflections[k].hkl);
                const Eigen::VectorXd v = ph.constraint.basis.transpose() *
                                          Eigen::Map<const Eigen::Matrix<double, 6, 1>>(t.data());
                for (std::size_t j = 0; j < k && ph.pawley_index[k] < 0; ++j)
                    if ((seen[j] - v).norm() <= 1e-9 * v.norm())
                        ph.pawley_index[k] = ph.pawley_index[j];
                seen.push_back(v);
                if (ph.pawley_index[k] >= 0) continue;
                const auto& h = ph.reflections[k].hkl;
                ph.pawley_index[k] =
                    add(ph.name + "_I(" + std::to_string(h[0]) + "," + std::to_string(h[1]) + "," +
                            std::to_string(h[2]) + ")",
                        ph.intensity[k], 0);
            }
        }
        if (ph.mode == Mode::rietveld) {
            ph.scale = add(ph.name + "_scale", 1, 0);
            if (ph.refine_biso) ph.biso = add(ph.name + "_biso", 0, -5, 20);
            if (ph.structure && ph.structure->oriented())
                ph.po = add(ph.name + "_po_ratio", 1, 0.1, 10);
        }
        key_offset_.push_back(key);
        for (std::size_t k = 0; k < ph.reflections.size(); ++k)
            for (int w = 0; w < (has_alpha2() ? 2 : 1); ++w) {
                keys_.push_back({static_cast<int>(f), static_cast<int>(k), w});
                ++key;
            }
    }
    for (const int q : {zero, displacement, ratio, asym_s, asym_h}) line_parameters_.push_back(q);
    for (const Phase& ph : phases_) {
        for (int m = 0; m < ph.constraint.free(); ++m) line_parameters_.push_back(ph.metric + m);
        for (int m = 0; m < 5; ++m) line_parameters_.push_back(ph.profile + m);
    }
    half_width_.assign(keys_.size(), 0);
    nodes_.assign(keys_.size(), 1);
    near_lo_.assign(keys_.size(), -1e300);
    near_hi_.assign(keys_.size(), 1e300);
    // Runs of points, each within one segment, small enough for threads
    // and for a sparse Jacobian.
    const std::size_t size = std::max<std::size_t>(256, data_.size() / 32 + 1);
    for (std::size_t s = 0; s < data_.segments(); ++s)
        for (std::size_t b = data_.start[s]; b < data_.start[s + 1]; b += size)
            chunks_.push_back({b, std::min(b + size, data_.start[s + 1]), {}});
}

std::vector<double> Model::values() const {
    std::vector<double> v;
    for (const Parameter& q : parameters_) v.push_back(q.value);
    return v;
}

void Model::set_values(const std::vector<double>& values) {
    for (std::size_t i = 0; i < parameters_.size(); ++i) parameters_[i].value = values[i];
}

int Model::index(const std::string& name) const {
    for (std::size_t i = 0; i < parameters_.size(); ++i)
        if (parameters_[i].name == name) return static_cast<int>(i);
    return -1;
}

double Model::intensity(const double* p, int phase, int k) const {
    const Phase& ph = phases_[sz(phase)];
    if (ph.mode == Mode::pawley) return p[ph.pawley_index[sz(k)]];
    if (ph.mode == Mode::rietveld)
        return rietveld(p, phase, k,
                        inverse_d2(ph.constraint.metric(p + ph.metric), ph.reflections[sz(k)].hkl))
            .i;
    return ph.intensity[sz(k)];
}

Model::Rietveld Model::rietveld(const double* p, int phase, int k, double s) const {
    const Phase& ph = phases_[sz(phase)];
    const double b = ph.biso >= 0 ? p[ph.biso] : 0;
    const double r = ph.po >= 0 ? p[ph.po] : 1;
    const StructureIntensities::Value v = ph.structure->at(sz(k), p[ph.scale], b, r, s / 4);
    // Lp of the Kalpha1 line and its slope in s (a central difference).
    const double lp = lp_at(s, instrument_.alpha1, instrument_.beam);
    const double h = 1e-6 * s;
    const double d_lp = (lp_at(s + h, instrument_.alpha1, instrument_.beam) -
                         lp_at(s - h, instrument_.alpha1, instrument_.beam)) /
                        (2 * h);
    return {v.i * lp, v.di_ds * lp, v.di_db * lp, v.di_dr * lp, v.di_ds2 / 4 * lp + v.i * d_lp};
}

Line Model::line(const double* p, int phase, int k, int which) const {
    Line l;
    l.phase = phase;
    l.reflection = k;
    l.which = which;
    const Phase& ph = phases_[sz(phase)];
    const Metric a = ph.constraint.metric(p + ph.metric);
    const auto terms = hkl_terms(ph.reflections[sz(k)].hkl);
    double s = 0;
    for (int j = 0; j < 6; ++j) s += a[sz(j)] * terms[sz(j)];
    std::array<double, 6> ds{};
    for (int i = 0; i < ph.constraint.free(); ++i)
        for (int j = 0; j < 6; ++j) ds[sz(i)] += ph.constraint.basis(j, i) * terms[sz(j)];
    const double wave = which == 0 ? instrument_.alpha1 : instrument_.alpha2;
    const LinePosition pos = line_position(s, wave, p[zero], p[displacement], instrument_.radius);
    if (!pos.ok) return l;
    l.position = pos.tt;
    l.theta = pos.theta;
    l.s = s;
    for (int i = 0; i < ph.constraint.free(); ++i) l.d_s_metric[sz(i)] = ds[sz(i)];
    l.d_position_disp = pos.d_disp;
    for (int i = 0; i < ph.constraint.free(); ++i) {
        l.d_position_metric[sz(i)] = pos.d_s * ds[sz(i)];
        l.d_theta_metric[sz(i)] = pos.d_theta_s * ds[sz(i)];
    }
    if (which == 1) {
        const LpRatio q = lp_ratio(s, instrument_.alpha1, instrument_.alpha2, instrument_.beam);
        l.strength = p[ratio] * q.value;
        l.d_strength_ratio = q.value;
        for (int i = 0; i < ph.constraint.free(); ++i)
            l.d_strength_metric[sz(i)] = p[ratio] * q.d_s * ds[sz(i)];
    }
    const double* w = p + ph.profile;
    l.width = tch_width(pos.theta, w[0], w[1], w[2], w[3], w[4]);
    if (!l.width.ok) return l;
    l.shape = pv_shape(l.width.fwhm, l.width.eta);
    const std::size_t key = sz(key_of(phase, k, which));
    l.asymmetry = fcj(pos.tt, p[asym_s], p[asym_h], nodes_[key]);
    double lo = 0, hi = 0;
    const Asymmetry& as = l.asymmetry;
    for (std::size_t j = 0; j < as.nodes; ++j) {
        lo = std::min(lo, as.shift[j]);
        hi = std::max(hi, as.shift[j]);
        l.centroid += as.weight[j] * as.shift[j];
        l.d_centroid_m += as.d_weight_m[j] * as.shift[j] + as.weight[j] * as.d_shift_m[j];
        l.d_centroid_d += as.d_weight_d[j] * as.shift[j] + as.weight[j] * as.d_shift_d[j];
        l.d_centroid_t += as.d_weight_t[j] * as.shift[j] + as.weight[j] * as.d_shift_t[j];
    }
    l.near_lo = near_lo_[key];
    l.near_hi = near_hi_[key];
    l.lo = pos.tt + lo - half_width_[key];
    l.hi = pos.tt + hi + half_width_[key];
    l.ok = true;
    return l;
}

Model::LineValue Model::line_value(const Line& line, double x, bool asymmetry) {
    LineValue v{0, 0, 0, 0, 0, 0};
    const Asymmetry& a = line.asymmetry;
    if (a.nodes > 1 && (x < line.near_lo || x > line.near_hi)) {
        const PseudoVoigt pv = pseudo_voigt(x - line.position - line.centroid, line.shape);
        return {pv.value, -pv.d_dx * (1 + line.d_centroid_t), pv.d_fwhm,
                pv.d_eta, -pv.d_dx * line.d_centroid_m,       -pv.d_dx * line.d_centroid_d};
    }
    for (std::size_t j = 0; j < a.nodes; ++j) {
        const PseudoVoigt pv = pseudo_voigt(x - line.position - a.shift[j], line.shape);
        v.value += a.weight[j] * pv.value;
        v.d_position -= a.weight[j] * pv.d_dx;
        if (a.nodes > 1) // the divergence changes with the line's 2theta
            v.d_position += a.d_weight_t[j] * pv.value - a.weight[j] * pv.d_dx * a.d_shift_t[j];
        v.d_fwhm += a.weight[j] * pv.d_fwhm;
        v.d_eta += a.weight[j] * pv.d_eta;
        if (a.nodes > 1 && asymmetry) {
            v.d_s += a.d_weight_m[j] * pv.value - a.weight[j] * pv.d_dx * a.d_shift_m[j];
            v.d_h += a.d_weight_d[j] * pv.value - a.weight[j] * pv.d_dx * a.d_shift_d[j];
        }
    }
    return v;
}

double Model::line_profile(const Line& line, double x) {
    const Asymmetry& a = line.asymmetry;
    if (a.nodes > 1 && (x < line.near_lo || x > line.near_hi))
        return pseudo_voigt_value(x - line.position - line.centroid, line.shape);
    double value = 0;
    for (std::size_t j = 0; j < a.nodes; ++j)
        value += a.weight[j] * pseudo_voigt_value(x - line.position - a.shift[j], line.shape);
    return value;
}

void Model::prepare(const double* p) {
    prepare_lines(p);
}

void Model::prepare_lines(const double* p) const {
    prepared_at_.clear();
    profiles_ready_ = false;
    prepared_.resize(keys_.size());
    for (std::size_t key = 0; key < keys_.size(); ++key) {
        const LineKey& k = keys_[key];
        prepared_[key] = line(p, k.phase, k.reflection, k.which);
    }
    for (const int q : line_parameters_) prepared_at_.push_back(p[q]);
}

const std::vector<Line>& Model::lines(const double* p) const {
    if (!is_prepared(p)) prepare_lines(p);
    return prepared_;
}

const std::vector<Model::Profile>& Model::profiles(const double* p) const {
    if (!is_prepared(p)) prepare_lines(p);
    if (profiles_ready_) return profiles_;
    profiles_.resize(keys_.size());
    const auto fill = [&](std::size_t from, std::size_t to) {
        for (std::size_t key = from; key < to; ++key) {
            const Line& l = prepared_[key];
            Profile& pr = profiles_[key];
            pr.value.clear();
            pr.runs.clear();
            if (!l.ok) continue;
            for (std::size_t s = 0; s < data_.segments(); ++s) {
                const auto first = data_.x.begin() + static_cast<long>(data_.start[s]);
                const auto last = data_.x.begin() + static_cast<long>(data_.start[s + 1]);
                auto it = std::lower_bound(first, last, l.lo);
                const std::size_t begin = static_cast<std::size_t>(it - data_.x.begin());
                for (; it != last && *it <= l.hi; ++it) pr.value.push_back(line_profile(l, *it));
                const std::size_t end = static_cast<std::size_t>(it - data_.x.begin());
                if (end > begin) pr.runs.emplace_back(begin, end - begin);
            }
        }
    };
    // Two halves of the lines on two threads where there is work for both.
    const std::size_t half = keys_.size() / 2;
    if (keys_.size() > 64) {
        std::thread other(fill, half, keys_.size());
        fill(0, half);
        other.join();
    } else {
        fill(0, keys_.size());
    }
    profiles_ready_ = true;
    return profiles_;
}

bool Model::is_line_parameter(int q) const {
    return std::find(line_parameters_.begin(), line_parameters_.end(), q) != line_parameters_.end();
}

bool Model::is_prepared(const double* p) const {
    if (prepared_at_.size() != line_parameters_.size()) return false;
    for (std::size_t j = 0; j < line_parameters_.size(); ++j)
        if (!(p[line_parameters_[j]] == prepared_at_[j])) return false;
    return true;
}

void Model::refresh(const std::vector<double>& values) {
    const double* p = values.data();
    prepared_at_.clear(); // the windows and node counts change
    std::vector<double> lo(keys_.size(), NAN), hi(keys_.size(), NAN);
    for (std::size_t key = 0; key < keys_.size(); ++key) {
        const LineKey& k = keys_[key];
        // A line keeps the nodes it had: were their number to go down and up
        // again as the divergence moves across a step, a fit would cycle.
        const std::size_t had = nodes_[key];
        nodes_[key] = 1;
        half_width_[key] = 0;
        near_lo_[key] = -1e300;
        near_hi_[key] = 1e300;
        Line l = line(p, k.phase, k.reflection, k.which);
        if (!l.ok) continue;
        nodes_[key] = std::max(had, fcj_nodes(l.asymmetry.extent, l.width.fwhm));
        half_width_[key] = window_half_width(l.width.fwhm, l.width.eta, instrument_.window_tail);
        l = line(p, k.phase, k.reflection, k.which);
        const double near = l.asymmetry.extent + far_widths * l.width.fwhm;
        near_lo_[key] = l.position + l.centroid - near;
        near_hi_[key] = l.position + l.centroid + near;
        // The line may move during a solve: a margin of five widths.
        const double margin = 5 * l.width.fwhm + 0.1 * (l.hi - l.lo);
        lo[key] = l.lo - margin;
        hi[key] = l.hi + margin;
    }
    for (Chunk& c : chunks_) {
        c.lines.clear();
        const double x0 = data_.x[c.begin], x1 = data_.x[c.end - 1];
        for (std::size_t key = 0; key < keys_.size(); ++key)
            if (hi[key] >= x0 && lo[key] <= x1) c.lines.push_back(static_cast<int>(key));
    }
}

double Model::background_at(const double* p, std::size_t i, double* d) const {
    const double x = data_.x[i];
    const double span = data_.x_hi - data_.x_lo;
    const double t = span > 0 ? std::clamp(2 * (x - data_.x_lo) / span - 1, -1.0, 1.0) : 0;
    double terms[64];
    const int n = std::min(instrument_.background_terms, 64);
    chebyshev(t, n, terms);
    double b = 0;
    for (int j = 0; j < n; ++j) {
        b += p[background + j] * terms[j];
        if (d != nullptr) d[j] = terms[j];
    }
    if (inverse >= 0) {
        const double term = data_.x_lo / x;
        b += p[inverse] * term;
        if (d != nullptr) d[n] = term;
    }
    return b;
}

void Model::calculate(const double* p, std::vector<double>& ycalc, std::vector<double>& bg) const {
    ycalc.assign(data_.size(), 0);
    bg.assign(data_.size(), 0);
    for (std::size_t i = 0; i < data_.size(); ++i) bg[i] = ycalc[i] = background_at(p, i, nullptr);
    const std::vector<Profile>& pr = profiles(p);
    for (std::size_t key = 0; key < keys_.size(); ++key) {
        const LineKey& k = keys_[key];
        const Line& l = prepared_[key];
        if (!l.ok) continue;
        const double amp = intensity(p, k.phase, k.reflection) * l.strength;
        std::size_t j = 0;
        for (const auto& [begin, count] : pr[key].runs)
            for (std::size_t i = begin; i < begin + count; ++i)
                ycalc[i] += amp * pr[key].value[j++];
    }
}

bool Model::evaluate(const double* p, const Chunk& chunk, const std::vector<int>& column_of,
                     double* residuals, double* const* jacobian) const {
    const std::size_t n = chunk.end - chunk.begin;
    const auto col = [&](int q) -> double* {
        if (jacobian == nullptr || q < 0) return nullptr;
        const int c = column_of[sz(q)];
        return c < 0 ? nullptr : jacobian[c];
    };
    if (jacobian != nullptr)
        for (std::size_t q = 0; q < column_of.size(); ++q)
            if (double* j = col(static_cast<int>(q))) std::fill(j, j + n, 0.0);
    for (const Phase& ph : phases_)
        if (!positive_definite(ph.constraint.metric(p + ph.metric))) return false;

    // The background.
    const int nb = background_count();
    double d_bg[65];
    for (std::size_t i = 0; i < n; ++i) {
        residuals[i] = background_at(p, chunk.begin + i, d_bg);
        for (int j = 0; j < nb; ++j)
            if (double* c = col(background + j)) c[i] = d_bg[j];
    }

    // The lines.
    const auto first = data_.x.begin() + static_cast<long>(chunk.begin);
    const auto last = data_.x.begin() + static_cast<long>(chunk.end);
    const bool prepared = is_prepared(p);
    const bool cached = prepared && profiles_ready_;
    Line own;
    for (const int key : chunk.lines) {
        const LineKey& k = keys_[sz(key)];
        if (!prepared) own = line(p, k.phase, k.reflection, k.which);
        const Line& l = prepared ? prepared_[sz(key)] : own;
        if (!l.ok) {
            if (l.position != 0 && !l.width.ok) return false; // a width that is not real
            continue;
        }
        const Phase& ph = phases_[sz(k.phase)];
        const bool rv = ph.mode == Mode::rietveld;
        const Rietveld ri = rv ? rietveld(p, k.phase, k.reflection, l.s) : Rietveld{};
        const double in = rv ? ri.i : intensity(p, k.phase, k.reflection);
        const double amp = in * l.strength;
        double* cm[6] = {};
        for (int m = 0; m < ph.constraint.free(); ++m) cm[m] = col(ph.metric + m);
        double* cw[5] = {};
        for (int m = 0; m < 5; ++m) cw[m] = col(ph.profile + m);
        double* cz = col(zero);
        double* cd = col(displacement);
        double* cs = col(asym_s);
        double* ch = col(asym_h);
        double* cr = k.which == 1 ? col(ratio) : nullptr;
        double* ci = ph.mode == Mode::pawley ? col(ph.pawley_index[sz(k.reflection)]) : nullptr;
        double* c_scale = rv ? col(ph.scale) : nullptr;
        double* c_biso = rv ? col(ph.biso) : nullptr;
        double* c_po = rv ? col(ph.po) : nullptr;
        bool derivatives = cz != nullptr || cd != nullptr || cs != nullptr || ch != nullptr;
        for (int m = 0; m < ph.constraint.free(); ++m)
            derivatives = derivatives || cm[m] != nullptr;
        for (int m = 0; m < 5; ++m) derivatives = derivatives || cw[m] != nullptr;
        if (!derivatives) {
            // The profile's value alone, from the lines' profiles where they
            // are at hand.
            const auto add = [&](std::size_t i, double value) {
                residuals[i] += amp * value;
                if (cr != nullptr) cr[i] += in * value * l.d_strength_ratio;
                if (ci != nullptr) ci[i] += l.strength * value;
                if (c_scale != nullptr) c_scale[i] += l.strength * value * ri.d_scale;
                if (c_biso != nullptr) c_biso[i] += l.strength * value * ri.d_biso;
                if (c_po != nullptr) c_po[i] += l.strength * value * ri.d_po;
            };
            if (cached) {
                const Profile& pr = profiles_[sz(key)];
                std::size_t j = 0;
                for (const auto& [begin, count] : pr.runs) {
                    const std::size_t from = std::max(begin, chunk.begin);
                    const std::size_t to = std::min(begin + count, chunk.end);
                    for (std::size_t i = from; i < to; ++i)
                        add(i - chunk.begin, pr.value[j + (i - begin)]);
                    j += count;
                }
            } else {
                for (auto it = std::lower_bound(first, last, l.lo); it != last && *it <= l.hi; ++it)
                    add(static_cast<std::size_t>(it - first), line_profile(l, *it));
            }
            continue;
        }
        const bool asymmetry = cs != nullptr || ch != nullptr;
        for (auto it = std::lower_bound(first, last, l.lo); it != last && *it <= l.hi; ++it) {
            const std::size_t i = static_cast<std::size_t>(it - first);
            const LineValue v = line_value(l, *it, asymmetry);
            residuals[i] += amp * v.value;
            const double dpos = amp * v.d_position;
            const double dshape_dtheta =
                v.d_fwhm * l.width.d_fwhm_theta + v.d_eta * l.width.d_eta_theta;
            for (int m = 0; m < ph.constraint.free(); ++m)
                if (cm[m] != nullptr)
                    cm[m][i] += dpos * l.d_position_metric[sz(m)] +
                                in * v.value * l.d_strength_metric[sz(m)] +
                                amp * dshape_dtheta * l.d_theta_metric[sz(m)] +
                                l.strength * v.value * ri.d_s * l.d_s_metric[sz(m)];
            if (cz != nullptr) cz[i] += dpos;
            if (cd != nullptr) cd[i] += dpos * l.d_position_disp;
            for (int m = 0; m < 5; ++m)
                if (cw[m] != nullptr)
                    cw[m][i] +=
                        amp * (v.d_fwhm * l.width.d_fwhm[sz(m)] + v.d_eta * l.width.d_eta[sz(m)]);
            if (cs != nullptr) cs[i] += amp * v.d_s;
            if (ch != nullptr) ch[i] += amp * v.d_h;
            if (cr != nullptr) cr[i] += in * v.value * l.d_strength_ratio;
            if (ci != nullptr) ci[i] += l.strength * v.value;
            if (c_scale != nullptr) c_scale[i] += l.strength * v.value * ri.d_scale;
            if (c_biso != nullptr) c_biso[i] += l.strength * v.value * ri.d_biso;
            if (c_po != nullptr) c_po[i] += l.strength * v.value * ri.d_po;
        }
    }

    // Weighted residuals.
    thread_local std::vector<double> minus_inv;
    minus_inv.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double inv = 1 / data_.sigma[chunk.begin + i];
        minus_inv[i] = -inv;
        residuals[i] = (data_.y[chunk.begin + i] - residuals[i]) * inv;
    }
    if (jacobian != nullptr)
        for (std::size_t q = 0; q < column_of.size(); ++q)
            if (double* c = col(static_cast<int>(q)))
                for (std::size_t i = 0; i < n; ++i) c[i] *= minus_inv[i];
    return true;
}

} // namespace peakfit
