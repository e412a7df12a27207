#include "schedule/TimePoint.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>

#include "foundation/ErrorCodes.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

// The stamp of a value, built straight from the C runtime's localtime, independent of
// TimeStamp.
std::wstring ExpectedStamp(std::int32_t value) {
  const std::string stamp = test::LocalStamp(value);
  return std::wstring(stamp.begin(), stamp.end());
}

TEST(TimePointTest, NewAndResetValuesAreInvalid) {
  TimePoint fresh;
  EXPECT_EQ(-1, fresh.Value());
  EXPECT_EQ(err::InvalidObject, fresh.Validate().Last());

  TimePoint time(12345);
  EXPECT_FALSE(time.Validate().Failed());
  EXPECT_FALSE(time.Reset().Failed());
  EXPECT_EQ(-1, time.Value());
  EXPECT_EQ(err::InvalidObject, time.Validate().Last());
}

TEST(TimePointTest, OnlyMinusOneIsInvalid) {
  const std::int32_t valid[] = {0, 1, -2, 86400, std::numeric_limits<std::int32_t>::max(),
                                std::numeric_limits<std::int32_t>::min()};
  for (std::int32_t value : valid) {
    EXPECT_FALSE(TimePoint(value).Validate().Failed()) << value;
  }
  EXPECT_EQ(err::InvalidObject, TimePoint(-1).Validate().Last());
}

TEST(TimePointTest, SetTakesLocalDateAndTimeAndRoundTrips) {
  TimePoint time;
  ASSERT_FALSE(time.Set(2024, 3, 5, 14, 7, 9).Failed());
  ASSERT_NE(-1, time.Value());
  const std::tm local = time.ToLocal();
  // Set always means standard time; where daylight time is in effect the wall clock
  // reads one hour more.
  const int shift = local.tm_isdst > 0 ? 1 : 0;
  EXPECT_EQ(2024 - 1900, local.tm_year);
  EXPECT_EQ(3 - 1, local.tm_mon);
  EXPECT_EQ(5, local.tm_mday);
  EXPECT_EQ(14 + shift, local.tm_hour);
  EXPECT_EQ(7, local.tm_min);
  EXPECT_EQ(9, local.tm_sec);

  TimePoint nextSecond;
  ASSERT_FALSE(nextSecond.Set(2024, 3, 5, 14, 7, 10).Failed());
  EXPECT_EQ(1, nextSecond.Value() - time.Value());
}

TEST(TimePointTest, SetNormalisesOverflowingFields) {
  struct Case {
    int given[6];
    int same[6];
  };
  const Case cases[] = {
      {{2024, 1, 32, 3, 0, 0}, {2024, 2, 1, 3, 0, 0}},
      {{2023, 12, 32, 3, 0, 0}, {2024, 1, 1, 3, 0, 0}},
      {{2024, 2, 30, 3, 0, 0}, {2024, 3, 1, 3, 0, 0}},  // leap year
      {{2023, 2, 29, 3, 0, 0}, {2023, 3, 1, 3, 0, 0}},
      {{2024, 4, 31, 3, 0, 0}, {2024, 5, 1, 3, 0, 0}},
      {{2024, 3, 5, 24, 0, 0}, {2024, 3, 6, 0, 0, 0}},
      {{2024, 3, 5, 3, 60, 0}, {2024, 3, 5, 4, 0, 0}},
      {{2024, 13, 1, 3, 0, 0}, {2025, 1, 1, 3, 0, 0}},
      {{2024, 3, 0, 3, 0, 0}, {2024, 2, 29, 3, 0, 0}},
  };
  for (const Case& c : cases) {
    TimePoint given;
    TimePoint same;
    ASSERT_FALSE(given.Set(c.given[0], c.given[1], c.given[2], c.given[3], c.given[4], c.given[5]).Failed());
    ASSERT_FALSE(same.Set(c.same[0], c.same[1], c.same[2], c.same[3], c.same[4], c.same[5]).Failed());
    EXPECT_EQ(same.Value(), given.Value()) << c.given[0] << "-" << c.given[1] << "-" << c.given[2] << " " << c.given[3]
                                           << ":" << c.given[4];
  }
  TimePoint day;
  TimePoint nextDay;
  ASSERT_FALSE(day.Set(2024, 12, 31, 3, 0, 0).Failed());
  ASSERT_FALSE(nextDay.Set(2024, 12, 32, 3, 0, 0).Failed());
  EXPECT_EQ(86400, nextDay.Value() - day.Value());
}

