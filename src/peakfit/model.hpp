// The calculated pattern: a Chebyshev background plus, for each phase and
// each of its reflections, a Kalpha1 line and its Kalpha2 companion, each a
// profile (profile.hpp) at its own position (geometry.hpp); its parameters
// by name, and its residuals with their analytic Jacobian over a run of
// points.
#pragma once

#include "peakfit/data.hpp"
#include "peakfit/geometry.hpp"
#include "peakfit/metric.hpp"
#include "peakfit/profile.hpp"
#include "peakfit/qpa.hpp"
#include "peakfit/rietveld.hpp"

#include "peakhkl/crystal.hpp"
#include "peakhkl/intensity.hpp"
#include "peakhkl/reflections.hpp"

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace peakfit {

// Where each reflection's intensity comes from.
//   lebail: partitioned from the observed counts between cycles (lebail.hpp),
//           held fixed within a least-squares solve;
//   pawley: one bounded parameter per reflection;
//   rietveld: the atoms' m |F|^2 (fixed) times the phase's scale, an
//           overall B, the March-Dollase factor and Lp (rietveld.hpp).
enum class Mode { lebail, pawley, rietveld };
const char* mode_name(Mode mode);

struct Parameter {
    std::string name;
    double value = 0;
    double lower = -std::numeric_limits<double>::infinity();
    double upper = std::numeric_limits<double>::infinity();
    bool refined = false; // free in the final stage (esd given)
};

struct Phase {
    std::string name;
    Mode mode = Mode::lebail;
    peakhkl::Crystal crystal;
    Constraint constraint;
    std::vector<peakhkl::Reflection>
        reflections;        // allowed ones, any of whose lines may fall in the data
    std::vector<double> f2; // |F|^2 where the crystal has atoms, else empty
    // Le Bail: the integrated intensity of each reflection's Kalpha1 line
    // (counts x degrees, Lp included); Pawley: unused (the parameters hold it).
    std::vector<double> intensity;
    // Parameter indices.
    int metric = -1;     // the constraint's free() parameters from here
    int profile = -1;    // U V W X Y
    int intensity0 = -1; // Pawley: the first intensity parameter
    // Pawley: each reflection's intensity parameter. Reflections that fall
    // together at every metric of the crystal system (511 and 333 of a
    // cubic phase) share one: their split is not in the data.
    std::vector<int> pawley_index;
    // Rietveld: the structure's side of the intensities, whether an overall
    // B is refined, and the indices of the scale, B and March-Dollase r
    // (-1 where there is none).
    std::shared_ptr<const StructureIntensities> structure;
    CellContents contents; // what its cell holds (Z M), for the weight fractions
    bool refine_biso = false;
    int scale = -1, biso = -1, po = -1;
};

struct Instrument {
    double alpha1 = 1.5405929;
    double alpha2 = 0; // 0: no Kalpha2 line
    peakhkl::Beam beam;
    double radius = 240; // goniometer radius, mm
    int background_terms = 8;
    bool inverse_term = false; // a 1/2theta term for air scatter
    double window_tail = 5e-3; // the share of a line's area left outside its window
};

// One line of one reflection at a set of parameter values.
struct Line {
    int phase = 0, reflection = 0, which = 0; // which: 0 Kalpha1, 1 Kalpha2
    double position = 0, theta = 0;
    double s = 0;                              // 1/d^2 of the reflection
    std::array<double, 6> d_s_metric{};        // by the phase's metric parameters
    std::array<double, 6> d_position_metric{}; // by the phase's metric parameters
    double d_position_disp = 0;
    std::array<double, 6> d_theta_metric{}; // the Bragg angle the widths are taken at
    double strength = 1; // relative to the reflection's intensity: 1, or ratio Lp2/Lp1
    std::array<double, 6> d_strength_metric{};
    double d_strength_ratio = 0;
    Width width;
    PvShape shape; // the pseudo-Voigt of width's FWHM and eta
    Asymmetry asymmetry;
    // Far from the line (outside [near_lo, near_hi], fixed by the last
    // refresh so that no point crosses it during a solve) the divergence's
    // copies are one pseudo-Voigt at their centroid.
    double centroid = 0, d_centroid_m = 0, d_centroid_d = 0, d_centroid_t = 0;
    double near_lo = -1e300, near_hi = 1e300;
    double lo = 0, hi = 0; // its window
    bool ok = false;
};

class Model {
  public:
    Model(Data data, Instrument instrument, std::vector<Phase> phases);

    const Data& data() const { return data_; }
    const Instrument& instrument() const { return instrument_; }
    std::vector<Phase>& phases() { return phases_; }
    const std::vector<Phase>& phases() const { return phases_; }
    std::vector<Parameter>& parameters() { return parameters_; }
    const std::vector<Parameter>& parameters() const { return parameters_; }
    std::vector<double> values() const;
    void set_values(const std::vector<double>& values);
    int index(const std::string& name) const; // -1 when there is no such parameter

    // Indices of the global parameters.
    int background = 0, inverse = -1, zero = 0, displacement = 0, ratio = 0, asym_s = 0, asym_h = 0;

    // The intensity of reflection k of phase (at parameter values p): the
    // integrated intensity of its Kalpha1 line, Lp included.
    double intensity(const double* p, int phase, int k) const;

    // A Rietveld phase's intensity of reflection k at 1/d^2 = s, and its
    // derivatives in the phase's scale, B, r and s.
    struct Rietveld {
        double i = 0, d_scale = 0, d_biso = 0, d_po = 0, d_s = 0;
    };
    Rietveld rietveld(const double* p, int phase, int k, double s) const;

    // The line of reflection k of phase at p, with the window and the
    // number of axial-divergence nodes fixed by the last refresh().
    Line line(const double* p, int phase, int k, int which) const;
    bool has_alpha2() const { return instrument_.alpha2 > 0; }

    // The profile of a line at x per unit intensity, and its derivatives.
    struct LineValue {
        double value, d_position, d_fwhm, d_eta, d_s, d_h;
    };
    // asymmetry false: d_s and d_h left at 0 (not wanted).
    static LineValue line_value(const Line& line, double x, bool asymmetry = true);
    // Its value alone (the same number as line_value(...).value).
    static double line_profile(const Line& line, double x);

    // Fixes, at p, each line's window and node count, and which lines each
    // run of points must look at (with a margin for the lines' movement
    // during a solve). Called between solves.
    void refresh(const std::vector<double>& p);

    // Computes every line at p once, for the evaluations at p that follow
    // (their chunks share the lines instead of each recomputing positions,
    // widths and the divergence). Not thread-safe: called between
    // evaluations; evaluate() at any other p computes its lines itself.
    void prepare(const double* p);

    // Each line's profile per unit intensity (its strength apart) at the
    // points of its window: in runs of consecutive points (one per segment
    // the window reaches), {first point, count}, their values in order;
    // empty where the line is not ok.
    struct Profile {
        std::vector<std::pair<std::size_t, std::size_t>> runs;
        std::vector<double> value;
    };
    // The lines and their profiles at p, recomputed only when a parameter
    // the lines depend on has moved since the last call (or a refresh()):
    // a solve that moves only intensities, scales or the background, the
    // Le Bail partition and the R factors share them. Not thread-safe:
    // called between evaluations; evaluate() at p uses them for the lines
    // none of whose derivatives is wanted.
    const std::vector<Profile>& profiles(const double* p) const;
    const std::vector<Line>& lines(const double* p) const;
    // Whether a line moves or changes shape with parameter q.
    bool is_line_parameter(int q) const;

    // The runs of points the residuals are cut into (each within one
    // segment), and the lines each must look at.
    struct Chunk {
        std::size_t begin, end;
        std::vector<int> lines; // indices into line_keys()
    };
    const std::vector<Chunk>& chunks() const { return chunks_; }
    struct LineKey {
        int phase, reflection, which;
    };
    const std::vector<LineKey>& line_keys() const { return keys_; }

    // The background at point i.
    double background_at(const double* p, std::size_t i, double* d_coefficients) const;
    int background_count() const { return instrument_.background_terms + (inverse >= 0 ? 1 : 0); }

    // The calculated pattern and its background at every point.
    void calculate(const double* p, std::vector<double>& ycalc, std::vector<double>& bg) const;

    // Weighted residuals (y_obs - y_calc) / sigma over the points of chunk c,
    // and, where jacobian is given, d residual / d parameter for each
    // parameter with a column (jacobian[j] null: column j is not wanted;
    // each column holds the chunk's points in order). false where p makes
    // no pattern (a metric that is not positive definite, a width that is
    // not real).
    // column_of[q]: the column of parameter q (-1: none).
    bool evaluate(const double* p, const Chunk& chunk, const std::vector<int>& column_of,
                  double* residuals, double* const* jacobian) const;

  private:
    int add(const std::string& name, double value, double lower = -1e300, double upper = 1e300);
    Data data_;
    Instrument instrument_;
    std::vector<Phase> phases_;
    std::vector<Parameter> parameters_;
    std::vector<LineKey> keys_;
    std::vector<int> key_offset_; // per phase: the key of its first reflection's first line
    int key_of(int phase, int k, int which) const {
        return key_offset_[static_cast<std::size_t>(phase)] + k * (has_alpha2() ? 2 : 1) + which;
    }
    std::vector<double> half_width_;        // per key, from the last refresh
    std::vector<std::size_t> nodes_;        // per key
    std::vector<double> near_lo_, near_hi_; // per key
    std::vector<Chunk> chunks_;
    // The parameters a line depends on, and the lines of the last prepare()
    // with the values it had of them (empty: none).
    std::vector<int> line_parameters_;
    mutable std::vector<double> prepared_at_;
    mutable std::vector<Line> prepared_;
    mutable std::vector<Profile> profiles_;
    mutable bool profiles_ready_ = false; // profiles_ are those of prepared_
    bool is_prepared(const double* p) const;
    void prepare_lines(const double* p) const;
};

} // namespace peakfit
