// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Kel/KelCommonExport.h>
#include <Kel/TimeDuration.h>

#include <cstdint>
#include <string>

namespace Kel {

/// A point in time: `sec` seconds plus `nsec` nanoseconds since 1970-01-01 00:00:00 UTC, both unsigned,
/// 0 <= nsec < 1e9.
///
/// Arithmetic whose seconds leave 0 ... 4294967295 is logged through the default logger "Kel" and thrown
/// as std::runtime_error("Time is out of dual 32-bit range").
struct KEL_COMMON_EXPORT TimeStamp {
  std::uint32_t sec = 0;
  std::uint32_t nsec = 0;

  TimeStamp() = default;
  /// Carries whole seconds out of `nsec`; seconds wrap modulo 2^32, never an error.
  TimeStamp(unsigned sec, unsigned nsec);
  explicit TimeStamp(double seconds);

  TimeStamp& FromSec(double seconds);
  /// Never fails: seconds are kept modulo 2^32 (a negative count wraps the same way, counted from the
  /// floor of the division, so -1 ns is sec 4294967295, nsec 999999999).
  TimeStamp& FromNanoSec(std::int64_t nanoseconds);

  /// The wall-clock time now.
  static TimeStamp Now();

  double ToSec() const;
  std::int64_t ToNanoSec() const;
  /// The local calendar time of `sec`, formatted with strftime (at most 255 characters).
  std::string DateTime(const char* format) const;

  bool operator==(const TimeStamp& other) const;
  bool operator!=(const TimeStamp& other) const;
  bool operator<(const TimeStamp& other) const;
  bool operator<=(const TimeStamp& other) const;
  bool operator>(const TimeStamp& other) const;
  bool operator>=(const TimeStamp& other) const;

  TimeStamp operator+(const TimeDuration& duration) const;
  TimeStamp operator-(const TimeDuration& duration) const;
  TimeDuration operator-(const TimeStamp& other) const;
  TimeStamp& operator+=(const TimeDuration& duration);
  TimeStamp& operator-=(const TimeDuration& duration);
};

}  // namespace Kel
