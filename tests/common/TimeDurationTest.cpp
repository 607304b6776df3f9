// SPDX-License-Identifier: Apache-2.0
#include <Kel/Logger.h>
#include <Kel/TimeDuration.h>

#include "CapturingSink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>

namespace {

using Kel::TimeDuration;

constexpr const char* kRange = "Duration is out of dual 32-bit range";
constexpr std::int64_t kNano = 1000000000;

void ExpectFields(const TimeDuration& d, std::int32_t sec, std::int32_t nsec) {
  EXPECT_EQ(d.sec, sec);
  EXPECT_EQ(d.nsec, nsec);
}

template <typename F>
void ExpectRangeError(F&& f) {
  try {
    f();
    ADD_FAILURE() << "no range error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), kRange);
  }
}

TEST(TimeDuration, ConstructionCarriesNanosecondsIntoSeconds) {
  ExpectFields(TimeDuration(0, -1), -1, 999999999);
  ExpectFields(TimeDuration(1, 1500000000), 2, 500000000);
  ExpectFields(TimeDuration(-2, 2000000001), 0, 1);
  ExpectFields(TimeDuration(2147483647, 999999999), 2147483647, 999999999);
  ExpectRangeError([] { TimeDuration(-2147483647 - 1, -1); });
  ExpectRangeError([] { TimeDuration(2147483647, 1000000000); });
}

TEST(TimeDuration, FromSecondsRoundsAndCarries) {
  ExpectFields(TimeDuration(1.9999999996), 2, 0);
  ExpectFields(TimeDuration(-0.5), -1, 500000000);
  ExpectFields(TimeDuration(1.25), 1, 250000000);
  ExpectFields(TimeDuration().FromMilliSec(-1.5), -1, 998500000);
  ExpectFields(TimeDuration().FromMicroSec(2.5), 0, 2500);
  ExpectFields(TimeDuration(-2147483648.0), -2147483647 - 1, 0);
  ExpectRangeError([] { TimeDuration(2147483648.0); });
  ExpectRangeError([] { TimeDuration(-2147483648.5); });
  ExpectRangeError([] { TimeDuration(std::nan("")); });
  ExpectRangeError([] { TimeDuration(std::numeric_limits<double>::infinity()); });
}

TEST(TimeDuration, FromNanoSecondsAtTheEdges) {
  ExpectFields(TimeDuration().FromNanoSec(2147483647999999999LL), 2147483647, 999999999);
  ExpectRangeError([] { TimeDuration().FromNanoSec(2147483648000000000LL); });
  ExpectFields(TimeDuration().FromNanoSec(-2147483648000000000LL), -2147483647 - 1, 0);
  ExpectRangeError([] { TimeDuration().FromNanoSec(-2147483648000000001LL); });
  ExpectFields(TimeDuration().FromNanoSec(-1), -1, 999999999);
}

// Arithmetic checked against plain 64-bit nanosecond arithmetic on random values.
TEST(TimeDuration, ArithmeticAgreesWithNanosecondIntegers) {
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<std::int64_t> dist(-1000000000LL * kNano, 1000000000LL * kNano);
  for (int i = 0; i < 2000; ++i) {
    const std::int64_t a = dist(rng);
    const std::int64_t b = dist(rng);
    const TimeDuration da = TimeDuration().FromNanoSec(a);
    const TimeDuration db = TimeDuration().FromNanoSec(b);
    ASSERT_EQ(da.ToNanoSec(), a);
    ASSERT_GE(da.nsec, 0);
    ASSERT_LT(da.nsec, kNano);
    ASSERT_EQ((da + db).ToNanoSec(), a + b);
    ASSERT_EQ((da - db).ToNanoSec(), a - b);
    ASSERT_EQ((-da).ToNanoSec(), -a);
    TimeDuration acc = da;
    acc += db;
    ASSERT_EQ(acc.ToNanoSec(), a + b);
    acc -= db;
    ASSERT_EQ(acc, da);
    ASSERT_EQ(da < db, a < b);
    ASSERT_EQ(da >= db, a >= b);
    ASSERT_EQ(da == db, a == b);
  }
}

TEST(TimeDuration, ScalingThroughSecondsAndThroughNanoseconds) {
  const TimeDuration one(0, 1);
  ExpectFields(one * 0.5, 0, 1);  // 0.5 ns rounds half away from zero
  TimeDuration scaled = one;
  scaled *= 0.5;  // truncated toward zero
  ExpectFields(scaled, 0, 0);

  TimeDuration d(3, 0);
  d /= 2.0;
  ExpectFields(d, 1, 500000000);
  ExpectFields(TimeDuration(-3, 0) / 2.0, -2, 500000000);
  ExpectFields(TimeDuration(1, 0) * -0.25, -1, 750000000);

  ExpectRangeError([] { TimeDuration(2, 0) / 0.0; });
  ExpectRangeError([] {
    TimeDuration d2(2, 0);
    d2 /= 0.0;
  });
  ExpectRangeError([] {
    TimeDuration d2(2147483647, 0);
    d2 *= 1e10;  // beyond 64-bit nanoseconds
  });
  ExpectRangeError([] { TimeDuration(2147483647, 0) + TimeDuration(1, 0); });
  ExpectRangeError([] { -TimeDuration(-2147483647 - 1, 0); });
}

TEST(TimeDuration, OrderingUsesSecondsThenNanoseconds) {
  EXPECT_GT(TimeDuration(2, 0), TimeDuration(1, 999999999));
  EXPECT_LT(TimeDuration(-0.5), TimeDuration());
  EXPECT_LE(TimeDuration(1, 5), TimeDuration(1, 5));
  EXPECT_NE(TimeDuration(1, 5), TimeDuration(1, 6));
}

TEST(TimeDuration, ConversionsToUnits) {
  const TimeDuration d(-1, 750000000);  // -0.25 s
  EXPECT_DOUBLE_EQ(d.ToSec(), -0.25);
  EXPECT_DOUBLE_EQ(d.ToMilliSec(), -250.0);
  EXPECT_DOUBLE_EQ(d.ToMicroSec(), -250000.0);
  EXPECT_EQ(d.ToNanoSec(), -250000000);
}

TEST(TimeDuration, SleepBlocksForTheDuration) {
  const auto start = std::chrono::steady_clock::now();
  TimeDuration().FromMilliSec(30).Sleep();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

  const auto before = std::chrono::steady_clock::now();
  TimeDuration(-100, 0).Sleep();
  TimeDuration().Sleep();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

TEST(TimeDuration, RangeErrorIsLoggedThroughTheDefaultLoggerUnlessItIsOff) {
  const auto kel = Kel::Logger::Get("Kel");
  ASSERT_NE(kel, nullptr);
  TarnTest::ScopedCapture capture("Kel");
  ASSERT_TRUE(capture.Attached());

  ExpectRangeError([] { TimeDuration(3e9); });
  auto entries = capture.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].level, spdlog::level::err);
  EXPECT_THAT(entries[0].text, testing::MatchesRegex("Time:[0-9]+ : Duration is out of dual 32-bit range "));

  const int previous = kel->GetLevel();
  kel->SetLevel(6);
  ExpectRangeError([] { TimeDuration(3e9); });
  kel->SetLevel(previous);
  EXPECT_EQ(capture.Entries().size(), 1u);
}

}  // namespace
