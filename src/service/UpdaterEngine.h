// UpdaterEngine: what runs while the service has a scan engine. It does its start-up on
// a thread of its own, starts one definition update at a time (at start, when the
// schedule says so, and on request), polls the schedule with a periodic timer, and on
// stop gives a running update a bounded time to end.
//
// Locking: one engine lock serialises the starting of updates and every use of the
// update settings and the next update time, whichever thread (start-up, timer, control
// handler) gets there. Nothing that may wait on another process (the log's mutex, a
// file on a share) runs under it, so a stop always gets it at once. Until the start-up
// has read the settings file and started its own update it is the only user of the
// schedule's state; requests meanwhile are refused.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "config/IniDocument.h"
#include "foundation/ResultChain.h"
#include "schedule/PeriodicTimer.h"
#include "schedule/TimePoint.h"
#include "schedule/UpdateSchedule.h"
#include "kernel/CriticalSection.h"
#include "kernel/WorkerThread.h"

namespace kv {

class AppContext;

// How long a stop waits for a running update: a short grace, then a longer one. The
// service host's stop reports cover the sum.
inline constexpr DWORD kFirstUpdateWaitMs = 3000;
inline constexpr DWORD kSecondUpdateWaitMs = 30000;

class UpdaterEngine {
 public:
  // What the engine drives; tests replace the clock and the update thread's procedure.
  struct Hooks {
    ScheduleClock now;               // default: the system clock
    WorkerProc updateProc = nullptr;  // default: UpdateThreadMain
    // How long a stop waits for a running update: a short grace, then a longer one.
    DWORD firstUpdateWaitMs = kFirstUpdateWaitMs;
    DWORD secondUpdateWaitMs = kSecondUpdateWaitMs;
  };

  explicit UpdaterEngine(AppContext& context);
  UpdaterEngine(AppContext& context, Hooks hooks);
  // Closes the thread objects; Stop must have run.
  virtual ~UpdaterEngine();
  UpdaterEngine(const UpdaterEngine&) = delete;
  UpdaterEngine& operator=(const UpdaterEngine&) = delete;

  // Starts the start-up thread; always succeeds.
  ResultChain Start();
  // Stops the timer, waits for the start-up thread and a timer callback in progress, and
  // up to 3 s then 30 s for a running update, all within those 33 s counted from the
  // stop's beginning; unloads the scan module unless an update still uses it.
  void Stop();
  // Starts an update now with the settings file's values overlaid. AlreadyOpened while
  // one runs, and while the start-up has not yet started its own (which would otherwise
  // be refused, and this one would run without the settings file); BreakInterrupt once
  // a stop has begun.
  ResultChain RunUpdateNow();

  ResultChain BeginStartup();
  ResultChain StartupSequence();
  ResultChain WaitForUpdateThread();
  ResultChain CheckInstallPath();

  // The schedule.
  ResultChain ArmTimer();
  void OnTimer();
  ResultChain ComputeNextTime();
  // Logs once when the settings file holds a proxy password that others may read.
  void WarnOfReadablePassword();
  ResultChain AdvanceUpdateTime();

  // Test access to the schedule's state.
  IniDocument& UpdateSettings() { return updateSettings_; }
  const TimePoint& NextUpdateTime() const { return nextUpdateTime_; }
  DWORD TimerPeriodMs() { return timer_.PeriodMs(); }
  // False after a stop found an update still running past the wait.
  bool UpdateEnded() const { return updateEnded_; }
  // False while the start-up thread or a timer callback still runs after a stop gave up
  // waiting for it: the engine must then outlive the process's shut-down rather than be
  // destroyed under it.
  bool CanBeDestroyed() const { return startupEnded_ && timerIdle_; }
  bool Stopping() const { return stopping_; }

 private:
  static DWORD WINAPI StartupThreadMain(void* engine);
  static void TimerCallbackEntry(void* engine);
  std::int32_t Now() const;
  ResultChain WriteNextTimeRecord(const wchar_t* comment);
  // The next-time record of the current schedule, to be written once the lock is left.
  std::wstring NextTimeRecordLocked(const wchar_t* comment);
  // RunUpdateNow with the engine lock held, for the start-up and the timer.
  ResultChain RunUpdateNowLocked();
  // Waits for a running update: `firstMs`, then `secondMs` more.
  ResultChain WaitForUpdateThread(DWORD firstMs, DWORD secondMs);
  void EndStartup();

  AppContext& context_;
  Hooks hooks_;
  CriticalSection lock_;
  // Declaration order as the engine is built; the destructor closes in reverse.
  IniDocument updateSettings_;
  TimePoint nextUpdateTime_;
  WorkerThread startupThread_;
  WorkerThread updateThread_;
  PeriodicTimer timer_;
  std::atomic<bool> stopping_{false};
  bool startupPending_ = false;  // under lock_: from BeginStartup until the first update
  bool updateEnded_ = true;
  bool startupEnded_ = true;
  bool timerIdle_ = true;
};

}  // namespace kv
