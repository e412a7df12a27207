// "kvtool status" in the Prometheus text exposition format, for a scrape or for
// windows_exporter's textfile collector: gauges named kestravondalsc_*, in base units
// (seconds, bytes, Unix times), each family with its # HELP and # TYPE lines.
//
// A value that cannot be known (no update ever, no definitions, a service control
// manager that did not answer) is left out, family and all, rather than written as a
// number a rule would take for a real one.
#pragma once

#include <string>

#include "StatusFacts.h"

namespace kv::tool {

// The text, ending with a newline. `exitCode` is the monitoring plugin's, 0 to 3.
std::wstring PrometheusText(const Facts& facts, int exitCode);

// A label value with backslash, double quote and newline escaped as the format wants.
std::wstring PrometheusLabelValue(const std::wstring& value);

}  // namespace kv::tool
