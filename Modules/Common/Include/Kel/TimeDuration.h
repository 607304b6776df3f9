// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Kel/KelCommonExport.h>

#include <cstdint>

namespace Kel {

/// A signed span of time: `sec` whole seconds plus `nsec` nanoseconds, 0 <= nsec < 1e9 after every
/// operation (-0.5 s is sec -1, nsec 500000000).
///
/// Any result whose seconds do not fit 32 signed bits is logged through the default logger "Kel" and
/// thrown as std::runtime_error("Duration is out of dual 32-bit range").
struct KEL_COMMON_EXPORT TimeDuration {
  std::int32_t sec = 0;
  std::int32_t nsec = 0;

  TimeDuration() = default;
  TimeDuration(int sec, int nsec);
  explicit TimeDuration(double seconds);

  TimeDuration& FromSec(double seconds);
  TimeDuration& FromMilliSec(double milliseconds);
  TimeDuration& FromMicroSec(double microseconds);
  TimeDuration& FromNanoSec(std::int64_t nanoseconds);

  double ToSec() const;
  double ToMilliSec() const;
  double ToMicroSec() const;
  std::int64_t ToNanoSec() const;

  /// Blocks the calling thread for this duration (returns at once when it is not positive).
  void Sleep() const;

  bool operator==(const TimeDuration& other) const;
  bool operator!=(const TimeDuration& other) const;
  bool operator<(const TimeDuration& other) const;
  bool operator<=(const TimeDuration& other) const;
  bool operator>(const TimeDuration& other) const;
  bool operator>=(const TimeDuration& other) const;

  TimeDuration operator+(const TimeDuration& other) const;
  TimeDuration operator-(const TimeDuration& other) const;
  TimeDuration operator-() const;
  /// Through seconds as a double.
  TimeDuration operator*(double factor) const;
  TimeDuration operator/(double divisor) const;
  TimeDuration& operator+=(const TimeDuration& other);
  TimeDuration& operator-=(const TimeDuration& other);
  /// Through nanoseconds, truncated toward zero (so 1 ns *= 0.5 is 0 ns, while 1 ns * 0.5 is 1 ns).
  TimeDuration& operator*=(double factor);
  TimeDuration& operator/=(double divisor);
};

}  // namespace Kel
