#include "PrometheusText.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv::tool {

namespace {

constexpr wchar_t kPrefix[] = L"kestravondalsc_";

// The states the service control manager reports, as "kvtool status" names them; each
// is a sample, 1 for the present one, so that a rule can ask for state="running" whatever
// the others are.
constexpr const wchar_t* kServiceStates[] = {L"running", L"stopped", L"starting",   L"stopping",
                                             L"paused",  L"pausing", L"continuing", L"not installed"};

struct Sample {
  std::wstring labels;  // "{name=\"value\"}" or empty
  std::wstring value;
};

// One gauge family; none at all without samples.
std::wstring Gauge(const wchar_t* name, const wchar_t* help, const std::vector<Sample>& samples) {
  if (samples.empty()) return {};
  const std::wstring full = kPrefix + std::wstring(name);
  std::wstring text = L"# HELP " + full + L" " + help + L"\n# TYPE " + full + L" gauge\n";
  for (const Sample& sample : samples) text += full + sample.labels + L" " + sample.value + L"\n";
  return text;
}

std::vector<Sample> One(bool known, const std::wstring& value) {
  return known ? std::vector<Sample>{{L"", value}} : std::vector<Sample>{};
}

std::wstring Label(const wchar_t* name, const std::wstring& value) {
  return L"{" + std::wstring(name) + L"=\"" + PrometheusLabelValue(value) + L"\"}";
}

}  // namespace

std::wstring PrometheusLabelValue(const std::wstring& value) {
  std::wstring out;
  for (wchar_t c : value) {
    if (c == L'\\' || c == L'"') {
      out += L'\\';
      out += c;
    } else if (c == L'\n') {
      out += L"\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring PrometheusText(const Facts& facts, int exitCode) {
  const UpdateFacts* update = facts.lastUpdate ? &*facts.lastUpdate : nullptr;
  std::vector<Sample> states;
  if (facts.service.known) {
    bool listed = false;
    for (const wchar_t* state : kServiceStates) {
      listed = listed || facts.service.state == state;
      states.push_back({Label(L"state", state), facts.service.state == state ? L"1" : L"0"});
    }
    if (!listed) states.push_back({Label(L"state", facts.service.state), L"1"});
  }
  std::vector<Sample> info;
  if (!facts.definitionVersion.empty()) info.push_back({Label(L"version", facts.definitionVersion), L"1"});

  return Gauge(L"status_exit_code",
               L"The state kvtool status reports, as a monitoring plugin's exit code: 0 OK, 1 WARNING, 2 CRITICAL, "
               L"3 UNKNOWN.",
               One(true, std::to_wstring(exitCode))) +
         Gauge(L"service_state", L"The service's state from the service control manager: 1 for the present one.",
               states) +
         Gauge(L"definitions_info", L"The installed definitions' version, as a label.", info) +
         Gauge(L"definitions_age_seconds",
               L"The installed definitions' age: whole days since their date, as the status check counts them.",
               One(facts.ageDays.has_value(), std::to_wstring(86400LL * facts.ageDays.value_or(0)))) +
         Gauge(L"last_success_timestamp_seconds",
               L"When an update last installed definitions or found them current, in seconds since 1970.",
               One(facts.lastSuccess.has_value(),
                   std::to_wstring(static_cast<std::int64_t>(facts.lastSuccess ? facts.lastSuccess->moment : 0)))) +
         Gauge(L"last_attempt_timestamp_seconds", L"When the last update ended, in seconds since 1970.",
               One(update != nullptr, std::to_wstring(static_cast<std::int64_t>(update ? update->time.moment : 0)))) +
         Gauge(L"last_update_fetched_bytes", L"The bytes the last update fetched from its source.",
               One(update && update->fetchedBytes, std::to_wstring(update ? update->fetchedBytes.value_or(0) : 0)));
}

}  // namespace kv::tool
