// SPDX-License-Identifier: Apache-2.0
// TimeStamp and TimeDuration: two 32-bit fields each, with every result checked against that range.

#include <Kel/TimeDuration.h>
#include <Kel/TimeStamp.h>

#include "DefaultLogger.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace Kel {
namespace {

constexpr std::int64_t kNanoPerSec = 1000000000;
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kUint32Max = std::numeric_limits<std::uint32_t>::max();
constexpr const char* kDurationRange = "Duration is out of dual 32-bit range";
constexpr const char* kTimeRange = "Time is out of dual 32-bit range";

// This source file's name without folders and extension, as range errors report it.
std::string_view ModuleName() {
  std::string_view path = __FILE__;
  if (const auto slash = path.find_last_of('/'); slash != std::string_view::npos) path.remove_prefix(slash + 1);
  if (const auto dot = path.find_last_of('.'); dot != std::string_view::npos) path = path.substr(0, dot);
  return path;
}

[[noreturn]] void RaiseRangeError(int line, const char* message) {
  const auto& logger = DefaultLogger();
  if (logger && logger->ShouldLog(4)) {
    logger->Write(4, "{0}:{1} : {2} ", ModuleName(), line, message);
  }
  throw std::runtime_error(message);
}
#define KEL_TIME_RANGE_ERROR(message) RaiseRangeError(__LINE__, message)

struct Parts {
  std::int64_t sec;
  std::int64_t nsec;
};

// Carries whole seconds out of nsec so that 0 <= nsec < 1e9.
Parts Carry(std::int64_t sec, std::int64_t nsec) {
  std::int64_t s = sec + nsec / kNanoPerSec;
  std::int64_t n = nsec % kNanoPerSec;
  if (n < 0) {
    n += kNanoPerSec;
    s -= 1;
  }
  return {s, n};
}

TimeDuration NormalizeSigned(std::int64_t sec, std::int64_t nsec) {
  const Parts p = Carry(sec, nsec);
  if (p.sec < kInt32Min || p.sec > kInt32Max) KEL_TIME_RANGE_ERROR(kDurationRange);
  TimeDuration d;
  d.sec = static_cast<std::int32_t>(p.sec);
  d.nsec = static_cast<std::int32_t>(p.nsec);
  return d;
}

TimeStamp NormalizeUnsigned(std::int64_t sec, std::int64_t nsec) {
  const Parts p = Carry(sec, nsec);
  if (p.sec < 0 || p.sec > kUint32Max) KEL_TIME_RANGE_ERROR(kTimeRange);
  TimeStamp t;
  t.sec = static_cast<std::uint32_t>(p.sec);
  t.nsec = static_cast<std::uint32_t>(p.nsec);
  return t;
}

// Whole seconds (floor) and rounded nanoseconds of `seconds`, after checking that the floor lies in
// [lowest, highest]; NaN and infinities fail the check.
Parts SplitSeconds(double seconds, std::int64_t lowest, std::int64_t highest, const char* message) {
  const double whole = std::floor(seconds);
  if (!(whole >= static_cast<double>(lowest) && whole <= static_cast<double>(highest))) {
    KEL_TIME_RANGE_ERROR(message);
  }
  const auto sec = static_cast<std::int64_t>(whole);
  const auto nsec = static_cast<std::int64_t>(std::round((seconds - whole) * 1e9));
  return {sec, nsec};
}

// A double count of nanoseconds truncated toward zero; a count beyond 64 bits is a range error.
std::int64_t TruncateNanoSec(double nanoseconds) {
  constexpr double kLimit = 9.2e18;
  if (!(nanoseconds > -kLimit && nanoseconds < kLimit)) KEL_TIME_RANGE_ERROR(kDurationRange);
  return static_cast<std::int64_t>(nanoseconds);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// TimeDuration
// ---------------------------------------------------------------------------------------------------

TimeDuration::TimeDuration(int seconds, int nanoseconds) { *this = NormalizeSigned(seconds, nanoseconds); }

TimeDuration::TimeDuration(double seconds) { FromSec(seconds); }

TimeDuration& TimeDuration::FromSec(double seconds) {
  const Parts p = SplitSeconds(seconds, kInt32Min, kInt32Max, kDurationRange);
  return *this = NormalizeSigned(p.sec, p.nsec);
}

TimeDuration& TimeDuration::FromMilliSec(double milliseconds) { return FromSec(milliseconds * 0.001); }

TimeDuration& TimeDuration::FromMicroSec(double microseconds) { return FromSec(microseconds * 1e-6); }

TimeDuration& TimeDuration::FromNanoSec(std::int64_t nanoseconds) {
  const std::int64_t s = nanoseconds / kNanoPerSec;
  if (s < kInt32Min || s > kInt32Max) KEL_TIME_RANGE_ERROR(kDurationRange);
  return *this = NormalizeSigned(s, nanoseconds - s * kNanoPerSec);
}

double TimeDuration::ToSec() const { return nsec * 1e-9 + sec; }
double TimeDuration::ToMilliSec() const { return ToSec() * 1000.0; }
double TimeDuration::ToMicroSec() const { return ToSec() * 1000000.0; }
std::int64_t TimeDuration::ToNanoSec() const { return static_cast<std::int64_t>(sec) * kNanoPerSec + nsec; }

void TimeDuration::Sleep() const {
  using Clock = std::chrono::steady_clock;
  const std::int64_t total = ToNanoSec();
  if (total <= 0) return;

  const Clock::time_point start = Clock::now();
  const auto elapsedSinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch());
  const auto headroom = std::chrono::nanoseconds::max() - elapsedSinceEpoch;
  const auto wait = std::min(std::chrono::nanoseconds(total), headroom);
  const Clock::time_point deadline = start + std::chrono::duration_cast<Clock::duration>(wait);

  constexpr auto kSlice = std::chrono::hours(24 * 10);
  for (Clock::time_point now = start; now < deadline; now = Clock::now()) {
    std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kSlice));
  }
}

