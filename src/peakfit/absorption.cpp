#include "peakfit/absorption.hpp"

#include <gemmi/elem.hpp>
#include <gemmi/math.hpp>
#include <xraylib/xraylib.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace peakfit {

namespace {

constexpr double dalton_grams = 1.66053906660e-24; // g
constexpr double cubic_angstrom = 1e-24;           // cm^3

// xraylib's value or its refusal as an exception.
template <typename F> double xrl_call(F f, int z, const char* what) {
    xrl_error* error = nullptr;
    const double value = f(&error);
    if (error) {
        const std::string message = error->message ? error->message : "no entry";
        xrl_error_free(error);
        throw std::domain_error(std::string(what) + " of " +
                                gemmi::element_name(static_cast<gemmi::El>(z)) + ": " + message);
    }
    return value;
}

} // namespace

double density(const CellContents& contents, double volume) {
    return contents.mass * dalton_grams / (volume * cubic_angstrom);
}

double linear_mu(const CellContents& contents, double volume, double wave) {
    const double energy = gemmi::hc() / wave / 1000; // keV
    double sum = 0;                                  // daltons x cm^2/g
    for (const auto& [element, n] : contents.atoms) {
        const int z = element; // a copy: lambdas cannot capture a structured binding in C++17
        const double mass_mu =
            xrl_call([&](xrl_error** e) { return CS_Total(z, energy, e); }, z, "X-ray attenuation");
        const double weight =
            xrl_call([&](xrl_error** e) { return AtomicWeight(z, e); }, z, "atomic weight");
        sum += n * mass_mu * weight;
    }
    return sum * dalton_grams / (volume * cubic_angstrom);
}

double brindley_tau(double t) {
    // 3 sum_n (-2t)^n / (n! (n + 3)) converges everywhere, and without
    // cancellation for |2t| up to a few; beyond, the closed form
    // 3 (2 - e^-a (a^2 + 2a + 2)) / a^3, a = 2t.
    const double a = 2 * t;
    if (std::abs(a) <= 4) {
        double term = 1, sum = 0;
        for (int n = 0; n < 60; ++n) {
            sum += term / (n + 3);
            term *= -a / (n + 1);
        }
        return 3 * sum;
    }
    return 3 * (2 - std::exp(-a) * (a * a + 2 * a + 2)) / (a * a * a);
}

std::vector<double> brindley_factors(const std::vector<AbsorbingPhase>& phases) {
    const std::size_t n = phases.size();
    std::vector<double> tau(n, 1), w(n, 0);
    const auto fractions = [&] {
        double sum = 0;
        for (std::size_t p = 0; p < n; ++p) sum += std::max(phases[p].x, 0.0) / tau[p];
        double change = 0;
        for (std::size_t p = 0; p < n; ++p) {
            const double next = sum > 0 ? std::max(phases[p].x, 0.0) / tau[p] / sum : 0;
            change = std::max(change, std::abs(next - w[p]));
            w[p] = next;
        }
        return change;
    };
    fractions();
    for (int iteration = 0; iteration < 200; ++iteration) {
        double volume = 0, mu_volume = 0;
        for (std::size_t p = 0; p < n; ++p) {
            volume += w[p] / phases[p].rho;
            mu_volume += w[p] / phases[p].rho * phases[p].mu;
        }
        const double mu_bar = volume > 0 ? mu_volume / volume : 0;
        for (std::size_t p = 0; p < n; ++p)
            tau[p] = brindley_tau((phases[p].mu - mu_bar) * phases[p].radius);
        if (fractions() < 1e-12) break;
    }
    return tau;
}

double microabsorption_bias(std::vector<AbsorbingPhase> phases, double radius) {
    for (AbsorbingPhase& p : phases) p.radius = radius;
    const std::vector<double> tau = brindley_factors(phases);
    double raw = 0, corrected = 0;
    for (std::size_t p = 0; p < phases.size(); ++p) {
        raw += std::max(phases[p].x, 0.0);
        corrected += std::max(phases[p].x, 0.0) / tau[p];
    }
    double bias = 0;
    if (raw > 0)
        for (std::size_t p = 0; p < phases.size(); ++p) {
            const double x = std::max(phases[p].x, 0.0);
            bias = std::max(bias, std::abs(x / tau[p] / corrected - x / raw));
        }
    return bias;
}

} // namespace peakfit
