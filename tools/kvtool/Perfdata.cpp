#include "Perfdata.h"

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/TextFormat.h"

namespace kv::tool {

namespace {

// A label in single quotes, a quote in it doubled.
std::wstring Quoted(const std::wstring& label) { return L"'" + ReplaceAll(label, L"'", L"''") + L"'"; }

// Hours with two decimals, written without the C runtime's locale: monitoring systems
// read only a decimal point.
std::wstring HoursSince(std::time_t then, std::time_t now) {
  const std::int64_t seconds = now > then ? static_cast<std::int64_t>(now - then) : 0;
  const std::int64_t hundredths = (seconds * 100 + 1800) / 3600;
  const std::wstring cents = std::to_wstring(hundredths % 100);
  return std::to_wstring(hundredths / 100) + (cents.size() < 2 ? L".0" : L".") + cents;
}

std::wstring Entry(const std::wstring& label, const std::optional<std::wstring>& value, const wchar_t* unit,
                   const std::wstring& warn = {}, const std::wstring& crit = {}) {
  // The unit goes with a value only: "U" stands alone.
  return L" " + Quoted(label) + L"=" + (value ? *value + unit : std::wstring(L"U")) + L";" + warn + L";" + crit + L";0";
}

}  // namespace

std::wstring PerfdataText(const Facts& facts, std::time_t now) {
  const long hoursLimit = 24 * static_cast<long>(facts.maxAgeDays);
  std::optional<std::wstring> age, success, attempt, fetched;
  if (facts.ageDays) age = std::to_wstring(24 * *facts.ageDays);
  if (facts.lastSuccess) success = HoursSince(facts.lastSuccess->moment, now);
  if (facts.lastUpdate) attempt = HoursSince(facts.lastUpdate->time.moment, now);
  if (facts.lastUpdate && facts.lastUpdate->fetchedBytes) fetched = std::to_wstring(*facts.lastUpdate->fetchedBytes);
  // Only the definitions' age has thresholds of the check's own: warning beyond
  // --max-age-days, critical beyond twice that.
  return L" |" +
         Entry(L"definitions_age_hours", age, L"", std::to_wstring(hoursLimit), std::to_wstring(2 * hoursLimit)) +
         Entry(L"last_success_age_hours", success, L"") + Entry(L"last_attempt_age_hours", attempt, L"") +
         Entry(L"last_update_fetched", fetched, L"B");
}

}  // namespace kv::tool
