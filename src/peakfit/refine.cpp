#include "peakfit/refine.hpp"

#include "peakfit/lebail.hpp"

#include <ceres/ceres.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <set>

namespace peakfit {

namespace {

std::size_t sz(int i) {
    return static_cast<std::size_t>(i);
}

using Clock = std::chrono::steady_clock;

// The residuals of one run of points, each parameter a block of its own.
class ChunkCost : public ceres::CostFunction {
  public:
    ChunkCost(const Model& model, std::size_t chunk, std::vector<int> blocks,
              const std::vector<double>& base)
        : model_(model), chunk_(model.chunks()[chunk]), blocks_(std::move(blocks)), base_(base),
          column_of_(model.parameters().size(), -1) {
        set_num_residuals(static_cast<int>(chunk_.end - chunk_.begin));
        mutable_parameter_block_sizes()->assign(blocks_.size(), 1);
        for (std::size_t b = 0; b < blocks_.size(); ++b)
            column_of_[sz(blocks_[b])] = static_cast<int>(b);
    }
    bool Evaluate(double const* const* parameters, double* residuals,
                  double** jacobians) const override {
        thread_local std::vector<double> p;
        p = base_;
        for (std::size_t b = 0; b < blocks_.size(); ++b) p[sz(blocks_[b])] = parameters[b][0];
        return model_.evaluate(p.data(), chunk_, column_of_, residuals, jacobians);
    }

  private:
    const Model& model_;
    const Model::Chunk& chunk_;
    std::vector<int> blocks_;
    const std::vector<double>& base_;
    std::vector<int> column_of_;
};

// The parameters a chunk depends on: every one but the Pawley intensities,
// and those of the lines it looks at.
std::vector<int> chunk_blocks(const Model& model, const Model::Chunk& chunk) {
    std::vector<int> blocks;
    std::set<int> pawley;
    for (const Phase& ph : model.phases())
        if (ph.mode == Mode::pawley)
            for (std::size_t k = 0; k < ph.reflections.size(); ++k)
                pawley.insert(ph.pawley_index[k]);
    for (std::size_t q = 0; q < model.parameters().size(); ++q)
        if (!pawley.count(static_cast<int>(q))) blocks.push_back(static_cast<int>(q));
    std::set<int> mine;
    for (const int key : chunk.lines) {
        const auto& k = model.line_keys()[sz(key)];
        const Phase& ph = model.phases()[sz(k.phase)];
        if (ph.mode == Mode::pawley) mine.insert(ph.pawley_index[sz(k.reflection)]);
    }
    blocks.insert(blocks.end(), mine.begin(), mine.end());
    return blocks;
}

// Before each evaluation at a new point, the model's lines at that point,
// once for all chunks.
// Where the solve moves no line (only intensities, scales or the
// background), the lines' profiles too, once for the whole solve.
class PrepareLines : public ceres::EvaluationCallback {
  public:
    PrepareLines(Model& model, const std::vector<double>& values, bool profiles)
        : model_(model), values_(values), profiles_(profiles) {}
    void PrepareForEvaluation(bool, bool new_point) override {
        if (!new_point) return;
        if (profiles_)
            model_.profiles(values_.data());
        else
            model_.prepare(values_.data());
    }

