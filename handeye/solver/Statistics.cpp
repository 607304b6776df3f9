// SPDX-License-Identifier: Apache-2.0
#include "solver/Statistics.h"

#include <math.h>  // lgamma_r
#include <algorithm>
#include <cmath>
#include <limits>

namespace TamoHandEye {
namespace {

// The continued fraction of the regularised incomplete beta function, by the modified Lentz method.
double BetaFraction(double a, double b, double x) {
  constexpr double kTiny = 1e-300;
  constexpr double kEpsilon = 1e-15;
  const double qab = a + b;
  const double qap = a + 1.0;
  const double qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 - qab * x / qap;
  if (std::abs(d) < kTiny) d = kTiny;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m <= 500; ++m) {
    const double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 + aa * d;
    if (std::abs(d) < kTiny) d = kTiny;
    c = 1.0 + aa / c;
    if (std::abs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 + aa * d;
    if (std::abs(d) < kTiny) d = kTiny;
    c = 1.0 + aa / c;
    if (std::abs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    const double step = d * c;
    h *= step;
    if (std::abs(step - 1.0) < kEpsilon) break;
  }
  return h;
}

// ln Γ(x) for x > 0. std::lgamma writes the sign into a global (signgam): a race when two threads test at
// once; the reentrant form keeps it local.
double LogGamma(double x) {
  int sign = 0;
  return ::lgamma_r(x, &sign);
}

// I_x(a, b): P(B ≤ x) for B ~ Beta(a, b).
double RegularisedBeta(double x, double a, double b) {
  if (x <= 0.0) return 0.0;
  if (x >= 1.0) return 1.0;
  const double front = std::exp(LogGamma(a + b) - LogGamma(a) - LogGamma(b) + a * std::log(x) + b * std::log1p(-x));
  // The fraction converges fast on this side of the mean; the other side by symmetry.
  if (x < (a + 1.0) / (a + b + 2.0)) return front * BetaFraction(a, b, x) / a;
  return 1.0 - front * BetaFraction(b, a, 1.0 - x) / b;
}

}  // namespace

double FisherCdf(double f, double d1, double d2) {
  if (!(f > 0.0)) return 0.0;
  if (std::isinf(f)) return 1.0;
  return RegularisedBeta(d1 * f / (d1 * f + d2), d1 / 2.0, d2 / 2.0);
}

double FisherQuantile(double p, double d1, double d2) {
  if (!(p > 0.0)) return 0.0;
  if (!(p < 1.0)) return std::numeric_limits<double>::infinity();
  // Bisection on the beta variable x = d1·f / (d1·f + d2), which lies in (0, 1).
  double low = 0.0;
  double high = 1.0;
  for (int i = 0; i < 200 && high - low > 1e-16; ++i) {
    const double mid = 0.5 * (low + high);
    (RegularisedBeta(mid, d1 / 2.0, d2 / 2.0) < p ? low : high) = mid;
  }
  const double x = 0.5 * (low + high);
  return d2 * x / (d1 * (1.0 - x));
}

double DetectableNoncentrality(double alpha, double power, double d1, double d2) {
  const double critical = FisherQuantile(1.0 - alpha, d1, d2);
  // χ'²(d1, λ) ≈ a·χ²(f): the statistic ≈ (a·f/d1)·F(f, d2).
  const auto detects = [&](double lambda) {
    const double a = (d1 + 2.0 * lambda) / (d1 + lambda);
    const double f = (d1 + lambda) * (d1 + lambda) / (d1 + 2.0 * lambda);
    return 1.0 - FisherCdf(critical * d1 / (a * f), f, d2);
  };
  double low = 0.0;
  double high = 1.0;
  while (detects(high) < power && high < 1e8) high *= 2.0;
  for (int i = 0; i < 100 && high - low > 1e-9 * high; ++i) {
    const double mid = 0.5 * (low + high);
    (detects(mid) < power ? low : high) = mid;
  }
  return 0.5 * (low + high);
}

double ChiSquareQuantile(double p, double k) {
  // χ²/k is F(k, ∞): the limit is reached closely enough with a very large second freedom.
  return k * FisherQuantile(p, k, 1e7);
}

}  // namespace TamoHandEye