TEST(TimePointTest, SetThatCannotConvertIsErrorTmFormatAndKeepsTheValue) {
  struct Case {
    int fields[6];
    const char* why;
  };
  const Case cases[] = {
      {{1900, 1, 1, 0, 0, 0}, "long before 1970"},
      {{1969, 6, 1, 0, 0, 0}, "before 1970"},
      {{2100, 1, 1, 0, 0, 0}, "past the 32-bit range"},
      {{2038, 1, 20, 0, 0, 0}, "just past the 32-bit range"},
      {{4000, 1, 1, 0, 0, 0}, "past the runtime's range"},
  };
  for (const Case& c : cases) {
    TimePoint time(86400 * 365);
    const ResultChain result = time.Set(c.fields[0], c.fields[1], c.fields[2], c.fields[3], c.fields[4], c.fields[5]);
    EXPECT_EQ(err::ErrorTmFormat, result.Last()) << c.why;
    EXPECT_EQ(2u, result.Count()) << "the code and a line marker: " << c.why;
    if (result.Count() == 2) {
      EXPECT_TRUE(IsLineMarker(result.Codes()[0])) << c.why;
    }
    EXPECT_EQ(86400 * 365, time.Value()) << c.why;
  }
  TimePoint invalid;
  EXPECT_TRUE(invalid.Set(1960, 1, 1, 0, 0, 0).Failed());
  EXPECT_EQ(-1, invalid.Value());
}

TEST(TimePointTest, LastRepresentableDayStillSets) {
  TimePoint time;
  ASSERT_FALSE(time.Set(2038, 1, 17, 0, 0, 0).Failed());
  EXPECT_GT(time.Value(), 2147000000);
}

TEST(TimePointTest, ToLocalOfInvalidIsAllZero) {
  const std::tm local = TimePoint(-1).ToLocal();
  EXPECT_EQ(0, local.tm_sec);
  EXPECT_EQ(0, local.tm_min);
  EXPECT_EQ(0, local.tm_hour);
  EXPECT_EQ(0, local.tm_mday);
  EXPECT_EQ(0, local.tm_mon);
  EXPECT_EQ(0, local.tm_year);
  EXPECT_EQ(0, local.tm_wday);
  EXPECT_EQ(0, local.tm_yday);
  EXPECT_EQ(0, local.tm_isdst);
}

TEST(TimePointTest, TimeStampOfInvalidIsYear1900Day0) {
  EXPECT_EQ(L"19000100_000000", TimeStamp(TimePoint(-1)));
  EXPECT_EQ(L"19000100_000000", TimeStamp(TimePoint()));
}

TEST(TimePointTest, TimeStampOfZeroIsTheLocalStartOf1970) {
  const std::wstring stamp = TimeStamp(TimePoint(0));
  EXPECT_EQ(ExpectedStamp(0), stamp);
  ASSERT_EQ(15u, stamp.size());
  // 1 January 1970 east of Greenwich, 31 December 1969 west of it.
  EXPECT_TRUE(stamp.rfind(L"19700101_", 0) == 0 || stamp.rfind(L"19691231_", 0) == 0) << stamp;
}

TEST(TimePointTest, TimeStampIsTheLocalDateAndTime) {
  TimePoint time;
  ASSERT_FALSE(time.Set(2024, 3, 5, 14, 7, 9).Failed());
  EXPECT_EQ(ExpectedStamp(time.Value()), TimeStamp(time));
  if (time.ToLocal().tm_isdst <= 0) {
    EXPECT_EQ(L"20240305_140709", TimeStamp(time));
  }

  const std::int32_t values[] = {1, 86399, 951782400, 1709647629, 2147483647};
  for (std::int32_t value : values) EXPECT_EQ(ExpectedStamp(value), TimeStamp(TimePoint(value))) << value;
}

TEST(TimePointTest, ToLocalReturnsACopy) {
  // The result is a copy: a later conversion on the same thread leaves it alone.
  const std::tm first = TimePoint(0).ToLocal();
  const std::tm second = TimePoint(86400 * 400).ToLocal();
  EXPECT_NE(first.tm_year, second.tm_year);
  EXPECT_EQ(ExpectedStamp(0), TimeStamp(TimePoint(0)));
}

}  // namespace
}  // namespace kv