  private:
    Model& model_;
    const std::vector<double>& values_;
    bool profiles_;
};

// A Ceres problem over the model's chunks, free the parameters in free,
// within their bounds; values is the storage the solver updates.
struct Built {
    std::unique_ptr<PrepareLines> prepare; // outlives the problem
    std::unique_ptr<ceres::Problem> problem;
    std::vector<double> base;
};

// prepare: whether each evaluation at a new point first computes the
// lines once (for a solve; Problem::Evaluate does without).
void build(Model& model, std::vector<double>& values, const std::set<int>& free, Built& out,
           bool prepare = false) {
    out.base = values;
    ceres::Problem::Options po;
    if (prepare) {
        bool lines_move = false;
        for (const int q : free) lines_move = lines_move || model.is_line_parameter(q);
        out.prepare = std::make_unique<PrepareLines>(model, values, !lines_move);
        po.evaluation_callback = out.prepare.get();
    }
    out.problem = std::make_unique<ceres::Problem>(po);
    std::set<int> used;
    for (std::size_t c = 0; c < model.chunks().size(); ++c) {
        std::vector<int> blocks = chunk_blocks(model, model.chunks()[c]);
        std::vector<double*> ptrs;
        for (const int q : blocks) {
            ptrs.push_back(&values[sz(q)]);
            used.insert(q);
        }
        out.problem->AddResidualBlock(new ChunkCost(model, c, blocks, out.base), nullptr, ptrs);
    }
    for (const int q : used) {
        double* x = &values[sz(q)];
        const Parameter& par = model.parameters()[sz(q)];
        if (!free.count(q)) {
            out.problem->SetParameterBlockConstant(x);
            continue;
        }
        if (par.lower > -1e299) out.problem->SetParameterLowerBound(x, 0, par.lower);
        if (par.upper < 1e299) out.problem->SetParameterUpperBound(x, 0, par.upper);
    }
}

double chi2_of(const Model& model, const std::vector<double>& p) {
    model.profiles(p.data());
    double chi2 = 0;
    const std::vector<int> none(model.parameters().size(), -1);
    std::vector<double> r;
    for (const Model::Chunk& c : model.chunks()) {
        r.resize(c.end - c.begin);
        if (!model.evaluate(p.data(), c, none, r.data(), nullptr)) return INFINITY;
        for (double v : r) chi2 += v * v;
    }
    return chi2;
}

bool has_lebail(const Model& model) {
    for (const Phase& ph : model.phases())
        if (ph.mode == Mode::lebail) return true;
    return false;
}

struct Stage {
    std::string name;
    std::vector<int> adds;
};

std::vector<Stage> plan(const Model& model, const RefineOptions& o) {
    std::vector<Stage> stages;
    Stage s1{"intensities and background", {}};
    for (int j = 0; j < model.background_count(); ++j) s1.adds.push_back(model.background + j);
    for (const Phase& ph : model.phases()) {
        if (ph.mode == Mode::pawley)
            for (std::size_t k = 0; k < ph.reflections.size(); ++k)
                if (std::find(s1.adds.begin(), s1.adds.end(), ph.pawley_index[k]) == s1.adds.end())
                    s1.adds.push_back(ph.pawley_index[k]);
        if (ph.mode == Mode::rietveld) s1.adds.push_back(ph.scale);
    }
    stages.push_back(s1);
    Stage s2{"cells", {}};
    for (const Phase& ph : model.phases())
        for (int m = 0; m < ph.constraint.free(); ++m) s2.adds.push_back(ph.metric + m);
    if (o.zero) {
        s2.name += " and zero";
        s2.adds.push_back(model.zero);
    }
    if (o.displacement) {
        s2.name += o.zero ? " and displacement" : " and displacement";
        s2.adds.push_back(model.displacement);
    }
    stages.push_back(s2);
    Stage s3{"width W", {}};
    for (const Phase& ph : model.phases()) s3.adds.push_back(ph.profile + 2);
    stages.push_back(s3);
    Stage s4{"widths U V X Y", {}};
    for (const Phase& ph : model.phases())
        for (const int m : {0, 1, 3, 4}) s4.adds.push_back(ph.profile + m);
    stages.push_back(s4);
    Stage s5{"", {}};
    if (o.asymmetry) {
        s5.name = "asymmetry";
        s5.adds.push_back(model.asym_s);
        s5.adds.push_back(model.asym_h);
    }
    if (o.ratio && model.has_alpha2()) {
        s5.name += s5.name.empty() ? "Kalpha2 ratio" : " and Kalpha2 ratio";
        s5.adds.push_back(model.ratio);
    }
    if (!s5.adds.empty()) stages.push_back(s5);
    Stage s6{"", {}};
    for (const Phase& ph : model.phases()) {
        if (ph.po >= 0) s6.adds.push_back(ph.po);
        if (ph.biso >= 0) s6.adds.push_back(ph.biso);
    }
    if (!s6.adds.empty()) {
        s6.name = "preferred orientation and B";
        stages.push_back(s6);
    }
    return stages;
}

std::string percent(double x) {
    char t[32];
    std::snprintf(t, sizeof t, "%.3f%%", x);
    return t;
}

// The Pawley intensities no point depends on: each of their lines'
// windows (fixed by the last refresh) holds no measured point.
std::set<int> unseen_intensities(const Model& model, const std::vector<double>& p) {
    const Data& d = model.data();
    std::set<int> seen, all;
    for (std::size_t f = 0; f < model.phases().size(); ++f) {
        const Phase& ph = model.phases()[f];
        if (ph.mode != Mode::pawley) continue;
        for (std::size_t k = 0; k < ph.reflections.size(); ++k) {
            const int q = ph.pawley_index[k];
            all.insert(q);
            for (int w = 0; w < (model.has_alpha2() ? 2 : 1); ++w) {
                const Line l = model.line(p.data(), static_cast<int>(f), static_cast<int>(k), w);
                for (std::size_t g = 0; l.ok && g < d.segments(); ++g) {
                    const auto first = d.x.begin() + static_cast<long>(d.start[g]);
                    const auto last = d.x.begin() + static_cast<long>(d.start[g + 1]);
                    const auto at = std::lower_bound(first, last, l.lo);
                    if (at != last && *at <= l.hi) seen.insert(q);
                }
            }
        }
    }
    std::set<int> unseen;
    for (const int q : all)
        if (!seen.count(q)) unseen.insert(q);
    return unseen;
}

} // namespace

RFactors r_factors(const Model& model, const std::vector<double>& p, std::size_t parameters) {
    std::vector<double> yc, bg;
    model.calculate(p.data(), yc, bg);
    const Data& d = model.data();
    double sum_abs = 0, sum_y = 0, chi2 = 0, wy2 = 0, wyb2 = 0;
    for (std::size_t i = 0; i < d.size(); ++i) {
        const double w = 1 / (d.sigma[i] * d.sigma[i]);
        const double diff = d.y[i] - yc[i];
        sum_abs += std::abs(diff);
        sum_y += d.y[i];
        chi2 += w * diff * diff;
        wy2 += w * d.y[i] * d.y[i];
        wyb2 += w * (d.y[i] - bg[i]) * (d.y[i] - bg[i]);
    }
    RFactors r;
    r.points = d.size();
    r.parameters = parameters;
    r.chi2 = chi2;
    const double dof = static_cast<double>(d.size()) - static_cast<double>(parameters);
    r.rp = 100 * sum_abs / sum_y;
    r.rwp = 100 * std::sqrt(chi2 / wy2);
    r.rexp = 100 * std::sqrt(std::max(dof, 0.0) / wy2);
    r.gof = dof > 0 ? chi2 / dof : INFINITY;
    r.rwp_background = 100 * std::sqrt(chi2 / wyb2);
    return r;
}

std::vector<int> final_parameters(const Model& model, const RefineOptions& options) {
    std::vector<int> all;
    for (const Stage& s : plan(model, options)) all.insert(all.end(), s.adds.begin(), s.adds.end());
    return all;
}

void start_values(Model& model) {
    const Data& d = model.data();
    std::vector<double> p = model.values();
    // The background: a low percentile of the counts.
    std::vector<double> y = d.y;
    std::sort(y.begin(), y.end());
    const double low = y.empty() ? 0 : y[y.size() / 10];
    p[sz(model.background)] = low;
    // The FWHM of the strongest peak, from its half-height crossings.
    std::size_t top = 0;
    for (std::size_t i = 0; i < d.size(); ++i)
        if (d.y[i] > d.y[top]) top = i;
    std::size_t seg = 0;
    while (seg + 1 < d.start.size() && d.start[seg + 1] <= top) ++seg;
    const double half = (d.y[top] + low) / 2;
    std::size_t a = top, b = top;
    while (a > d.start[seg] && d.y[a] > half) --a;
    while (b + 1 < d.start[seg + 1] && d.y[b] > half) ++b;
    double fwhm = d.x[b] - d.x[a];
    if (!(fwhm > 0)) fwhm = 0.1;
    for (const Phase& ph : model.phases()) {
        p[sz(ph.profile + 2)] = 0.5 * fwhm * fwhm; // W: Gaussian FWHM 0.7 of the total
        p[sz(ph.profile + 3)] = 0.3 * fwhm;        // X
    }
    // The axial divergence starts within the strongest peak's FWHM of it:
    // the default start reaches 30 FWHM beyond a synchrotron line at 6
    // degrees, farther than the divergence's nodes resolve, and the first
    // stages then fit a comb of copies instead of the peaks.
    const auto reach = [&] {
        const double m = p[sz(model.asym_s)], q = std::sqrt(std::max(p[sz(model.asym_h)], 0.0));
        return fcj_extent(d.x[top], m + q, std::max(m - q, 0.0));
    };
    for (int halve = 0; halve < 30 && reach() > fwhm; ++halve) {
        p[sz(model.asym_s)] /= 2;
        p[sz(model.asym_h)] /= 4;
    }
    model.refresh(p);
    // Pawley phases start from a Le Bail partition.
    std::vector<Mode> modes;
    for (Phase& ph : model.phases()) {
        modes.push_back(ph.mode);
        ph.mode = Mode::lebail;
    }
    seed(model, p, 50);
    for (std::size_t f = 0; f < model.phases().size(); ++f) {
        Phase& ph = model.phases()[f];
        ph.mode = modes[f];
        if (ph.mode == Mode::pawley)
            for (std::size_t k = 0; k < ph.reflections.size(); ++k)
                p[sz(ph.pawley_index[k])] = ph.intensity[k];
        if (ph.mode == Mode::rietveld) {
            // The scale that gives the phase the counts Le Bail gave it.
            p[sz(ph.scale)] = 1;
            double seeded = 0, calculated = 0;
            for (std::size_t k = 0; k < ph.reflections.size(); ++k) {
                seeded += ph.intensity[k];
                calculated += model.intensity(p.data(), static_cast<int>(f), static_cast<int>(k));
            }
            p[sz(ph.scale)] = calculated > 0 ? seeded / calculated : 1;
        }
    }
    model.set_values(p);
}

bool covariance(Model& model, const std::vector<int>& free_list, int threads, Eigen::MatrixXd& c,
                std::vector<std::string>& singular) {
    std::vector<double> values = model.values();
    model.refresh(values);
    const std::set<int> free(free_list.begin(), free_list.end());
    Built built;
    build(model, values, free, built);
    std::vector<const double*> blocks;
    for (const int q : free_list) blocks.push_back(&values[sz(q)]);
    const std::size_t n = blocks.size();
    // First, whether it is singular at all, and through which parameters:
    // the directions of the normal matrix, its columns scaled to unit
    // diagonal, with no curvature. (Unscaled, parameters of very different
    // sizes make it look singular when it is not.)
    ceres::Problem::EvaluateOptions eo;
    for (std::size_t i = 0; i < n; ++i) eo.parameter_blocks.push_back(&values[sz(free_list[i])]);
    double cost = 0;
    ceres::CRSMatrix crs;
    built.problem->Evaluate(eo, &cost, nullptr, nullptr, &crs);
    const auto ni = static_cast<Eigen::Index>(n);
    Eigen::MatrixXd jtj = Eigen::MatrixXd::Zero(ni, ni);
    for (int row = 0; row < crs.num_rows; ++row)
        for (int a = crs.rows[sz(row)]; a < crs.rows[sz(row) + 1]; ++a)
            for (int b = crs.rows[sz(row)]; b < crs.rows[sz(row) + 1]; ++b)
                jtj(crs.cols[sz(a)], crs.cols[sz(b)]) += crs.values[sz(a)] * crs.values[sz(b)];
    Eigen::VectorXd scale = jtj.diagonal().cwiseSqrt();
    std::set<int> involved;
    for (Eigen::Index i = 0; i < scale.size(); ++i)
        if (!(scale[i] > 0)) {
            involved.insert(free_list[sz(static_cast<int>(i))]); // nothing depends on it
            scale[i] = 1;
        }
    const Eigen::MatrixXd scaled =
        scale.cwiseInverse().asDiagonal() * jtj * scale.cwiseInverse().asDiagonal();
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(scaled);
    const double top = es.eigenvalues().maxCoeff();
    for (Eigen::Index e = 0; e < es.eigenvalues().size(); ++e) {
        if (es.eigenvalues()[e] > 1e-12 * top) continue;
        for (Eigen::Index i = 0; i < es.eigenvectors().rows(); ++i)
            if (std::abs(es.eigenvectors()(i, e)) > 0.2)
                involved.insert(free_list[sz(static_cast<int>(i))]);
    }
    if (involved.empty()) {
        ceres::Covariance::Options co;
        co.num_threads = threads;
        co.algorithm_type = ceres::DENSE_SVD;
        // Singularity is judged above on the scaled matrix.
        co.min_reciprocal_condition_number = 1e-300;
        ceres::Covariance cov(co);
        std::vector<std::pair<const double*, const double*>> pairs;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i; j < n; ++j) pairs.emplace_back(blocks[i], blocks[j]);
        if (cov.Compute(pairs, built.problem.get())) {
            Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> m(ni, ni);
            if (cov.GetCovarianceMatrix(blocks, m.data()) && m.allFinite()) {
                c = m;
                return true;
            }
        }
    }
    for (const int q : involved) singular.push_back(model.parameters()[sz(q)].name);
    if (singular.empty()) singular.push_back("(the covariance could not be computed)");
    return false;
}

