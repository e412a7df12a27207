// Weeks of the update schedule in seconds of real time: the engine's timer callback is
// driven on a fake clock with random polling periods, and the update it starts is a
// stand-in that "runs" until the fake clock passes the duration the test chose for it
// (it blocks on an event the test releases then). Durations are short, longer than a
// polling period, and longer than the update interval; seeds are fixed.
//
// What must hold, checked against a model of the schedule kept by the test:
//  - every due time is acted on at the first poll that reaches it, never before, and
//    the update it starts begins at that poll (so never more than one polling period
//    late);
//  - each due time starts at most one update, and no update starts while another runs;
//  - a due time that finds an update still running is skipped, not made up later (the
//    designed behaviour): started + skipped = due times reached;
//  - the engine's next due time and "UpdateTime" agree with the model after every poll.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string>

#include "config/IniDocument.h"
#include "service/AppContext.h"
#include "service/UpdaterEngine.h"

namespace kv {
namespace {

constexpr DWORD kGenerousMs = 30000;

// The stand-in update and what it saw.
struct SoakUpdateState {
  std::atomic<std::int32_t> now{0};
  std::atomic<int> starts{0};
  std::atomic<int> overlaps{0};
  std::atomic<bool> running{false};
  std::atomic<std::int32_t> startedAt{-1};
  HANDLE started = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

SoakUpdateState& State() {
  static SoakUpdateState state;
  return state;
}

DWORD WINAPI SoakUpdate(void*) {
  if (State().running.exchange(true)) ++State().overlaps;
  State().startedAt = State().now.load();
  ++State().starts;
  ::SetEvent(State().started);
  ::WaitForSingleObject(State().release, 120000);
  State().running = false;
  return 0;
}

std::int32_t Local(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = 0;
  return static_cast<std::int32_t>(std::mktime(&fields));
}

// The model's due time: the first moment strictly after `now` at hour:minute local time.
std::int32_t NextOccurrence(std::int32_t now, int hour, int minute) {
  const std::time_t wide = now;
  std::tm today{};
  localtime_s(&today, &wide);
  std::int32_t candidate = Local(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, hour, minute);
  if (candidate <= now) candidate = Local(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday + 1, hour, minute);
  return candidate;
}

std::wstring TimeText(int hour, int minute) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%02d:%02d", hour, minute);
  return text;
}

struct SoakCase {
  unsigned seed;
  int hour;
  int minute;
  int intervalHours;
  std::int32_t minPollSeconds;
  std::int32_t maxPollSeconds;
  int weeks;
};

void PrintTo(const SoakCase& c, std::ostream* os) {
  *os << "seed " << c.seed << " every " << c.intervalHours << " h, polls " << c.minPollSeconds << "-"
      << c.maxPollSeconds << " s";
}

class ScheduleSoak : public ::testing::TestWithParam<SoakCase> {
 protected:
  void SetUp() override {
    State().starts = 0;
    State().overlaps = 0;
    State().running = false;
    ::ResetEvent(State().started);
    ::ResetEvent(State().release);
    // No log folder: the next-time records are dropped, the schedule is all that runs.
    context_ = std::make_unique<AppContext>(L"[Setting]\nTimerElapse=30\n");
    UpdaterEngine::Hooks hooks;
    hooks.now = [] { return State().now.load(); };
    hooks.updateProc = &SoakUpdate;
    engine_ = std::make_unique<UpdaterEngine>(*context_, hooks);
  }
  void TearDown() override {
    ::SetEvent(State().release);
    engine_->Stop();
    engine_.reset();
    context_.reset();
  }

  // Ends the running stand-in and waits until the engine sees it ended.
  void EndUpdate() {
    ::SetEvent(State().release);
    ASSERT_FALSE(engine_->WaitForUpdateThread().Failed());
    ::ResetEvent(State().release);
  }

