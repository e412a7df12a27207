// The update schedule's arithmetic, shared by the engine and the administrator's tool:
// when the next scheduled update is due for a given "UpdateTime" and clock reading.
#pragma once

#include <windows.h>

#include <cstdint>

#include "config/IniDocument.h"
#include "foundation/ResultChain.h"
#include "schedule/TimePoint.h"

namespace kv {

// The next moment after `now` at the time of day "UpdateTime" (hours:minutes, each part
// wrapped into range, missing parts 0) of section "Kestravondal": today when that time
// is still to come, else tomorrow. `next` receives the result; when no such moment can
// be represented it becomes invalid and the result is InvalidNextTime.
ResultChain NextUpdateTimeFor(IniDocument& updateSettings, std::int32_t now, TimePoint& next);

// The timer period for a polling period in seconds. Periods too long for the timer's
// 32-bit milliseconds are cut to the longest one it can take, never wrapped (a wrapped
// period could come out as 0 and keep a thread spinning).
DWORD PollingPeriodMilliseconds(std::uint32_t seconds);

}  // namespace kv
