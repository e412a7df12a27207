#include "schedule/PeriodicTimer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "kernel/CriticalSection.h"
#include "kernel/EventHolder.h"
#include "kernel/WorkerThread.h"

namespace kv {
namespace {

constexpr DWORD kGenerous = 30000;

LONGLONG Now() {
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return t.QuadPart;
}

LONGLONG Ticks(DWORD ms) {
  LARGE_INTEGER f;
  ::QueryPerformanceFrequency(&f);
  return f.QuadPart * ms / 1000;
}

// Records every call: when it began and ended, how many ran at once, and can be told
// to hold a call, stop the timer from inside, or signal after a number of calls.
struct Recorder {
  PeriodicTimer* timer = nullptr;
  DWORD workMs = 0;
  int stopInsideAtCall = 0;  // 0: never
  int signalAtCall = 0;
  EventHolder reached;       // set when call number signalAtCall has returned
  EventHolder entered;       // set when a call begins
  EventHolder release;       // a call waits for it when holdCalls is set
  bool holdCalls = false;
  std::atomic<int> calls{0};
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  std::atomic<bool> returned{false};
  CriticalSection lock;
  std::vector<std::pair<LONGLONG, LONGLONG>> spans;

  Recorder() {
    (void)reached.Create(false, false);
    (void)entered.Create(false, false);
    (void)release.Create(false, false);
  }

  static void Callback(void* context) {
    auto* self = static_cast<Recorder*>(context);
    const LONGLONG begin = Now();
    self->returned = false;
    const int now = ++self->running;
    int seen = self->maxRunning.load();
    while (now > seen && !self->maxRunning.compare_exchange_weak(seen, now)) {
    }
    const int call = ++self->calls;
    ::SetEvent(self->entered.Get());
    if (self->holdCalls) ::WaitForSingleObject(self->release.Get(), kGenerous);
    if (self->workMs != 0) ::Sleep(self->workMs);
    if (call == self->stopInsideAtCall) self->timer->Stop();
    --self->running;
    {
      CriticalSectionGuard guard(self->lock);
      self->spans.emplace_back(begin, Now());
    }
    self->returned = true;
    if (call == self->signalAtCall) ::SetEvent(self->reached.Get());
  }
};

void OtherCallback(void* context) { ++*static_cast<std::atomic<int>*>(context); }

TEST(PeriodicTimerTest, NextCallComesOnePeriodAfterThePreviousReturned) {
  constexpr DWORD period = 60;
  Recorder r;  // outlives the timer, whose destructor stops it
  PeriodicTimer timer;
  r.timer = &timer;
  r.workMs = 3 * period;  // longer than the period: a periodic timer would overlap or fire at once
  r.signalAtCall = 4;
  ASSERT_FALSE(timer.Start(&Recorder::Callback, &r, period).Failed());
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(r.reached.Get(), kGenerous));
  timer.Stop();

  EXPECT_EQ(1, r.maxRunning.load());
  CriticalSectionGuard guard(r.lock);
  ASSERT_GE(r.spans.size(), 4u);
  for (std::size_t i = 1; i < r.spans.size(); ++i) {
    EXPECT_GE(r.spans[i].first, r.spans[i - 1].second) << "call " << i << " began before the previous returned";
    // Timers do not fire early; half a period is the margin for the two clocks.
    EXPECT_GE(r.spans[i].first - r.spans[i - 1].second, Ticks(period / 2))
        << "call " << i << " was not a period after the previous returned";
  }
}

TEST(PeriodicTimerTest, StartOnArmedTimerChangesNothing) {
  Recorder r;  // outlives the timer, whose destructor stops it
  PeriodicTimer timer;
  r.timer = &timer;
  r.signalAtCall = 3;
  std::atomic<int> otherCalls{0};
  ASSERT_FALSE(timer.Start(&Recorder::Callback, &r, 40).Failed());
  EXPECT_FALSE(timer.Start(&OtherCallback, &otherCalls, 5).Failed());
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(r.reached.Get(), kGenerous));
  timer.Stop();
  EXPECT_EQ(0, otherCalls.load());
  EXPECT_GE(r.calls.load(), 3);
}

