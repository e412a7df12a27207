// The performance data that ends the monitoring-plugin line of "kvtool status", in the
// plugin syntax monitoring systems graph and alert on:
//
//   | 'definitions_age_hours'=24;72;144;0 'last_success_age_hours'=5.02;;;0 ...
//
// Each entry is 'label'=value[unit];[warn];[crit];[min];[max]; a value that cannot be
// known (no update ever) is U.
#pragma once

#include <ctime>
#include <string>

#include "StatusFacts.h"

namespace kv::tool {

// " | " and the entries, measured at `now`: the definitions' age in hours (whole days,
// as the check counts them, so that a graph crosses its thresholds when the state
// changes), the hours since the last successful update and since the last attempt, and
// the bytes the last update fetched.
std::wstring PerfdataText(const Facts& facts, std::time_t now);

}  // namespace kv::tool
