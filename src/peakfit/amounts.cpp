#include "peakfit/amounts.hpp"

#include "peakfit/absorption.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace peakfit {

namespace {

std::size_t sz(int i) {
    return static_cast<std::size_t>(i);
}

} // namespace

double volume_of(const Metric& a) {
    // G* = [[A0, A3/2, A4/2], [A3/2, A1, A5/2], [A4/2, A5/2, A2]].
    const double g11 = a[0], g22 = a[1], g33 = a[2], g12 = a[3] / 2, g13 = a[4] / 2, g23 = a[5] / 2;
    const double det = g11 * (g22 * g33 - g23 * g23) - g12 * (g12 * g33 - g23 * g13) +
                       g13 * (g12 * g23 - g22 * g13);
    return 1 / std::sqrt(det);
}

Amounts amounts(Model& model, const RefineResult& result, const AmountOptions& options) {
    Amounts out;
    const std::vector<double> p = model.values();
    // The covariance of the refined parameters; where the fit's is singular,
    // that of the others with the ones involved held.
    std::vector<int> refined = result.refined;
    Eigen::MatrixXd covariance_of_fit = result.covariance;
    if (!(covariance_of_fit.rows() == static_cast<Eigen::Index>(refined.size()) &&
          covariance_of_fit.rows() > 0) &&
        !result.singular.empty()) {
        std::vector<int> kept;
        for (const int q : refined) {
            const std::string& name = model.parameters()[sz(q)].name;
            if (std::find(result.singular.begin(), result.singular.end(), name) ==
                result.singular.end())
                kept.push_back(q);
        }
        std::vector<std::string> still;
        Eigen::MatrixXd c;
        if (kept.size() < refined.size() && covariance(model, kept, 2, c, still)) {
            refined = kept;
            covariance_of_fit = c * result.r.gof;
            std::string held;
            for (const std::string& s : result.singular) held += (held.empty() ? "" : ", ") + s;
            out.warnings.push_back("the weight fractions' esds hold " + held +
                                   " (the fit is singular in them)");
        }
    }
    std::vector<int> position(model.parameters().size(), -1); // in covariance_of_fit
    for (std::size_t i = 0; i < refined.size(); ++i) position[sz(refined[i])] = static_cast<int>(i);
    const bool have_covariance =
        covariance_of_fit.rows() == static_cast<Eigen::Index>(refined.size()) &&
        covariance_of_fit.rows() > 0;

    // The Rietveld phases, and the derivatives of their (S, V) in the
    // refined parameters.
    std::vector<int> rietveld;
    for (std::size_t f = 0; f < model.phases().size(); ++f)
        if (model.phases()[f].mode == Mode::rietveld) rietveld.push_back(static_cast<int>(f));
    const Eigen::Index n = static_cast<Eigen::Index>(rietveld.size());
    const Eigen::Index m = static_cast<Eigen::Index>(refined.size());
    Eigen::MatrixXd j = Eigen::MatrixXd::Zero(2 * n, m);
    for (Eigen::Index r = 0; r < n; ++r) {
        const Phase& ph = model.phases()[sz(rietveld[sz(r)])];
        PhaseAmount a;
        a.phase = rietveld[sz(r)];
        a.scale = p[sz(ph.scale)];
        a.cell_mass = ph.contents.mass;
        const double* q = p.data() + ph.metric;
        a.volume = volume_of(ph.constraint.metric(q));
        if (position[sz(ph.scale)] >= 0) j(r, position[sz(ph.scale)]) = 1;
        std::vector<double> shifted(q, q + ph.constraint.free());
        for (int i = 0; i < ph.constraint.free(); ++i) {
            const int at = position[sz(ph.metric + i)];
            if (at < 0) continue;
            const double h = 1e-6 * std::max(std::abs(shifted[sz(i)]), 1e-8);
            const double keep = shifted[sz(i)];
            shifted[sz(i)] = keep + h;
            const double up = volume_of(ph.constraint.metric(shifted.data()));
            shifted[sz(i)] = keep - h;
            const double down = volume_of(ph.constraint.metric(shifted.data()));
            shifted[sz(i)] = keep;
            j(n + r, at) = (up - down) / (2 * h);
        }
        out.phases.push_back(a);
    }
    const Eigen::MatrixXd cov = have_covariance
                                    ? Eigen::MatrixXd(j * covariance_of_fit * j.transpose())
                                    : Eigen::MatrixXd::Zero(2 * n, 2 * n);
    if (!have_covariance && n > 0)
        out.warnings.push_back("no covariance at the solution: the weight fractions have no esds");
    for (Eigen::Index r = 0; r < n; ++r) {
        PhaseAmount& a = out.phases[sz(static_cast<int>(r))];
        if (have_covariance) {
            a.scale_esd = std::sqrt(std::max(cov(r, r), 0.0));
            a.volume_esd = std::sqrt(std::max(cov(n + r, n + r), 0.0));
        }
    }

    // Absorption, and Brindley's factors where asked.
    const bool xray = model.instrument().beam.radiation == peakhkl::Radiation::xray;
    std::vector<AbsorbingPhase> absorbing;
    bool corrected = false;
    for (PhaseAmount& a : out.phases) {
        const Phase& ph = model.phases()[sz(a.phase)];
        if (xray) a.mu = linear_mu(ph.contents, a.volume, model.instrument().alpha1);
        const double radius = sz(a.phase) < options.brindley_radius.size()
                                  ? options.brindley_radius[sz(a.phase)]
                                  : 0.0;
        corrected = corrected || radius > 0;
        absorbing.push_back({std::max(a.scale, 0.0) * a.cell_mass * a.volume,
                             density(ph.contents, a.volume), a.mu, radius});
    }
    if (corrected && xray) {
        const std::vector<double> tau = brindley_factors(absorbing);
        for (std::size_t r = 0; r < tau.size(); ++r) {
            out.phases[r].tau = tau[r];
            // Brindley's table spans |mu - mu_bar| R <= 0.5.
            if (tau[r] < brindley_tau(0.5) || tau[r] > brindley_tau(-0.5))
                out.warnings.push_back(model.phases()[sz(out.phases[r].phase)].name +
                                       ": |mu - mu_mean| R beyond 0.5, where Brindley's model "
                                       "fails: the correction is uncertain");
        }
    } else if (xray && n > 1) {
        out.bias = microabsorption_bias(absorbing, options.assumed_radius);
    }

    std::vector<PhaseScale> scales;
    for (const PhaseAmount& a : out.phases)
        scales.push_back({a.scale, a.cell_mass, a.volume, a.tau});
    std::optional<Standard> standard;
    if (options.standard) {
        for (Eigen::Index r = 0; r < n; ++r)
            if (rietveld[sz(static_cast<int>(r))] == static_cast<int>(options.standard->phase))
                standard = Standard{static_cast<std::size_t>(r), options.standard->fraction};
        if (!standard) throw std::invalid_argument("the standard is not a Rietveld phase");
    }
    if (n == 0) return out;
    const Composition c = weight_fractions(scales, cov, standard);
    for (std::size_t r = 0; r < out.phases.size(); ++r) {
        out.phases[r].weight = c.weight[r];
        if (!c.absolute.empty()) out.phases[r].absolute = c.absolute[r];
    }
    out.amorphous = c.amorphous;
    out.amorphous_original = c.amorphous_original;
    return out;
}

} // namespace peakfit
