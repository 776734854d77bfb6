// The cell as the reciprocal metric tensor, restricted to what the space
// group's rotations leave invariant, so that a fit moves it only within its
// crystal system.
#pragma once

#include "peakhkl/crystal.hpp"

#include <Eigen/Dense>

#include <array>
#include <vector>

namespace peakfit {

// 1/d^2 = A0 h^2 + A1 k^2 + A2 l^2 + A3 hk + A4 hl + A5 kl, A the reciprocal
// metric tensor G* written as (G*11, G*22, G*33, 2 G*12, 2 G*13, 2 G*23).
using Metric = std::array<double, 6>;

// The six products (h^2, k^2, l^2, hk, hl, kl) that multiply A.
std::array<double, 6> hkl_terms(const std::array<int, 3>& hkl);

// 1/d^2 of hkl under A.
double inverse_d2(const Metric& a, const std::array<int, 3>& hkl);

// A of a direct cell (a, b, c in angstroms, angles in degrees) and back.
Metric metric_of_cell(const peakhkl::CellValues& cell);
peakhkl::CellValues cell_of_metric(const Metric& a);

// Whether G* of A is positive definite (a real cell).
bool positive_definite(const Metric& a);

// The subspace of A the group's rotations R leave invariant
// (R G* R^T = G* for each R acting on the Miller indices as rows): A = basis
// * p for the free parameters p. Its columns are orthonormal; their number is
// 1 (cubic), 2 (hexagonal, trigonal, tetragonal), 3 (orthorhombic), 4
// (monoclinic), 6 (triclinic), in any setting.
struct Constraint {
    Eigen::Matrix<double, 6, Eigen::Dynamic> basis;
    int free() const { return static_cast<int>(basis.cols()); }
    // p of the metric closest to a within the subspace (its projection).
    std::vector<double> parameters(const Metric& a) const;
    Metric metric(const double* p) const;
};
Constraint constraint_of(const gemmi::GroupOps& ops);

// The cell and its volume as functions of p, with their standard
// uncertainties from the covariance of p (the cell's derivatives by central
// differences of the closed-form conversion).
struct CellWithEsd {
    std::array<double, 7> value; // a b c alpha beta gamma volume
    std::array<double, 7> esd;
};
CellWithEsd cell_with_esd(const Constraint& constraint, const std::vector<double>& p,
                          const Eigen::MatrixXd& covariance);

} // namespace peakfit
