#include "StatusStamps.h"

#include <cmath>
#include <cstdint>

#include "ToolSupport.h"
#include "foundation/TextFormat.h"

namespace kv::tool {

namespace {

bool SameDay(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday;
}

}  // namespace

std::optional<Stamp> ParseStamp(std::wstring_view text) {
  if (text.size() != 15 || text[8] != L'_') return std::nullopt;
  int digits[14] = {};
  for (std::size_t i = 0, d = 0; i < text.size(); ++i) {
    if (i == 8) continue;
    if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
    digits[d++] = text[i] - L'0';
  }
  auto number = [&](int from, int count) {
    int value = 0;
    for (int i = from; i < from + count; ++i) value = value * 10 + digits[i];
    return value;
  };
  Stamp stamp;
  stamp.local.tm_year = number(0, 4) - 1900;
  stamp.local.tm_mon = number(4, 2) - 1;
  stamp.local.tm_mday = number(6, 2);
  stamp.local.tm_hour = number(8, 2);
  stamp.local.tm_min = number(10, 2);
  stamp.local.tm_sec = number(12, 2);
  stamp.local.tm_isdst = -1;  // the wall clock, whatever the season
  std::tm copy = stamp.local;
  stamp.moment = std::mktime(&copy);
  if (stamp.moment == -1) return std::nullopt;
  return stamp;
}

std::optional<Stamp> StampOfFileTime(const FILETIME& written) {
  FILETIME local{};
  SYSTEMTIME at{};
  if (!::FileTimeToLocalFileTime(&written, &local) || !::FileTimeToSystemTime(&local, &at)) return std::nullopt;
  return ParseStamp(
      FormatText(L"%04u%02u%02u_%02u%02u%02u", at.wYear, at.wMonth, at.wDay, at.wHour, at.wMinute, at.wSecond));
}

std::optional<long> DaysSinceDate(std::wstring_view date, const std::tm& today) {
  if (date.size() != 10 || date[4] != L'-' || date[7] != L'-') return std::nullopt;
  const std::optional<Stamp> stamp = ParseStamp(std::wstring(date.substr(0, 4)) + std::wstring(date.substr(5, 2)) +
                                                std::wstring(date.substr(8, 2)) + L"_120000");
  if (!stamp) return std::nullopt;
  std::tm noon = today;
  noon.tm_hour = 12;
  noon.tm_min = noon.tm_sec = 0;
  noon.tm_isdst = -1;
  const std::time_t todayNoon = std::mktime(&noon);
  return std::lround(std::difftime(todayNoon, stamp->moment) / 86400.0);
}

std::wstring IsoText(const Stamp& stamp) {
  const std::tm& t = stamp.local;
  return FormatText(L"%04d-%02d-%02dT%02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                    t.tm_sec);
}

std::wstring ShortText(const Stamp& stamp, const std::tm& today) {
  std::wstring iso = IsoText(stamp);
  iso[10] = L' ';
  return SameDay(stamp.local, today) ? iso.substr(11) : iso;
}

std::wstring LongText(const Stamp& stamp) {
  return LocalDateTimeText(TimePoint(static_cast<std::int32_t>(stamp.moment)));
}

std::wstring Days(long days) { return FormatText(days == 1 ? L"%ld day" : L"%ld days", days); }

}  // namespace kv::tool
