// SPDX-License-Identifier: Apache-2.0
#include <Kel/TimeDuration.h>
#include <Kel/TimeStamp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>

namespace {

using Kel::TimeDuration;
using Kel::TimeStamp;

template <typename F>
void ExpectRangeError(F&& f, const char* message) {
  try {
    f();
    ADD_FAILURE() << "no range error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), message);
  }
}
constexpr const char* kTimeRange = "Time is out of dual 32-bit range";
constexpr const char* kDurationRange = "Duration is out of dual 32-bit range";

TEST(TimeStamp, ConstructionCarriesAndWraps) {
  const TimeStamp t(1u, 2500000000u);
  EXPECT_EQ(t.sec, 3u);
  EXPECT_EQ(t.nsec, 500000000u);
  const TimeStamp wrapped(4294967295u, 1000000000u);  // no error: seconds wrap
  EXPECT_EQ(wrapped.sec, 0u);
  EXPECT_EQ(wrapped.nsec, 0u);
}

TEST(TimeStamp, FromSecondsRange) {
  ExpectRangeError([] { TimeStamp(-0.5); }, kTimeRange);
  ExpectRangeError([] { TimeStamp(4294967296.0); }, kTimeRange);
  const TimeStamp top(4294967295.9);
  EXPECT_EQ(top.sec, 4294967295u);
  EXPECT_NEAR(top.nsec, 900000000u, 1000u);
  const TimeStamp t(12.0000000004);
  EXPECT_EQ(t.sec, 12u);
  EXPECT_EQ(t.nsec, 0u);
}

TEST(TimeStamp, FromNanoSecondsKeepsSecondsModulo32Bits) {
  TimeStamp t;
  t.FromNanoSec(4294967296LL * 1000000000LL + 7);
  EXPECT_EQ(t.sec, 0u);
  EXPECT_EQ(t.nsec, 7u);
  t.FromNanoSec(-1);
  EXPECT_EQ(t.sec, 4294967295u);
  EXPECT_EQ(t.nsec, 999999999u);
  t.FromNanoSec(1500000000);
  EXPECT_EQ(t.ToNanoSec(), 1500000000);
  EXPECT_DOUBLE_EQ(t.ToSec(), 1.5);
}

TEST(TimeStamp, ArithmeticWithDurations) {
  const TimeStamp t(10u, 200000000u);
  const TimeStamp later = t + TimeDuration(-0.5);
  EXPECT_EQ(later.sec, 9u);
  EXPECT_EQ(later.nsec, 700000000u);
  EXPECT_EQ(later - t, TimeDuration(-0.5));
  EXPECT_EQ(t - TimeDuration(0, 300000000), TimeStamp(9u, 900000000u));
  TimeStamp moved = t;
  moved += TimeDuration(1, 900000000);
  EXPECT_EQ(moved, TimeStamp(12u, 100000000u));
  moved -= TimeDuration(1, 900000000);
  EXPECT_EQ(moved, t);

  ExpectRangeError([] { TimeStamp(0u, 0u) - TimeDuration(1, 0); }, kTimeRange);
  ExpectRangeError([] { TimeStamp(4294967295u, 999999999u) + TimeDuration(0, 1); }, kTimeRange);
  // The difference does not fit a duration.
  ExpectRangeError([] { TimeStamp(4294967295u, 0u) - TimeStamp(0u, 0u); }, kDurationRange);
}

TEST(TimeStamp, OrderingIsUnsigned) {
  EXPECT_GT(TimeStamp(2u, 0u), TimeStamp(1u, 999999999u));
  EXPECT_GT(TimeStamp(4294967295u, 0u), TimeStamp(1u, 0u));
  EXPECT_LE(TimeStamp(1u, 1u), TimeStamp(1u, 1u));
  EXPECT_NE(TimeStamp(1u, 1u), TimeStamp(1u, 2u));
}

TEST(TimeStamp, NowFollowsTheSystemClock) {
  const auto before =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  const TimeStamp now = TimeStamp::Now();
  const auto after =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_GE(now.ToNanoSec(), before);
  EXPECT_LE(now.ToNanoSec(), after);
}

TEST(TimeStamp, DateTimeFormatsLocalCalendarTime) {
  const char* previous = std::getenv("TZ");
  const std::string saved = previous ? previous : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(TimeStamp(86400u + 3661u, 5u).DateTime("%Y-%m-%d %H:%M:%S"), "1970-01-02 01:01:01");
  EXPECT_EQ(TimeStamp(1798761600u, 0u).DateTime("%Y"), "2027");
  EXPECT_EQ(TimeStamp(0u, 0u).DateTime(std::string(300, 'x').c_str()), "");  // does not fit 255 characters
  if (previous)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
