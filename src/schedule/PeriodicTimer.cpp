#include "schedule/PeriodicTimer.h"

namespace kv {

namespace {

// The timer is made periodic with a period too long to elapse, and every callback's
// epilogue sets its next due time afresh. So it fires once per arming, like a one-shot
// timer, but it can be re-armed with ChangeTimerQueueTimer, which refuses a one-shot
// timer that has fired: no timer is deleted and created again at every expiry.
constexpr DWORD kNeverAgainMs = 0xFFFFFFFE;

}  // namespace

PeriodicTimer::PeriodicTimer()
    : idle_(::CreateEventW(nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/TRUE, nullptr)) {}

PeriodicTimer::~PeriodicTimer() { Stop(); }

ResultChain PeriodicTimer::Start(TimerCallback callback, void* context, DWORD periodMs) {
  CriticalSectionGuard guard(lock_);
  if (active_) return {};
  callback_ = callback;
  context_ = context;
  period_ = periodMs;
  active_ = true;
  // A callback in progress arms the next expiry when it returns; arming here as well
  // would let two callbacks overlap.
  if (inCallback_) return {};
  ResultChain armed = ArmLocked();
  if (armed.Failed()) {
    active_ = false;
    return KV_MARK(armed);
  }
  return {};
}

ResultChain PeriodicTimer::ArmLocked() {
  if (timer_ != nullptr) {
    if (!::ChangeTimerQueueTimer(queue_ == INVALID_HANDLE_VALUE ? nullptr : queue_, timer_, /*DueTime=*/period_,
                                 /*Period=*/kNeverAgainMs)) {
      return KV_MARK(LastErrorChain());
    }
    return {};
  }
  if (queue_ == INVALID_HANDLE_VALUE) {
    // Without a queue of our own the timer lives in the process's default queue.
    queue_ = ::CreateTimerQueue();
  }
  HANDLE timer = nullptr;
  if (!::CreateTimerQueueTimer(&timer, queue_, &PeriodicTimer::Expired, this, /*DueTime=*/period_,
                               /*Period=*/kNeverAgainMs, WT_EXECUTEDEFAULT)) {
    return KV_MARK(LastErrorChain());
  }
  timer_ = timer;
  return {};
}

bool PeriodicTimer::Stop(DWORD waitMs) {
  HANDLE timer = nullptr;
  HANDLE queue = INVALID_HANDLE_VALUE;
  bool fromCallback = false;
  bool running = false;
  {
    CriticalSectionGuard guard(lock_);
    active_ = false;
    timer = timer_;
    timer_ = nullptr;
    queue = queue_;
    queue_ = INVALID_HANDLE_VALUE;
    fromCallback = inCallback_ && callbackThread_ == ::GetCurrentThreadId();
    // The callback's epilogue signals a stopper that waits; nobody else needs the
    // signal, so an expiry without a stopper costs no event calls.
    running = inCallback_ && !fromCallback;
    if (running) {
      ::ResetEvent(idle_.Get());
      stopperWaiting_ = true;
    }
  }
  // Inside the callback a blocking delete would wait for the very callback doing it.
  // Elsewhere the callback in progress is waited for first, within the caller's limit:
  // a blocking delete would wait for it without one.
  const bool idle = !running || !idle_.IsOpen() || ::WaitForSingleObject(idle_.Get(), waitMs) == WAIT_OBJECT_0;
  HANDLE completion = idle && !fromCallback ? INVALID_HANDLE_VALUE : nullptr;
  if (timer != nullptr) {
    ::DeleteTimerQueueTimer(queue == INVALID_HANDLE_VALUE ? nullptr : queue, timer, completion);
  }
  if (queue != INVALID_HANDLE_VALUE && queue != nullptr) ::DeleteTimerQueueEx(queue, completion);
  return idle;
}

bool PeriodicTimer::IsActive() {
  CriticalSectionGuard guard(lock_);
  return active_;
}

DWORD PeriodicTimer::PeriodMs() {
  CriticalSectionGuard guard(lock_);
  return period_;
}

VOID CALLBACK PeriodicTimer::Expired(PVOID parameter, BOOLEAN /*timerOrWaitFired*/) {
  if (parameter == nullptr) return;
  static_cast<PeriodicTimer*>(parameter)->OnExpiry();
}

void PeriodicTimer::OnExpiry() {
  TimerCallback callback = nullptr;
  void* context = nullptr;
  {
    CriticalSectionGuard guard(lock_);
    // An expiry that raced with Stop: a stopper deleting this timer waits for us, so
    // leaving without touching anything else is safe.
    if (!active_ || inCallback_) return;
    inCallback_ = true;
    callbackThread_ = ::GetCurrentThreadId();
    callback = callback_;
    context = context_;
  }
  if (callback != nullptr) callback(context);
  CriticalSectionGuard guard(lock_);
  inCallback_ = false;
  callbackThread_ = 0;
  // Re-armed only now: the next call comes a period after this one returned.
  if (active_ && ArmLocked().Failed()) active_ = false;  // the schedule stops; nothing to report to
  // Under the lock, so that it cannot land after a restart's next callback has begun.
  if (stopperWaiting_) {
    stopperWaiting_ = false;
    ::SetEvent(idle_.Get());
  }
}

}  // namespace kv
