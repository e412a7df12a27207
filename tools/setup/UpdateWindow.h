// Spreading a fleet's daily update over a window: every machine installed with the same
// UPDATETIME would otherwise ask the server at the same minute. The package moves each
// machine's time by its own random offset once, at its first installation; the service
// keeps that time exactly from then on.
#pragma once

#include <string>
#include <string_view>

namespace kv::setup {

// The most minutes UPDATEWINDOW may spread over: one day.
inline constexpr unsigned kMaxUpdateWindowMinutes = 1440;

// `timeOfDay` ("H:MM" or "HH:MM", already checked) moved on by `offsetMinutes`, past
// midnight if need be, as "HH:MM".
std::wstring SpreadUpdateTime(std::wstring_view timeOfDay, unsigned offsetMinutes);

// A random offset from 0 to windowMinutes - 1 (0 for an empty window), from the system's
// random number generator, so that machines imaged alike still differ.
unsigned RandomOffsetMinutes(unsigned windowMinutes);

}  // namespace kv::setup
