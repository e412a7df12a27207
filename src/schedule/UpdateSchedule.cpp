#include "schedule/UpdateSchedule.h"

#include <cwchar>
#include <ctime>
#include <string>
#include <vector>

#include "config/IniText.h"
#include "config/UpdateSettings.h"
#include "foundation/ErrorCodes.h"
#include "foundation/TextFormat.h"

namespace kv {

namespace {

constexpr std::uint32_t kDefaultPollingSeconds = 30;
constexpr std::uint32_t kDefaultIntervalHours = 24;

unsigned long ConvertUnsigned(const wchar_t* text, wchar_t** end, int radix) { return std::wcstoul(text, end, radix); }

// "UpdateTime" cut at every ":", empty parts kept; an empty value gives no parts.
std::vector<std::wstring> UpdateTimeParts(IniDocument& updateSettings) {
  return SplitAtAny(updateSettings.GetString(L"UpdateTime", L"", kSettingsSection), L":");
}

// Hours and minutes as given, before wrapping: a missing or unreadable part is 0 and
// parts after the second are ignored.
struct TimeOfDay {
  std::uint32_t hour = 0;
  std::uint32_t minute = 0;
};

TimeOfDay ReadTimeOfDay(std::vector<std::wstring> parts) {
  parts.resize(2);
  return {TextToNumber(&ConvertUnsigned, parts[0], 0, 10), TextToNumber(&ConvertUnsigned, parts[1], 0, 10)};
}

}  // namespace

std::int32_t SystemScheduleClock() { return static_cast<std::int32_t>(std::time(nullptr)); }

std::uint32_t PollingPeriodSeconds(IniDocument& settings) {
  const std::uint32_t seconds =
      TextToNumber(&ConvertUnsigned, settings.GetString(L"TimerElapse", L"", L"Setting"), kDefaultPollingSeconds, 0);
  return seconds == 0 ? kDefaultPollingSeconds : seconds;
}

DWORD PollingPeriodMilliseconds(std::uint32_t seconds) {
  // 0xFFFFFFFF stays clear of INFINITE, which some timer interfaces treat as "never".
  constexpr std::uint32_t kLongest = (0xFFFFFFFFu - 1) / 1000;
  if (seconds > kLongest) seconds = kLongest;
  return static_cast<DWORD>(seconds * 1000u);
}

ResultChain NextUpdateTimeFor(IniDocument& updateSettings, std::int32_t now, TimePoint& next) {
  const TimeOfDay configured = ReadTimeOfDay(UpdateTimeParts(updateSettings));
  const int hour = static_cast<int>(configured.hour % 24);
  const int minute = static_cast<int>(configured.minute % 60);

  const std::tm today = TimePoint(now).ToLocal();
  // Computed afresh: a moment kept from an earlier computation would already be due and
  // start an update at every poll.
  TimePoint candidate;
  // A Set that fails leaves the value invalid, which Validate reports below.
  (void)candidate.Set(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, hour, minute, 0);
  if (candidate.Value() <= now) {
    // mktime carries the day over into the next month or year.
    (void)candidate.Set(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday + 1, hour, minute, 0);
  }
  if (candidate.Value() <= now) (void)candidate.Reset();  // always succeeds
  next = candidate;
  if (next.Validate().Failed()) return err::InvalidNextTime;
  return {};
}

bool SchedulesUpdates(IniDocument& updateSettings) { return UpdateTimeParts(updateSettings).size() == 2; }

void MoveUpdateTimeOn(IniDocument& updateSettings) {
  const std::uint32_t interval = TextToNumber(
      &ConvertUnsigned, updateSettings.GetString(L"TimeIntervalHour", L"", kSettingsSection), kDefaultIntervalHours, 0);
  const TimeOfDay current = ReadTimeOfDay(UpdateTimeParts(updateSettings));
  // Unsigned 32-bit throughout: a huge interval wraps before the hour is taken mod 24.
  const std::uint32_t hour = (current.hour + interval) % 24u;
  const std::uint32_t minute = current.minute % 60u;
  // Always succeeds.
  (void)updateSettings.SetString(L"UpdateTime", FormatText(L"%02u:%02u", hour, minute), kSettingsSection);
}

}  // namespace kv
