// The moments "kvtool status" reads and prints: a log stamp "yyyymmdd_hhmmss" of local
// time, read from a record's name, a file's time or a calendar date, and spelled for the
// report.
#pragma once

#include <windows.h>

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kv::tool {

// A log stamp "yyyymmdd_hhmmss" of local time.
struct Stamp {
  std::tm local{};
  std::time_t moment = -1;
};

// A log stamp read from its text; none when the text is not one.
std::optional<Stamp> ParseStamp(std::wstring_view text);
// A file time as a stamp of local time, to the second.
std::optional<Stamp> StampOfFileTime(const FILETIME& written);
// Whole days from a calendar date ("yyyy-mm-dd") to today's.
std::optional<long> DaysSinceDate(std::wstring_view date, const std::tm& today);

// "2026-12-08T03:00:12" (local time, as the log has it).
std::wstring IsoText(const Stamp& stamp);
// "03:00:12" on the day of `today`, else "2026-12-07 03:00:12".
std::wstring ShortText(const Stamp& stamp, const std::tm& today);
// The day and time spelled out.
std::wstring LongText(const Stamp& stamp);
// "1 day", "3 days".
std::wstring Days(long days);

}  // namespace kv::tool
