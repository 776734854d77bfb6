#include "peakfit/metric.hpp"

#include <cmath>
#include <limits>
#include <numbers>

namespace peakfit {

namespace {

constexpr double deg = std::numbers::pi / 180;

Eigen::Matrix3d tensor(const Metric& a) {
    Eigen::Matrix3d g;
    g << a[0], a[3] / 2, a[4] / 2, a[3] / 2, a[1], a[5] / 2, a[4] / 2, a[5] / 2, a[2];
    return g;
}

Metric packed(const Eigen::Matrix3d& g) {
    return {g(0, 0), g(1, 1), g(2, 2), 2 * g(0, 1), 2 * g(0, 2), 2 * g(1, 2)};
}

// The metric tensor of a cell: G_ij = a_i . a_j.
Eigen::Matrix3d direct_tensor(const peakhkl::CellValues& c) {
    const double ca = std::cos(c[3] * deg), cb = std::cos(c[4] * deg), cg = std::cos(c[5] * deg);
    Eigen::Matrix3d g;
    g << c[0] * c[0], c[0] * c[1] * cg, c[0] * c[2] * cb, c[0] * c[1] * cg, c[1] * c[1],
        c[1] * c[2] * ca, c[0] * c[2] * cb, c[1] * c[2] * ca, c[2] * c[2];
    return g;
}

} // namespace

std::array<double, 6> hkl_terms(const std::array<int, 3>& m) {
    const double h = m[0], k = m[1], l = m[2];
    return {h * h, k * k, l * l, h * k, h * l, k * l};
}

double inverse_d2(const Metric& a, const std::array<int, 3>& hkl) {
    const auto t = hkl_terms(hkl);
    double s = 0;
    for (int j = 0; j < 6; ++j) s += a[j] * t[j];
    return s;
}

Metric metric_of_cell(const peakhkl::CellValues& cell) {
    return packed(direct_tensor(cell).inverse());
}

peakhkl::CellValues cell_of_metric(const Metric& a) {
    const Eigen::Matrix3d g = tensor(a).inverse();
    const double la = std::sqrt(g(0, 0)), lb = std::sqrt(g(1, 1)), lc = std::sqrt(g(2, 2));
    return {la,
            lb,
            lc,
            std::acos(g(1, 2) / (lb * lc)) / deg,
            std::acos(g(0, 2) / (la * lc)) / deg,
            std::acos(g(0, 1) / (la * lb)) / deg};
}

bool positive_definite(const Metric& a) {
    const Eigen::Matrix3d g = tensor(a);
    if (!g.allFinite()) return false;
    Eigen::LLT<Eigen::Matrix3d> llt(g);
    return llt.info() == Eigen::Success;
}

std::vector<double> Constraint::parameters(const Metric& a) const {
    Eigen::Matrix<double, 6, 1> v;
    for (int j = 0; j < 6; ++j) v[j] = a[j];
    const Eigen::VectorXd p = basis.transpose() * v;
    return {p.data(), p.data() + p.size()};
}

Metric Constraint::metric(const double* p) const {
    Metric a{};
    for (int j = 0; j < 6; ++j)
        for (int i = 0; i < free(); ++i) a[j] += basis(j, i) * p[i];
    return a;
}

Constraint constraint_of(const gemmi::GroupOps& ops) {
    // Each rotation gives the linear map A -> packed(R G* R^T) - A; the
    // free directions are the common null space of all of them.
    std::vector<Eigen::Matrix<double, 6, 6>> maps;
    for (const gemmi::Op& op : ops.sym_ops) {
        Eigen::Matrix3d r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r(i, j) = static_cast<double>(op.rot[i][j]) / gemmi::Op::DEN;
        Eigen::Matrix<double, 6, 6> m;
        for (int j = 0; j < 6; ++j) {
            Metric e{};
            e[j] = 1;
            // Miller indices transform as rows, h' = h R: 1/d^2 is kept
            // when R G* R^T = G*.
            const Metric t = packed(r * tensor(e) * r.transpose());
            for (int i = 0; i < 6; ++i) m(i, j) = t[i] - e[i];
        }
        maps.push_back(m);
    }
    Eigen::MatrixXd stacked(6 * static_cast<Eigen::Index>(maps.size()), 6);
    for (std::size_t k = 0; k < maps.size(); ++k)
        stacked.block(6 * static_cast<Eigen::Index>(k), 0, 6, 6) = maps[k];
    Eigen::JacobiSVD<Eigen::MatrixXd> svd(stacked, Eigen::ComputeFullV);
    const Eigen::VectorXd s = svd.singularValues();
    int rank = 0;
    for (Eigen::Index i = 0; i < s.size(); ++i)
        if (s[i] > 1e-9) ++rank;
    Constraint c;
    c.basis = svd.matrixV().rightCols(6 - rank);
    // A readable basis: each column turned so that its largest entry is
    // positive (the subspace is the same).
    for (int i = 0; i < c.free(); ++i) {
        Eigen::Index at = 0;
        c.basis.col(i).cwiseAbs().maxCoeff(&at);
        if (c.basis(at, i) < 0) c.basis.col(i) *= -1;
    }
    return c;
}

CellWithEsd cell_with_esd(const Constraint& constraint, const std::vector<double>& p,
                          const Eigen::MatrixXd& covariance) {
    const auto values = [&](const std::vector<double>& q) {
        const peakhkl::CellValues c = cell_of_metric(constraint.metric(q.data()));
        const Eigen::Matrix3d g = direct_tensor(c);
        return std::array<double, 7>{
            c[0], c[1], c[2], c[3], c[4], c[5], std::sqrt(g.determinant())};
    };
    CellWithEsd out;
    out.value = values(p);
    const int n = constraint.free();
    Eigen::Matrix<double, 7, Eigen::Dynamic> jac(7, n);
    for (int i = 0; i < n; ++i) {
        const double h = 1e-7 * std::max(std::abs(p[i]), 1e-6);
        std::vector<double> up = p, down = p;
        up[i] += h;
        down[i] -= h;
        const auto vu = values(up), vd = values(down);
        // A quantity the symmetry fixes (90 or 120 degrees) does not move:
        // its difference is round-off, a thousand ulps at most, and is 0.
        for (int k = 0; k < 7; ++k) {
            const double diff = vu[k] - vd[k];
            const double noise = 1e3 * std::numeric_limits<double>::epsilon() *
                                 std::max(std::abs(out.value[k]), 1.0);
            jac(k, i) = std::abs(diff) <= noise ? 0 : diff / (2 * h);
        }
    }
    const Eigen::MatrixXd c = jac * covariance * jac.transpose();
    for (int k = 0; k < 7; ++k) out.esd[k] = std::sqrt(std::max(c(k, k), 0.0));
    return out;
}

} // namespace peakfit
