// The engine's side of the schedule: when the periodic timer finds the update time
// reached, "UpdateTime" moves on, a next-time record is written and an update starts.
#include "service/UpdaterEngine.h"

#include <string>

#include "log/MonthlyLog.h"
#include "schedule/UpdateSchedule.h"
#include "service/AppContext.h"

namespace kv {

ResultChain UpdaterEngine::ComputeNextTime() { return NextUpdateTimeFor(updateSettings_, Now(), nextUpdateTime_); }

ResultChain UpdaterEngine::AdvanceUpdateTime() {
  MoveUpdateTimeOn(updateSettings_);
  ResultChain computed = ComputeNextTime();
  if (computed.Failed()) return KV_MARK(computed);
  return {};
}

void UpdaterEngine::OnTimer() {
  std::wstring record;
  {
    CriticalSectionGuard guard(lock_);
    // A stop in progress starts nothing new; it is about to wait for what runs.
    if (stopping_) return;
    if (nextUpdateTime_.Validate().Failed()) return;
    if (Now() < nextUpdateTime_.Value()) return;
    // Only a well-formed hours:minutes value schedules updates; anything else leaves the
    // due time where it is and the service updates only at start and on request.
    if (!SchedulesUpdates(updateSettings_)) return;
    (void)AdvanceUpdateTime();  // an invalid time stops the timer's updates (checked above)
    record = NextTimeRecordLocked(L"次回設定");
  }
  // Outside the lock: the log may wait for another program holding its mutex.
  (void)context_.Log().Write(record);  // best effort: the schedule does not depend on it
  CriticalSectionGuard guard(lock_);
  if (stopping_) return;
  // A refusal (an update still running) drops this scheduled update; the time of day
  // has already moved on.
  (void)RunUpdateNowLocked();
}

ResultChain UpdaterEngine::ArmTimer() {
  IniDocument settings;
  (void)context_.GetSettings(settings);  // always succeeds
  KV_RETURN_IF_FAILED(
      timer_.Start(&UpdaterEngine::TimerCallbackEntry, this, PollingPeriodMilliseconds(PollingPeriodSeconds(settings))));
  return {};
}

void UpdaterEngine::TimerCallbackEntry(void* engine) {
  if (engine != nullptr) static_cast<UpdaterEngine*>(engine)->OnTimer();
}

}  // namespace kv
