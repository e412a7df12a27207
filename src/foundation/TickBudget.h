// Time budgets counted on the tick clock (GetTickCount64), which no change of the
// system time moves.
#pragma once

#include <windows.h>

namespace kv {

// Milliseconds left of `budgetMs` counted from `begin` (a GetTickCount64 reading); 0 once
// it is spent.
inline DWORD MillisecondsLeft(ULONGLONG begin, ULONGLONG budgetMs) {
  const ULONGLONG spent = ::GetTickCount64() - begin;
  return spent >= budgetMs ? 0 : static_cast<DWORD>(budgetMs - spent);
}

}  // namespace kv