RefineResult refine(Model& model, const RefineOptions& o) {
    RefineResult result;
    const auto started = Clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(Clock::now() - started).count();
    };
    const bool lebail = has_lebail(model);
    std::set<int> free;
    bool timed_out = false, stage_converged = false;
    std::vector<double> values = model.values();
    model.refresh(values);
    int stage_number = 0;
    for (const Stage& stage : plan(model, o)) {
        ++stage_number;
        const auto stage_started = Clock::now();
        const std::vector<double> saved = values;
        std::vector<std::vector<double>> saved_intensity;
        for (const Phase& ph : model.phases()) saved_intensity.push_back(ph.intensity);
        for (const int q : stage.adds) free.insert(q);

        StageReport report;
        report.name = stage.name;
        const std::size_t nfree = free.size();
        report.rwp_before = r_factors(model, values, nfree).rwp;
        const double chi2_before = chi2_of(model, values);
        double chi2_prev = chi2_before;
        int quiet = 0, cycles = 0;
        stage_converged = false;
        for (int cycle = 0; cycle < o.max_cycles; ++cycle) {
            ++cycles;
            model.refresh(values);
            Built built;
            build(model, values, free, built, true);
            ceres::Solver::Options so;
            so.minimizer_type = ceres::TRUST_REGION;
            so.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
            bool sparse = false;
            for (const Phase& ph : model.phases()) sparse = sparse || ph.mode == Mode::pawley;
            so.linear_solver_type =
                sparse && ceres::IsSparseLinearAlgebraLibraryTypeAvailable(ceres::SUITE_SPARSE)
                    ? ceres::SPARSE_NORMAL_CHOLESKY
                    : ceres::DENSE_QR;
            so.num_threads = o.threads;
            so.max_num_iterations = lebail ? 5 : 100;
            // Every solve, Le Bail's too, goes on while an iteration lowers
            // chi^2 by 1e-9 of it: stopping a Le Bail cycle's solve at 1e-6
            // saved 40 % of the iterations but left NIST's LaB6 scan at Rwp
            // 7.79 % instead of 7.57 %, its cell 7 esd away.
            so.function_tolerance = 1e-9;
            so.parameter_tolerance = 1e-9;
            so.gradient_tolerance = 1e-12;
            so.logging_type = ceres::SILENT;
            if (o.time_limit > 0) {
                const double left = o.time_limit - elapsed();
                if (left <= 0) {
                    timed_out = true;
                    break;
                }
                so.max_solver_time_in_seconds = left;
            }
            ceres::Solver::Summary summary;
            ceres::Solve(so, built.problem.get(), &summary);
            report.iterations += static_cast<int>(summary.iterations.size()) - 1;
            if (lebail) partition(model, values, 100);
            const double chi2 = chi2_of(model, values);
            // Le Bail: settled when two cycles in a row change chi^2 by less
            // than 1e-4 of it (the partition moves it a little each time).
            // So is a cycle whose solve no longer moved the parameters while
            // the partition drifts chi^2 by less than 1e-3 (overlapped
            // reflections share their counts slowly).
            const bool still =
                summary.num_successful_steps <= 1 && std::abs(chi2_prev - chi2) <= 1e-3 * chi2;
            const bool small = std::abs(chi2_prev - chi2) <= 1e-4 * chi2 || still;
            quiet = small ? quiet + 1 : 0;
            const bool settled =
                quiet >= 2 || (small && summary.termination_type == ceres::CONVERGENCE);
            chi2_prev = chi2;
            if (o.time_limit > 0 && elapsed() >= o.time_limit) {
                timed_out = true;
                break;
            }
            // Pawley and Rietveld: the windows and the divergence's nodes
            // were fixed by the refresh at the cycle's start, from widths and
            // an asymmetry the solve may have moved far. Settled once a solve
            // from a fresh refresh no longer lowers chi^2 by a hundredth of
            // chi^2_nu (a tenth of a standard uncertainty at most).
            const double gof = chi2 / std::max(1.0, static_cast<double>(model.data().size()));
            const bool consistent = 2 * (summary.initial_cost - summary.final_cost) <= 0.01 * gof;
            if (settled ||
                (!lebail && summary.termination_type == ceres::CONVERGENCE && consistent)) {
                stage_converged = true;
                break;
            }
        }
        const double chi2_after = chi2_of(model, values);
        // Le Bail's chi^2 moves a little with each partition: a rise within
        // 1e-4 of it is no rise. The first stage (the intensities and the
        // background, linear) is never undone.
        const double allowed = lebail ? 1e-4 : 1e-9;
        if (stage_number > 1 && !(chi2_after <= chi2_before * (1 + allowed))) {
            // Undone: the stage's parameters are held where they were.
            values = saved;
            for (std::size_t f = 0; f < model.phases().size(); ++f)
                model.phases()[f].intensity = saved_intensity[f];
            // (The intensities and the background of the first stage stay free.)
            if (stage_number != 1)
                for (const int q : stage.adds) free.erase(q);
            report.undone = true;
            stage_converged = true;
        }
        report.rwp_after = r_factors(model, values, free.size()).rwp;
        report.seconds = std::chrono::duration<double>(Clock::now() - stage_started).count();
        if (o.say) {
            char line[256];
            std::snprintf(
                line, sizeof line, "stage %d, %s: Rwp %s -> %s, %d iterations%s, %.2f s%s",
                stage_number, stage.name.c_str(), percent(report.rwp_before).c_str(),
                percent(report.rwp_after).c_str(), report.iterations,
                lebail ? (" in " + std::to_string(cycles) + " cycles").c_str() : "", report.seconds,
                report.undone ? " (chi^2 rose: undone, its parameters held)" : "");
            o.say(line);
        }
        result.stages.push_back(report);
        model.set_values(values);
        if (timed_out) break;
    }
    model.set_values(values);
    model.refresh(values);
    // A parameter that ends on a bound is held there: the covariance of a
    // linearization does not hold at an active bound.
    // A Pawley intensity of a reflection whose lines hold no point (beyond
    // the data, or between the windows of a pattern measured in windows)
    // was never fitted: held, no esd.
    const std::set<int> unseen = unseen_intensities(model, values);
    for (const int q : free) {
        if (unseen.count(q)) continue;
        const Parameter& par = model.parameters()[sz(q)];
        const double v = values[sz(q)];
        // The divergence's half difference at its mean: H/L is 0 (within a
        // thousandth of S/L), the edge of what the two parameters describe,
        // where they act as one (S/L); the second is held there.
        const double mean = values[sz(model.asym_s)];
        const bool h_at_0 = q == model.asym_h && std::sqrt(std::max(v, 0.0)) >= (1 - 1e-3) * mean;
        if (v <= par.lower || v >= par.upper || h_at_0)
            result.at_bound.push_back(q);
        else
            result.refined.push_back(q);
    }
    for (Parameter& q : model.parameters()) q.refined = false;
    for (const int q : result.refined) model.parameters()[sz(q)].refined = true;
    result.r = r_factors(model, values, result.refined.size());
    result.esd.assign(model.parameters().size(), NAN);
    if (timed_out) {
        result.converged = false;
        char t[128];
        std::snprintf(t, sizeof t, "the time limit of %g s passed", o.time_limit);
        result.reason = t;
    } else if (!stage_converged) {
        result.converged = false;
        result.reason =
            "the last stage did not converge within " + std::to_string(o.max_cycles) + " cycles";
    } else {
        result.converged = true;
        result.reason = "converged";
    }
    Eigen::MatrixXd c;
    if (!timed_out && !result.refined.empty()) {
        if (covariance(model, result.refined, o.threads, c, result.singular)) {
            result.covariance = c * result.r.gof;
            for (std::size_t i = 0; i < result.refined.size(); ++i) {
                const auto ii = static_cast<Eigen::Index>(i);
                result.esd[sz(result.refined[i])] =
                    std::sqrt(std::max(result.covariance(ii, ii), 0.0));
                for (std::size_t j = i + 1; j < result.refined.size(); ++j) {
                    const auto jj = static_cast<Eigen::Index>(j);
                    const double r = c(ii, jj) / std::sqrt(c(ii, ii) * c(jj, jj));
                    if (std::abs(r) > 0.9)
                        result.correlations.push_back({result.refined[i], result.refined[j], r});
                }
            }
        } else {
            result.converged = false;
            std::string names;
            for (const std::string& s : result.singular) names += (names.empty() ? "" : ", ") + s;
            result.reason = "the fit is singular (no standard uncertainties): " + names;
        }
    }
    return result;
}

} // namespace peakfit
