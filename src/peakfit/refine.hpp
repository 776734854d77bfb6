// The staged least-squares plan over Ceres Solver: which parameters each
// stage frees, the Le Bail cycles within a stage, the undo of a stage that
// raises chi^2, and the standard uncertainties at the solution.
#pragma once

#include "peakfit/model.hpp"

#include <Eigen/Dense>

#include <functional>
#include <string>
#include <vector>

namespace peakfit {

struct RFactors {
    double rp = 0, rwp = 0, rexp = 0, gof = 0, rwp_background = 0; // percent; gof chi^2_nu
    double chi2 = 0;
    std::size_t points = 0, parameters = 0;
};
// Rp = sum|yo - yc| / sum yo; Rwp = sqrt(sum w (yo - yc)^2 / sum w yo^2);
// Rexp = sqrt((N - P) / sum w yo^2); GoF = sum w (yo - yc)^2 / (N - P);
// Rwp with the background subtracted from yo in the denominator; w = 1/sigma^2.
RFactors r_factors(const Model& model, const std::vector<double>& p, std::size_t parameters);

struct RefineOptions {
    bool zero = false, displacement = false; // which offset is free
    bool ratio = true;                       // the Kalpha2 ratio free in the last stage
    bool asymmetry = true;
    double time_limit = 0; // seconds; 0: none
    int threads = 2;
    int max_cycles = 40;                         // Le Bail cycles per stage
    std::function<void(const std::string&)> say; // one line per stage
};

struct StageReport {
    std::string name;
    double rwp_before = 0, rwp_after = 0;
    int iterations = 0;
    double seconds = 0;
    bool undone = false;
};

struct Correlation {
    int p, q;
    double r;
};

struct RefineResult {
    bool converged = false;
    std::string reason;
    std::vector<StageReport> stages;
    RFactors r;
    std::vector<int> refined;              // the parameters free at the end, off their bounds
    std::vector<int> at_bound;             // free, but ended on a bound: held there, no esd
    std::vector<double> esd;               // per parameter; NaN where held fixed
    Eigen::MatrixXd covariance;            // over refined, times chi^2_nu
    std::vector<Correlation> correlations; // |r| > 0.9
    std::vector<std::string> singular;     // the parameters of a rank-deficient fit
};

// The free parameters at the end of the plan (for the count against the
// number of points before a fit is tried).
std::vector<int> final_parameters(const Model& model, const RefineOptions& options);

// Starting values from the data: the background at a low percentile of
// the counts, the widths from the strongest peak's FWHM, Le Bail and Pawley
// intensities partitioned from the counts.
void start_values(Model& model);

RefineResult refine(Model& model, const RefineOptions& options);

// The covariance of the free parameters at the model's values, unscaled
// ((J^T J)^-1 of the weighted residuals), through ceres::Covariance; false
// where it is singular (the parameters involved listed in singular).
bool covariance(Model& model, const std::vector<int>& free, int threads, Eigen::MatrixXd& c,
                std::vector<std::string>& singular);

} // namespace peakfit
