// The events services reported (ReportEventW), as Wine traces them for the services of
// the test prefix: wine-fixture starts its service control manager with the event-log
// channels on and their output in "<build>\<prefix>.events".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kv::test {

struct TracedEvent {
  unsigned type = 0;  // EVENTLOG_ERROR_TYPE, _WARNING_TYPE, _INFORMATION_TYPE
  unsigned id = 0;
  std::vector<std::string> strings;  // the insertion strings, as Wine prints them (ASCII)
};

// The size of the trace now: where a test starts reading.
std::size_t EventTraceSize();

// The events in the trace after byte `from`, once there are at least `count` (a service
// reports after its log record, so a test may look first); what there is after ten seconds
// otherwise.
std::vector<TracedEvent> TracedEvents(std::size_t from, std::size_t count);

}  // namespace kv::test
