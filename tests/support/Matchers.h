// SPDX-License-Identifier: Apache-2.0
#pragma once

// Comparisons shared by the tests, each printing both sides when it fails.

#include <gtest/gtest.h>
#include <Eigen/Core>

namespace TarnTest {

/// Every entry of `a` within `tol` of the same entry of `b`.
inline testing::AssertionResult MatrixNear(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b, double tol) {
  if (a.rows() != b.rows() || a.cols() != b.cols()) {
    return testing::AssertionFailure() << "sizes " << a.rows() << "x" << a.cols() << " vs " << b.rows() << "x"
                                       << b.cols();
  }
  const double d = (a - b).cwiseAbs().maxCoeff();
  if (d <= tol) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "max difference " << d << "\n" << a << "\nvs\n" << b;
}

}  // namespace TarnTest
