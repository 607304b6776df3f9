// SPDX-License-Identifier: Apache-2.0
#pragma once

// The distributions the diagnostics test against: Fisher's F (and through it Student's t and χ²).

namespace TamoHandEye {

/// P(F ≤ f) for Fisher's F with `d1` and `d2` degrees of freedom (both above 0); 0 for f ≤ 0.
double FisherCdf(double f, double d1, double d2);

/// The f with P(F ≤ f) = p, for 0 < p < 1 (to a relative 1e-10).
double FisherQuantile(double p, double d1, double d2);

/// The noncentrality λ at which the F test of `d1` and `d2` degrees of freedom at level `alpha` (rejecting
/// beyond its 1 − alpha point) rejects with probability `power`: a statistic whose numerator is a
/// noncentral χ² of d1 degrees of freedom and noncentrality λ (Patnaik's approximation).
double DetectableNoncentrality(double alpha, double power, double d1, double d2);

/// The x with P(χ² ≤ x) = p for χ² with `k` degrees of freedom.
double ChiSquareQuantile(double p, double k);

}  // namespace TamoHandEye
