// PeriodicTimer: calls one callback again and again on a timer-queue thread, a fixed
// period after the previous call has returned.
//
// Each expiry is armed again only after the callback has returned, so two calls never
// overlap and a slow callback pushes the next one back.
//
// Stop is final: once it returns true, no callback runs and none is armed again. Called
// from another thread it waits for a callback in progress, for as long as the caller
// allows; called from inside the callback it returns at once (it never blocks on the
// timer that is running it), and the callback's epilogue leaves the timer idle.
#pragma once

#include <windows.h>

#include "foundation/KernelHandle.h"
#include "foundation/ResultChain.h"
#include "kernel/CriticalSection.h"

namespace kv {

using TimerCallback = void (*)(void* context);

class PeriodicTimer {
 public:
  PeriodicTimer();
  // Stops the timer (waiting for a callback in progress) so that no expiry reaches a
  // destroyed object. Must not run inside the timer's own callback.
  virtual ~PeriodicTimer();
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;

  // Arms the timer: the first call comes `periodMs` from now. On a timer already armed
  // nothing changes (callback, context and period stay). A timer that cannot be created
  // gives the system error and leaves the timer idle.
  ResultChain Start(TimerCallback callback, void* context, DWORD periodMs);

  // Deletes the timer and its queue and keeps the timer from re-arming. Waits up to
  // `waitMs` for a callback in progress; false when it still runs after that, in which
  // case the object must outlive that callback (it is never destroyed under it).
  bool Stop(DWORD waitMs = INFINITE);

  // Armed, or inside a callback that will arm it again.
  bool IsActive();
  // The period the timer was last started with, in milliseconds.
  DWORD PeriodMs();

 private:
  static VOID CALLBACK Expired(PVOID parameter, BOOLEAN timerOrWaitFired);
  void OnExpiry();
  // Arms the next expiry a period from now, creating the queue and the timer the first
  // time. Caller holds lock_.
  ResultChain ArmLocked();

  CriticalSection lock_;
  HANDLE queue_ = INVALID_HANDLE_VALUE;  // none; null stands for the process's default queue
  HANDLE timer_ = nullptr;
  TimerCallback callback_ = nullptr;
  void* context_ = nullptr;
  DWORD period_ = 0;
  bool active_ = false;
  bool inCallback_ = false;
  DWORD callbackThread_ = 0;
  // Reset by a stopper that finds a callback running, and set by that callback's
  // epilogue under the lock: the stopper then knows the callback is over.
  KernelHandle idle_;
  bool stopperWaiting_ = false;
};

}  // namespace kv