  std::unique_ptr<AppContext> context_;
  std::unique_ptr<UpdaterEngine> engine_;
};

TEST_P(ScheduleSoak, EveryDueTimeStartsOneUpdateOnTimeOrIsSkippedWhileOneRuns) {
  const SoakCase c = GetParam();
  std::mt19937 random(c.seed);
  auto uniform = [&](std::int32_t low, std::int32_t high) {
    return std::uniform_int_distribution<std::int32_t>(low, high)(random);
  };
  const std::int32_t intervalSeconds = c.intervalHours * 3600;
  // Short, longer than a polling period, hours, longer than the interval.
  auto duration = [&]() -> std::int32_t {
    const int kind = uniform(0, 9);
    if (kind < 4) return uniform(1, c.minPollSeconds);
    if (kind < 7) return uniform(c.maxPollSeconds, 3 * c.maxPollSeconds);
    if (kind < 9) return uniform(600, intervalSeconds + intervalSeconds / 2);
    return intervalSeconds + uniform(1, 2 * intervalSeconds);
  };

  IniDocument& settings = engine_->UpdateSettings();
  (void)settings.SetString(L"UpdateTime", TimeText(c.hour, c.minute), L"Kestravondal");
  (void)settings.SetString(L"TimeIntervalHour", std::to_wstring(c.intervalHours), L"Kestravondal");

  std::int32_t now = Local(2024, 3, 4, 0, 7, 13) + uniform(0, 86399);
  const std::int32_t end = now + c.weeks * 7 * 86400;
  State().now = now;
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());

  int hour = c.hour;
  std::int32_t due = NextOccurrence(now, hour, c.minute);
  ASSERT_EQ(due, engine_->NextUpdateTime().Value());

  int reached = 0, started = 0, skipped = 0, longerThanInterval = 0;
  bool running = false;
  std::int32_t runEnd = 0;
  while (now < end) {
    const std::int32_t previous = now;
    now += uniform(c.minPollSeconds, c.maxPollSeconds);
    if (running && now >= runEnd) {
      EndUpdate();
      running = false;
    }
    State().now = now;
    engine_->OnTimer();

    if (now >= due) {
      ++reached;
      ASSERT_LT(previous, due) << "a due time was passed over by an earlier poll";
      hour = (hour + c.intervalHours) % 24;
      if (running) {
        ++skipped;  // designed: the due time's update is dropped, the time moves on
      } else {
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(State().started, kGenerousMs))
            << "no update started for the due time " << due;
        ++started;
        ASSERT_EQ(started, State().starts.load()) << "one update per due time";
        ASSERT_EQ(now, State().startedAt.load()) << "started at the first poll reaching the due time";
        const std::int32_t length = duration();
        if (length > intervalSeconds) ++longerThanInterval;
        running = true;
        runEnd = now + length;
      }
      due = NextOccurrence(now, hour, c.minute);
    }
    ASSERT_EQ(due, engine_->NextUpdateTime().Value()) << "after the poll at " << now;
    ASSERT_EQ(TimeText(hour, c.minute), settings.GetString(L"UpdateTime", L"", L"Kestravondal"));
    ASSERT_EQ(started, State().starts.load()) << "an update started outside a due time, at " << now;
  }
  if (running) EndUpdate();
  std::printf("[ soak    ] %d due times: %d started, %d skipped behind a running update\n", reached, started, skipped);

  EXPECT_EQ(0, State().overlaps.load()) << "an update started while another ran";
  EXPECT_EQ(started, State().starts.load());
  EXPECT_EQ(reached, started + skipped);
  // The run exercised what it is meant to: a due time at least every day, some of them
  // skipped behind updates that outlasted the interval.
  EXPECT_GE(reached, c.weeks * 7 - 1);
  EXPECT_GT(skipped, 0);
  EXPECT_GT(longerThanInterval, 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ScheduleSoak,
                         ::testing::Values(SoakCase{1, 3, 0, 6, 20, 90, 3}, SoakCase{2, 23, 45, 1, 60, 900, 4},
                                           SoakCase{3, 12, 30, 24, 300, 3600, 8}, SoakCase{4, 0, 0, 5, 1800, 7200, 4},
                                           SoakCase{5, 7, 15, 1, 3000, 9000, 4}, SoakCase{6, 18, 5, 8, 10, 600, 2}));

}  // namespace
}  // namespace kv
