// TimePoint: a moment as a signed 32-bit count of seconds since 1970-01-01 00:00 UTC,
// with -1 standing for "no valid time".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "foundation/ResultChain.h"

namespace kv {

class TimePoint {
 public:
  static constexpr std::int32_t kInvalid = -1;

  TimePoint() = default;
  explicit TimePoint(std::int32_t value) : value_(value) {}

  ResultChain Reset();
  // InvalidObject while the value is -1.
  ResultChain Validate() const;
  // Local date and time (month 1 to 12) with the daylight flag 0, through mktime; out-of-
  // range fields are normalised by it. ErrorTmFormat, value unchanged, when it fails.
  ResultChain Set(int year, int month, int day, int hour, int minute, int second);
  // The local broken-down time; all fields 0 when the value cannot be converted.
  std::tm ToLocal() const;

  std::int32_t Value() const { return value_; }

 private:
  std::int32_t value_ = kInvalid;
};

// "%04d%02d%02d_%02d%02d%02d" of the local time; '19000100_000000' for a time that
// cannot be converted.
std::wstring TimeStamp(const TimePoint& time);

}  // namespace kv
