#include "RetryAfter.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "defset/FileTransfer.h"
#include "foundation/FileSystem.h"

namespace kv::refengine {

namespace {

std::vector<std::wstring> Tokens(std::wstring text) {
  // Commas and the hyphens of the RFC 850 date only separate fields.
  std::replace_if(text.begin(), text.end(), [](wchar_t c) { return c == L',' || c == L'-'; }, L' ');
  std::vector<std::wstring> tokens;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(L" \t", at)) != std::wstring::npos) {
    const std::size_t end = std::min(text.find_first_of(L" \t", at), text.size());
    tokens.push_back(text.substr(at, end - at));
    at = end;
  }
  return tokens;
}

bool Digits(const std::wstring& text, std::size_t least, std::size_t most) {
  return text.size() >= least && text.size() <= most &&
         std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

WORD Number(const std::wstring& digits) { return static_cast<WORD>(std::wcstoul(digits.c_str(), nullptr, 10)); }

bool Month(const std::wstring& name, WORD& month) {
  static const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                           L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
  for (WORD i = 0; i < 12; ++i) {
    if (name == kMonths[i]) {
      month = static_cast<WORD>(i + 1);
      return true;
    }
  }
  return false;
}

bool ClockTime(const std::wstring& text, SYSTEMTIME& time) {
  if (text.size() != 8 || text[2] != L':' || text[5] != L':') return false;
  const std::wstring h = text.substr(0, 2), m = text.substr(3, 2), s = text.substr(6, 2);
  if (!Digits(h, 2, 2) || !Digits(m, 2, 2) || !Digits(s, 2, 2)) return false;
  time.wHour = Number(h);
  time.wMinute = Number(m);
  time.wSecond = Number(s);
  return true;
}

std::optional<std::int64_t> HttpDate(const std::wstring& value) {
  const std::vector<std::wstring> t = Tokens(value);
  SYSTEMTIME time{};
  std::wstring day, month, year, clock;
  if (t.size() == 6 && t[5] == L"GMT") {  // IMF-fixdate and RFC 850: day month year time GMT
    day = t[1], month = t[2], year = t[3], clock = t[4];
  } else if (t.size() == 5) {  // asctime: month day time year
    month = t[1], day = t[2], clock = t[3], year = t[4];
  } else {
    return std::nullopt;
  }
  if (!Digits(day, 1, 2) || !Month(month, time.wMonth) || !ClockTime(clock, time)) return std::nullopt;
  if (Digits(year, 4, 4)) {
    time.wYear = Number(year);
  } else if (Digits(year, 2, 2)) {
    // Two digits name the nearest such year that is not far in the future.
    time.wYear = static_cast<WORD>(Number(year) + (Number(year) < 70 ? 2000 : 1900));
  } else {
    return std::nullopt;
  }
  time.wDay = Number(day);
  return UtcSeconds(time);
}

}  // namespace

std::optional<std::int64_t> RetryAfterMoment(const std::wstring& value, std::int64_t now) {
  const std::size_t first = value.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return std::nullopt;
  const std::wstring trimmed = value.substr(first, value.find_last_not_of(L" \t") + 1 - first);
  std::optional<std::int64_t> moment;
  if (Digits(trimmed, 1, trimmed.size())) {
    // More digits than the cap has seconds can only mean the cap.
    moment = now + (trimmed.size() > 6 ? kMostNotBeforeSeconds
                                       : std::min<std::int64_t>(std::wcstoll(trimmed.c_str(), nullptr, 10),
                                                                kMostNotBeforeSeconds));
  } else {
    moment = HttpDate(trimmed);
  }
  if (moment) moment = std::min(*moment, now + kMostNotBeforeSeconds);
  return moment;
}

std::optional<NotBeforeRecord> HonouredNotBefore(const std::wstring& path, const std::wstring& url,
                                                 std::int64_t now) {
  if (!PathExists(path)) return std::nullopt;
  std::optional<NotBeforeRecord> record = ReadNotBefore(path);
  if (!record || record->utc <= now || record->url != url) {
    // Failing costs nothing: such a record holds nothing up.
    ::DeleteFileW(LongPathForm(path).c_str());
    return std::nullopt;
  }
  if (record->utc > now + kMostNotBeforeSeconds) {
    record->utc = now + kMostNotBeforeSeconds;
    // Kept so, the wait ends even when the clock keeps jumping back.
    (void)RecordNotBefore(path, *record);  // best effort: this wait holds either way
  }
  return record;
}

ResultChain RecordNotBefore(const std::wstring& path, const NotBeforeRecord& record) {
  KV_RETURN_IF_FAILED(ReplaceWholeFile(path, NotBeforeBytes(record)));
  return {};
}

}  // namespace kv::refengine
