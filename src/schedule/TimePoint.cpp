#include "schedule/TimePoint.h"

#include <limits>

#include "foundation/ErrorCodes.h"
#include "foundation/TextFormat.h"

namespace kv {

ResultChain TimePoint::Reset() {
  value_ = kInvalid;
  return {};
}

ResultChain TimePoint::Validate() const {
  if (value_ == kInvalid) return err::InvalidObject;
  return {};
}

ResultChain TimePoint::Set(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_sec = second;
  local.tm_min = minute;
  local.tm_hour = hour;
  local.tm_mday = day;
  local.tm_mon = month - 1;
  local.tm_year = year - 1900;
  local.tm_wday = 0;
  local.tm_yday = 0;
  // Always standard time: the configured time of day is not shifted by daylight saving.
  local.tm_isdst = 0;
  const std::time_t converted = std::mktime(&local);
  // The runtime's time_t is wider than the value held here; a moment that does not fit
  // (from 2038 on) cannot be stored, and wrapping it would give a time in the past.
  if (converted == static_cast<std::time_t>(-1) || converted < std::numeric_limits<std::int32_t>::min() ||
      converted > std::numeric_limits<std::int32_t>::max()) {
    return KV_MARK(err::ErrorTmFormat);
  }
  value_ = static_cast<std::int32_t>(converted);
  return {};
}

std::tm TimePoint::ToLocal() const {
  const std::time_t wide = static_cast<std::time_t>(value_);
  const std::tm* local = std::localtime(&wide);
  // localtime's buffer belongs to the calling thread; copy it out before anything else
  // on this thread can overwrite it.
  if (local == nullptr) return std::tm{};
  return *local;
}

std::wstring TimeStamp(const TimePoint& time) {
  const std::tm local = time.ToLocal();
  return FormatText(L"%04d%02d%02d_%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec);
}

}  // namespace kv
