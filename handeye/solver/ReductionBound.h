// SPDX-License-Identifier: Apache-2.0
#pragma once

// A bound on what a shot not yet taken can lower the camera translation's variance by, cheap enough to rule out
// most candidate shots before they are scored in full.

#include "solver/JointSolve.h"

#include <Eigen/Cholesky>
#include <Eigen/Core>

#include <cmath>

#include <limits>

namespace TamoHandEye {

// A candidate's rows whitened by their covariance, L⁻¹J with LLᵀ = Σ. The reduction of the translation's trace a
// shot brings, tr(KᵀS⁻¹K) with K = J·C_t and S = Σ + J·C·Jᵀ ≥ Σ, is at most ‖L⁻¹K‖² = ‖L⁻¹J·C_t‖², C_t the
// translation's columns of C = N⁻¹. NaN (no bound) when Σ is not positive definite. The points model's rows (3 × 9)
// are of unit variance already.
inline const Eigen::Matrix<double, 3, 9>& Whitened(const Eigen::Matrix<double, 3, 9>& j) { return j; }
inline Eigen::Matrix<double, 6, 12> Whitened(const JointRows& rows) {
  Eigen::Matrix<double, 6, 12> out;
  // Cholesky factor and forward substitution by plain loops: at this size a general factorisation's blocks cost
  // more than the arithmetic.
  double l[6][6];
  for (int j = 0; j < 6; ++j) {
    double d = rows.c(j, j);
    for (int k = 0; k < j; ++k) d -= l[j][k] * l[j][k];
    if (!(d > 0.0)) {
      out.setConstant(std::numeric_limits<double>::quiet_NaN());
      return out;
    }
    l[j][j] = 1.0 / std::sqrt(d);  // the diagonal kept as its reciprocal
    for (int i = j + 1; i < 6; ++i) {
      double e = rows.c(i, j);
      for (int k = 0; k < j; ++k) e -= l[i][k] * l[j][k];
      l[i][j] = e * l[j][j];
    }
  }
  for (int i = 0; i < 6; ++i) {
    Eigen::Matrix<double, 1, 12> row = rows.j.row(i);
    for (int k = 0; k < i; ++k) row -= l[i][k] * out.row(k);
    out.row(i) = row * l[i][i];
  }
  return out;
}

// A candidate's whitened rows as kept between picks: in single precision, and how far that may be from them, a
// bound `slack` on ‖W − W_kept‖ (relative rounding of every entry, and the absolute error of those below single
// precision's normal range).
template <int Rows, int Cols>
struct KeptRows {
  KeptRows() = default;  // left unset: a block of them is laid out before any is made
  explicit KeptRows(const Eigen::Matrix<double, Rows, Cols>& w)
      : rows(w.template cast<float>()),
        slack(static_cast<double>(std::numeric_limits<float>::epsilon()) * w.norm() +
              Rows * Cols * static_cast<double>(std::numeric_limits<float>::min())) {}
  Eigen::Matrix<float, Rows, Cols> rows;
  double slack;
};

// The bound itself. As C ≥ C_t·C_tt⁻¹·C_tᵀ (C_tt the translation's block of C), S is at least
// Σ + J·C_t·C_tt⁻¹·C_tᵀ·Jᵀ, and with K = W·C_t, G = KᵀK the reduction is at most
// tr(Kᵀ(I + K·C_tt⁻¹·Kᵀ)⁻¹K) = tr(G·(C_tt + G)⁻¹·C_tt): what the shot would bring were the translation alone
// unknown, no more than ‖K‖². That grows with G, so the kept rows serve with G taken at least as large as the
// exact rows' one: for K' of the kept rows, G ≤ (1 + a)·K'ᵀK' + (1 + 1/a)·(slack·‖C_t‖)²·I for any a > 0.
template <int Rows, int Cols>
double ReductionBound(const KeptRows<Rows, Cols>& w, const Eigen::Matrix<double, Cols, 3>& translation,
                      double translationNorm, const Eigen::Matrix3d& covariance) {
  constexpr double kShare = 1e-6;  // a
  // Column by column, each widened once: a product over the cast is evaluated coefficient by coefficient.
  Eigen::Matrix<double, Rows, 3> k = Eigen::Matrix<double, Rows, 3>::Zero();
  for (int c = 0; c < Cols; ++c) {
    const Eigen::Matrix<double, Rows, 1> column = w.rows.col(c).template cast<double>();
    k.col(0) += column * translation(c, 0);
    k.col(1) += column * translation(c, 1);
    k.col(2) += column * translation(c, 2);
  }
  const double spread = w.slack * translationNorm;
  const Eigen::Matrix3d g = (1.0 + kShare) * k.transpose().lazyProduct(k) +
                            (1.0 + 1.0 / kShare) * spread * spread * Eigen::Matrix3d::Identity();
  // (C_tt + G)⁻¹ as its adjugate over its determinant (symmetric, positive definite).
  const Eigen::Matrix3d m = covariance + g;
  Eigen::Matrix3d adjugate;
  adjugate(0, 0) = m(1, 1) * m(2, 2) - m(1, 2) * m(1, 2);
  adjugate(0, 1) = m(0, 2) * m(1, 2) - m(0, 1) * m(2, 2);
  adjugate(0, 2) = m(0, 1) * m(1, 2) - m(0, 2) * m(1, 1);
  adjugate(1, 1) = m(0, 0) * m(2, 2) - m(0, 2) * m(0, 2);
  adjugate(1, 2) = m(0, 1) * m(0, 2) - m(0, 0) * m(1, 2);
  adjugate(2, 2) = m(0, 0) * m(1, 1) - m(0, 1) * m(0, 1);
  adjugate(1, 0) = adjugate(0, 1);
  adjugate(2, 0) = adjugate(0, 2);
  adjugate(2, 1) = adjugate(1, 2);
  const double determinant = m(0, 0) * adjugate(0, 0) + m(0, 1) * adjugate(0, 1) + m(0, 2) * adjugate(0, 2);
  return g.cwiseProduct(adjugate.lazyProduct(covariance).transpose()).sum() / determinant;
}

}  // namespace TamoHandEye
