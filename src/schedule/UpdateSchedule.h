// The update schedule's arithmetic, shared by the engine and the administrator's tool:
// when the next scheduled update is due for a given "UpdateTime" and clock reading, how
// "UpdateTime" moves on after a scheduled update, and how often the schedule is polled.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "config/IniDocument.h"
#include "foundation/ResultChain.h"
#include "schedule/TimePoint.h"

namespace kv {

// The current time as the schedule sees it, in seconds since 1970 (UTC).
using ScheduleClock = std::function<std::int32_t()>;
std::int32_t SystemScheduleClock();

// Seconds between two polls of the schedule: "TimerElapse" of section "Setting", 30
// when missing, unreadable or 0 (a zero period would keep a thread spinning).
std::uint32_t PollingPeriodSeconds(IniDocument& settings);

// The next moment after `now` at the time of day "UpdateTime" (hours:minutes, each part
// wrapped into range, missing parts 0) of section "Kestravondal": today when that time
// is still to come, else tomorrow. `next` receives the result; when no such moment can
// be represented it becomes invalid and the result is InvalidNextTime.
ResultChain NextUpdateTimeFor(IniDocument& updateSettings, std::int32_t now, TimePoint& next);

// The timer period for a polling period in seconds. Periods too long for the timer's
// 32-bit milliseconds are cut to the longest one it can take, never wrapped (a wrapped
// period could come out as 0 and keep a thread spinning).
DWORD PollingPeriodMilliseconds(std::uint32_t seconds);

// Whether "UpdateTime" schedules updates at all: only a value of exactly two parts,
// hours and minutes, does; anything else leaves updates to the start and to requests.
bool SchedulesUpdates(IniDocument& updateSettings);

// Moves "UpdateTime" on by "TimeIntervalHour" hours (default 24, unsigned 32-bit, the
// hour taken modulo 24), written back as two-digit hours:minutes.
void MoveUpdateTimeOn(IniDocument& updateSettings);

}  // namespace kv