TEST(PeriodicTimerTest, StopOnIdleTimerDoesNothingAndStartStillWorks) {
  PeriodicTimer timer;
  timer.Stop();
  EXPECT_FALSE(timer.IsActive());
  Recorder r;
  r.timer = &timer;
  r.signalAtCall = 1;
  ASSERT_FALSE(timer.Start(&Recorder::Callback, &r, 20).Failed());
  EXPECT_TRUE(timer.IsActive());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(r.reached.Get(), kGenerous));
  timer.Stop();
  EXPECT_FALSE(timer.IsActive());
}

TEST(PeriodicTimerTest, NoCallAfterStopOfAnArmedTimer) {
  constexpr DWORD period = 50;
  Recorder r;  // outlives the timer, whose destructor stops it
  PeriodicTimer timer;
  r.timer = &timer;
  ASSERT_FALSE(timer.Start(&Recorder::Callback, &r, period).Failed());
  timer.Stop();
  const int atStop = r.calls.load();
  ::Sleep(6 * period);
  EXPECT_EQ(atStop, r.calls.load());
  EXPECT_FALSE(timer.IsActive());
}

DWORD WINAPI StopTimer(void* parameter) {
  static_cast<PeriodicTimer*>(parameter)->Stop();
  return 0;
}

TEST(PeriodicTimerTest, StopDuringACallWaitsForItAndNoCallFollows) {
  constexpr DWORD period = 30;
  Recorder r;  // outlives the timer, whose destructor stops it
  PeriodicTimer timer;
  r.timer = &timer;
  r.holdCalls = true;
  ASSERT_FALSE(timer.Start(&Recorder::Callback, &r, period).Failed());
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(r.entered.Get(), kGenerous));
  EXPECT_FALSE(timer.Stop(4 * period)) << "a stop with a limit took a running call for an idle timer";
  EXPECT_FALSE(r.returned.load());

  WorkerThread stopper;
  ASSERT_FALSE(stopper.Start(&StopTimer, &timer).Failed());
  EXPECT_TRUE(stopper.Wait(4 * period).Contains(err::WaitTimeout)) << "stop returned while the call was running";
  ASSERT_TRUE(::SetEvent(r.release.Get()));
  ASSERT_TRUE(stopper.Wait(kGenerous).Contains(err::WaitFinish));
  EXPECT_TRUE(r.returned.load()) << "stop returned before the running call did";

  const int atStop = r.calls.load();
  EXPECT_EQ(1, atStop);
  ::Sleep(8 * period);
  EXPECT_EQ(atStop, r.calls.load());
  EXPECT_FALSE(timer.IsActive());
}

TEST(PeriodicTimerTest, StopFromInsideTheCallbackEndsTheSeries) {
  constexpr DWORD period = 30;
  Recorder r;  // outlives the timer, whose destructor stops it
  Recorder again;
  PeriodicTimer timer;
  r.timer = &timer;
  r.stopInsideAtCall = 2;
  r.signalAtCall = 2;
  ASSERT_FALSE(timer.Start(&Recorder::Callback, &r, period).Failed());
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(r.reached.Get(), kGenerous))
      << "the stop inside the callback did not return";
  ::Sleep(8 * period);
  EXPECT_EQ(2, r.calls.load());
  EXPECT_FALSE(timer.IsActive());

  // The timer can be armed again afterwards.
  again.timer = &timer;
  again.signalAtCall = 1;
  ASSERT_FALSE(timer.Start(&Recorder::Callback, &again, period).Failed());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(again.reached.Get(), kGenerous));
  timer.Stop();
}

TEST(PeriodicTimerTest, DestroyingAnArmedTimerStopsIt) {
  Recorder r;
  {
    PeriodicTimer timer;
    r.timer = &timer;
    ASSERT_FALSE(timer.Start(&Recorder::Callback, &r, 10).Failed());
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(r.entered.Get(), kGenerous));
  }
  const int atEnd = r.calls.load();
  ::Sleep(100);
  EXPECT_EQ(atEnd, r.calls.load());
  EXPECT_EQ(0, r.running.load());
}

}  // namespace
}  // namespace kv
