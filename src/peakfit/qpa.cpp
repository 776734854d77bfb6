#include "peakfit/qpa.hpp"

#include "peakhkl/error.hpp"
#include "peakhkl/intensity.hpp"

#include <gemmi/small.hpp>

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace peakfit {

CellContents cell_contents(const peakhkl::Crystal& crystal,
                           const std::vector<peakhkl::AtomSite>& atoms) {
    // The images of a site in the cell: every operation, centring included;
    // the ones that fall on the site itself make the occupancy a
    // crystallographic one (chemical / order of the site's symmetry).
    gemmi::SmallStructure structure;
    structure.cell = crystal.unit_cell;
    const gemmi::GroupOps& ops = crystal.symmetry.ops;
    for (const gemmi::Op& op : ops)
        if (op != gemmi::Op::identity())
            structure.cell.images.push_back(
                gemmi::Transform{gemmi::rot_as_mat33(op), gemmi::tran_as_vec3(op)});
    for (const peakhkl::AtomSite& atom : atoms) {
        const gemmi::Element& el = atom.site.element;
        if (el == gemmi::El::X || el.weight() <= 0)
            throw peakhkl::InputError(atom.where.text(), "an atom of an element with a mass",
                                      "a dummy or unknown atom " +
                                          peakhkl::quoted(atom.site.type_symbol));
        structure.sites.push_back(atom.site);
    }
    structure.change_occupancies_to_crystallographic(peakhkl::special_position_tolerance);

    CellContents contents;
    for (const auto& site : structure.sites) {
        const double n = site.occ * ops.order();
        contents.atoms[site.element.atomic_number()] += n;
        contents.mass += n * site.element.weight();
    }
    return contents;
}

std::string formula(const CellContents& contents) {
    std::string text;
    for (const auto& [z, n] : contents.atoms) {
        if (!text.empty()) text += ' ';
        text += gemmi::element_name(static_cast<gemmi::El>(z));
        char count[32];
        std::snprintf(count, sizeof count, "%.3f", n);
        std::string c = count;
        while (c.back() == '0') c.pop_back();
        if (c.back() == '.') c.pop_back();
        text += c;
    }
    return text;
}

namespace {

Fraction fraction_of(double value, double variance) {
    Fraction f;
    f.esd = std::sqrt(std::max(variance, 0.0));
    if (value > 0) {
        f.value = value;
    } else {
        f.value = 0;
        f.detected = false;
    }
    return f;
}

} // namespace

Composition weight_fractions(const std::vector<PhaseScale>& phases,
                             const Eigen::MatrixXd& covariance,
                             const std::optional<Standard>& standard) {
    const Eigen::Index n = static_cast<Eigen::Index>(phases.size());
    if (covariance.rows() != 2 * n || covariance.cols() != 2 * n)
        throw std::invalid_argument("weight_fractions: the covariance is not 2P x 2P");
    if (standard && (standard->phase >= phases.size() || !(standard->fraction > 0) ||
                     !(standard->fraction < 1)))
        throw std::invalid_argument("weight_fractions: a standard outside the phases or (0, 1)");

    // x_p and its derivatives in S_p and V_p. A scale at or below zero is
    // a phase not there: x_p = 0, but its derivative still carries the
    // scale's uncertainty into the others' fractions and its own esd.
    Eigen::VectorXd x(n), dx_ds(n), dx_dv(n);
    for (Eigen::Index p = 0; p < n; ++p) {
        const PhaseScale& ph = phases[static_cast<std::size_t>(p)];
        const double s = std::max(ph.scale, 0.0);
        dx_ds[p] = ph.cell_mass * ph.volume / ph.tau;
        dx_dv[p] = s * ph.cell_mass / ph.tau;
        x[p] = s * dx_ds[p];
    }
    const double sum = x.sum();

    // jacobian of y = f(x) in (S, V) from dy/dx.
    const auto propagate = [&](const Eigen::MatrixXd& dy_dx) {
        Eigen::MatrixXd j(dy_dx.rows(), 2 * n);
        j.leftCols(n) = dy_dx * dx_ds.asDiagonal();
        j.rightCols(n) = dy_dx * dx_dv.asDiagonal();
        return Eigen::MatrixXd(j * covariance * j.transpose());
    };

    Composition result;
    if (!(sum > 0)) {
        // Nothing detected at all: every fraction 0, with no esd to give.
        result.weight.assign(phases.size(), Fraction{0, 0, false});
        return result;
    }
    // W_p = x_p / sum: dW_p/dx_q = (delta_pq - W_p) / sum.
    const Eigen::VectorXd w = x / sum;
    Eigen::MatrixXd dw = -w * Eigen::RowVectorXd::Ones(n) / sum;
    dw.diagonal().array() += 1 / sum;
    const Eigen::MatrixXd cov_w = propagate(dw);
    for (Eigen::Index p = 0; p < n; ++p) result.weight.push_back(fraction_of(w[p], cov_w(p, p)));

    if (!standard) return result;
    const Eigen::Index s = static_cast<Eigen::Index>(standard->phase);
    const double f = standard->fraction;
    if (!(x[s] > 0)) {
        // The standard itself not seen: nothing absolute can be said.
        result.absolute.assign(phases.size(), Fraction{0, 0, false});
        return result;
    }
    // A_p = f x_p / x_s: dA_p/dx_q = f (delta_pq / x_s - delta_qs x_p / x_s^2);
    // amorphous = 1 - sum_p A_p = 1 - f sum / x_s.
    Eigen::MatrixXd da = Eigen::MatrixXd::Identity(n, n) * (f / x[s]);
    da.col(s) -= x * (f / (x[s] * x[s]));
    Eigen::MatrixXd dm = -Eigen::RowVectorXd::Ones(n) * da;
    const Eigen::MatrixXd cov_a = propagate(da);
    const Eigen::MatrixXd cov_m = propagate(dm);
    for (Eigen::Index p = 0; p < n; ++p)
        result.absolute.push_back(fraction_of(f * x[p] / x[s], cov_a(p, p)));
    const double amorphous = 1 - f * sum / x[s];
    result.amorphous = fraction_of(amorphous, cov_m(0, 0));
    result.amorphous_original = fraction_of(amorphous / (1 - f), cov_m(0, 0) / ((1 - f) * (1 - f)));
    return result;
}

} // namespace peakfit