bool TimeDuration::operator==(const TimeDuration& o) const { return sec == o.sec && nsec == o.nsec; }
bool TimeDuration::operator!=(const TimeDuration& o) const { return !(*this == o); }
bool TimeDuration::operator<(const TimeDuration& o) const { return sec < o.sec || (sec == o.sec && nsec < o.nsec); }
bool TimeDuration::operator<=(const TimeDuration& o) const { return !(o < *this); }
bool TimeDuration::operator>(const TimeDuration& o) const { return o < *this; }
bool TimeDuration::operator>=(const TimeDuration& o) const { return !(*this < o); }

TimeDuration TimeDuration::operator+(const TimeDuration& o) const {
  const std::int64_t total =
      (static_cast<std::int64_t>(sec) + o.sec) * kNanoPerSec + static_cast<std::int64_t>(o.nsec) + nsec;
  return TimeDuration().FromNanoSec(total);
}

TimeDuration TimeDuration::operator-(const TimeDuration& o) const {
  return TimeDuration().FromNanoSec(ToNanoSec() - o.ToNanoSec());
}

TimeDuration TimeDuration::operator-() const { return TimeDuration().FromNanoSec(-ToNanoSec()); }

TimeDuration TimeDuration::operator*(double factor) const { return TimeDuration().FromSec(ToSec() * factor); }

TimeDuration TimeDuration::operator/(double divisor) const { return TimeDuration().FromSec(ToSec() / divisor); }

TimeDuration& TimeDuration::operator+=(const TimeDuration& o) { return *this = *this + o; }

TimeDuration& TimeDuration::operator-=(const TimeDuration& o) { return *this = *this + (-o); }

TimeDuration& TimeDuration::operator*=(double factor) {
  return FromNanoSec(TruncateNanoSec(static_cast<double>(ToNanoSec()) * factor));
}

TimeDuration& TimeDuration::operator/=(double divisor) {
  return FromNanoSec(TruncateNanoSec(static_cast<double>(ToNanoSec()) / divisor));
}

// ---------------------------------------------------------------------------------------------------
// TimeStamp
// ---------------------------------------------------------------------------------------------------

TimeStamp::TimeStamp(unsigned seconds, unsigned nanoseconds)
    : sec(seconds + nanoseconds / static_cast<unsigned>(kNanoPerSec)),
      nsec(nanoseconds % static_cast<unsigned>(kNanoPerSec)) {}

TimeStamp::TimeStamp(double seconds) { FromSec(seconds); }

TimeStamp& TimeStamp::FromSec(double seconds) {
  const Parts p = SplitSeconds(seconds, 0, kUint32Max, kTimeRange);
  return *this = NormalizeUnsigned(p.sec, p.nsec);
}

TimeStamp& TimeStamp::FromNanoSec(std::int64_t nanoseconds) {
  const Parts p = Carry(0, nanoseconds);
  sec = static_cast<std::uint32_t>(p.sec);  // modulo 2^32
  nsec = static_cast<std::uint32_t>(p.nsec);
  return *this;
}

TimeStamp TimeStamp::Now() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return TimeStamp().FromNanoSec(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

double TimeStamp::ToSec() const { return nsec * 1e-9 + sec; }

std::int64_t TimeStamp::ToNanoSec() const { return static_cast<std::int64_t>(sec) * kNanoPerSec + nsec; }

std::string TimeStamp::DateTime(const char* format) const {
  if (format == nullptr) return {};
  const std::time_t seconds = static_cast<std::time_t>(sec);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return {};
  char buffer[256] = {};
  // strftime returns 0 when the text does not fit; the buffer's content is then unspecified.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"  // the caller's format is the point of this function
  const std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
#pragma GCC diagnostic pop
  if (length == 0) return {};
  return std::string(buffer);
}

bool TimeStamp::operator==(const TimeStamp& o) const { return sec == o.sec && nsec == o.nsec; }
bool TimeStamp::operator!=(const TimeStamp& o) const { return !(*this == o); }
bool TimeStamp::operator<(const TimeStamp& o) const { return sec < o.sec || (sec == o.sec && nsec < o.nsec); }
bool TimeStamp::operator<=(const TimeStamp& o) const { return !(o < *this); }
bool TimeStamp::operator>(const TimeStamp& o) const { return o < *this; }
bool TimeStamp::operator>=(const TimeStamp& o) const { return !(*this < o); }

TimeStamp TimeStamp::operator+(const TimeDuration& d) const {
  return NormalizeUnsigned(static_cast<std::int64_t>(sec) + d.sec, static_cast<std::int64_t>(nsec) + d.nsec);
}

TimeStamp TimeStamp::operator-(const TimeDuration& d) const { return *this + (-d); }

TimeDuration TimeStamp::operator-(const TimeStamp& o) const {
  return TimeDuration().FromNanoSec(ToNanoSec() - o.ToNanoSec());
}

TimeStamp& TimeStamp::operator+=(const TimeDuration& d) { return *this = *this + d; }

TimeStamp& TimeStamp::operator-=(const TimeDuration& d) { return *this = *this - d; }

}  // namespace Kel
