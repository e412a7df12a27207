#include "schedule/UpdateSchedule.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"
#include "service/AppContext.h"
#include "service/UpdaterEngine.h"
#include "support/ResultAssertions.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

constexpr DWORD kGenerousMs = 30000;

// A service has no TZ variable, so its C runtime takes the zone from
// GetTimeZoneInformation. Wine copies the Linux TZ into every program's environment,
// where the runtime would parse it itself, with US transition dates; without it the
// runtime reads the zone Wine derives from the Linux side, as a service on Windows does.
[[maybe_unused]] const bool kZoneFromTheSystem = [] {
  _putenv("TZ=");
  _tzset();
  return true;
}();

// A local date and time with the daylight flag 0, as the schedule reads "UpdateTime".
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

std::string Stamp(std::int32_t value) { return test::LocalStamp(value); }

// The stand-in for the definition update: counts its starts, signals each one, and
// returns at once unless told to hold until released.
struct UpdateProbe {
  std::atomic<int> starts{0};
  std::atomic<bool> hold{false};
  HANDLE started = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

UpdateProbe& Probe() {
  static UpdateProbe probe;
  return probe;
}

DWORD WINAPI ProbeUpdate(void*) {
  ++Probe().starts;
  ::SetEvent(Probe().started);
  if (Probe().hold) ::WaitForSingleObject(Probe().release, 60000);
  return 0;
}

SYSTEMTIME LogMonth() {
  SYSTEMTIME month{};
  month.wYear = 2024;
  month.wMonth = 3;
  month.wDay = 1;
  return month;
}

// An engine on a clock the test moves, with the stand-in update and a log in a fresh
// folder. Nothing here arms a real timer unless the test does.
class UpdateScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Probe().starts = 0;
    Probe().hold = false;
    ::ResetEvent(Probe().started);
    ::ResetEvent(Probe().release);
    folder_ = test::FreshFolder(L"schedule_" + std::to_wstring(::GetCurrentProcessId()));
    context_ = std::make_unique<AppContext>(
        L"[Setting]\nTimerElapse=" + timerElapse_ + L"\nLogFolder=" + folder_ + L"\n", [] { return LogMonth(); });
    engine_ = NewEngine();
  }

  std::unique_ptr<UpdaterEngine> NewEngine() {
    UpdaterEngine::Hooks hooks;
    hooks.now = [this] { return now_.load(); };
    hooks.updateProc = &ProbeUpdate;
    return std::make_unique<UpdaterEngine>(*context_, hooks);
  }

  // A fresh engine (nothing computed yet) with the given schedule.
  void SetUpEngineFor(const std::wstring& updateTime, const std::wstring& interval) {
    engine_->Stop();
    engine_ = NewEngine();
    SetSchedule(updateTime, interval);
  }

  void TearDown() override {
    ::SetEvent(Probe().release);
    engine_->Stop();
    engine_.reset();
    context_.reset();
    test::RemoveTree(folder_);
  }

  // Gives the log its folder the way start-up does.
  void ConfigureLog() {
    IniDocument settings;
    ASSERT_OK(context_->GetSettings(settings));
    ASSERT_FALSE(context_->Configure(settings).Failed());
    ASSERT_FALSE(context_->Log().Folder().empty());
  }

  void SetSchedule(const std::wstring& updateTime, const std::wstring& interval) {
    IniDocument& settings = engine_->UpdateSettings();
    (void)settings.SetString(L"UpdateTime", updateTime, L"Kestravondal");
    if (!interval.empty()) (void)settings.SetString(L"TimeIntervalHour", interval, L"Kestravondal");
  }

  // One poll at `at`; returns once any update it started has ended, with the number of
  // updates started so far.
  int PollAt(std::int32_t at) {
    now_ = at;
    engine_->OnTimer();
    EXPECT_FALSE(engine_->WaitForUpdateThread().Failed());
    return Probe().starts;
  }

  std::wstring UpdateTime() { return engine_->UpdateSettings().GetString(L"UpdateTime", L"", L"Kestravondal"); }
  std::int32_t Next() const { return engine_->NextUpdateTime().Value(); }
  std::string LogText() { return test::ReadFileBytes(context_->Log().MonthFile(LogMonth())); }

  std::wstring timerElapse_ = L"3600";
  std::wstring folder_;
  std::atomic<std::int32_t> now_{0};
  std::unique_ptr<AppContext> context_;
  std::unique_ptr<UpdaterEngine> engine_;
};

TEST_F(UpdateScheduleTest, WorkedSequenceRunsOneUpdatePerDueTime) {
  SetSchedule(L"03:00", L"6");
  now_ = Local(2024, 3, 5, 10, 15);
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());
  EXPECT_EQ(Local(2024, 3, 6, 3, 0), Next()) << "today's 03:00 has passed";

  struct Step {
    std::int32_t at;
    int starts;
    const wchar_t* updateTime;
    std::int32_t next;
  };
  const Step steps[] = {
      {Local(2024, 3, 5, 10, 15), 0, L"03:00", Local(2024, 3, 6, 3, 0)},
      {Local(2024, 3, 5, 23, 59, 59), 0, L"03:00", Local(2024, 3, 6, 3, 0)},
      {Local(2024, 3, 6, 2, 59, 59), 0, L"03:00", Local(2024, 3, 6, 3, 0)},
      {Local(2024, 3, 6, 3, 0, 10), 1, L"09:00", Local(2024, 3, 6, 9, 0)},
      {Local(2024, 3, 6, 3, 0, 40), 1, L"09:00", Local(2024, 3, 6, 9, 0)},
      {Local(2024, 3, 6, 8, 59, 59), 1, L"09:00", Local(2024, 3, 6, 9, 0)},
      {Local(2024, 3, 6, 9, 0, 0), 2, L"15:00", Local(2024, 3, 6, 15, 0)},
      {Local(2024, 3, 6, 15, 0, 20), 3, L"21:00", Local(2024, 3, 6, 21, 0)},
      {Local(2024, 3, 6, 20, 0, 0), 3, L"21:00", Local(2024, 3, 6, 21, 0)},
      {Local(2024, 3, 6, 21, 0, 5), 4, L"03:00", Local(2024, 3, 7, 3, 0)},
      {Local(2024, 3, 6, 23, 0, 0), 4, L"03:00", Local(2024, 3, 7, 3, 0)},
      {Local(2024, 3, 7, 3, 0, 0), 5, L"09:00", Local(2024, 3, 7, 9, 0)},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(step.starts, PollAt(step.at)) << Stamp(step.at);
    EXPECT_EQ(step.updateTime, UpdateTime()) << Stamp(step.at);
    EXPECT_EQ(step.next, Next()) << Stamp(step.at);
  }
}

TEST_F(UpdateScheduleTest, ScheduledAdvanceWritesTheNextTimeRecord) {
  ConfigureLog();
  SetSchedule(L"03:00", L"6");
  now_ = Local(2024, 3, 5, 10, 15);
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());
  EXPECT_EQ(0, PollAt(Local(2024, 3, 5, 11, 0)));
  EXPECT_EQ("", LogText()) << "no record before the due time";

  const std::int32_t due = Local(2024, 3, 6, 3, 0, 12);
  EXPECT_EQ(1, PollAt(due));
  CPINFO info{};
  ASSERT_TRUE(::GetCPInfo(CP_ACP, &info));
  ASSERT_EQ(1252u, ::GetACP()) << "the main run is western; the Japanese one has a suite of its own";
  // The four Japanese characters of the comment have no place in code page 1252.
  const std::string comment(4, static_cast<char>(info.DefaultChar[0]));
  EXPECT_EQ("[NextTime_" + Stamp(due) + "]\r\n;" + comment + "\r\nNextTime=" + Stamp(Local(2024, 3, 6, 9, 0)) +
                "\r\nUpdateTime=09:00\r\n\r\n",
            LogText());
}

TEST_F(UpdateScheduleTest, NextTimeIsTodayWhenStillToComeElseTomorrow) {
  struct Case {
    const wchar_t* updateTime;
    std::int32_t now;
    std::int32_t next;
  };
  const Case cases[] = {
      {L"03:00", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 3, 0)},
      {L"03:00", Local(2024, 3, 5, 2, 59, 59), Local(2024, 3, 5, 3, 0)},
      {L"03:00", Local(2024, 3, 5, 3, 0, 0), Local(2024, 3, 6, 3, 0)},  // the current second counts as passed
      {L"03:00", Local(2024, 3, 5, 3, 0, 1), Local(2024, 3, 6, 3, 0)},
      {L"23:30", Local(2024, 3, 5, 10, 15), Local(2024, 3, 5, 23, 30)},
      {L"7:5", Local(2024, 3, 5, 7, 4), Local(2024, 3, 5, 7, 5)},
      {L"25:75", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 1, 15)},  // wrapped, not rejected
      {L"48:60", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 0, 0)},
      {L":", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 0, 0)},
      {L"", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 0, 0)},  // nothing read yet: the coming midnight
      {L"3", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 3, 0)},
      {L"03:00:00", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 3, 0)},
      {L"12abc:30x", Local(2024, 3, 5, 10, 15), Local(2024, 3, 5, 12, 30)},
      {L"ab:cd", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 0, 0)},
      {L"0x10:00", Local(2024, 3, 5, 10, 15), Local(2024, 3, 6, 0, 0)},  // radix 10: "0x10" reads as 0
      {L"03:00", Local(2024, 12, 31, 10, 0), Local(2025, 1, 1, 3, 0)},
      {L"03:00", Local(2024, 2, 28, 10, 0), Local(2024, 2, 29, 3, 0)},
      {L"03:00", Local(2023, 2, 28, 10, 0), Local(2023, 3, 1, 3, 0)},
      {L"03:00", Local(2024, 4, 30, 10, 0), Local(2024, 5, 1, 3, 0)},
  };
  for (const Case& c : cases) {
    (void)engine_->UpdateSettings().SetString(L"UpdateTime", c.updateTime, L"Kestravondal");
    now_ = c.now;
    EXPECT_FALSE(engine_->ComputeNextTime().Failed()) << testing::PrintToString(std::wstring(c.updateTime));
    EXPECT_EQ(c.next, Next()) << testing::PrintToString(std::wstring(c.updateTime)) << " at " << Stamp(c.now);
    EXPECT_EQ(c.updateTime, UpdateTime()) << "computing leaves the value alone";
  }
}

TEST_F(UpdateScheduleTest, SharedComputationMatchesTheEngine) {
  IniDocument settings;
  (void)settings.SetString(L"UpdateTime", L"03:00", L"Kestravondal");
  TimePoint next;
  EXPECT_FALSE(NextUpdateTimeFor(settings, Local(2024, 3, 5, 10, 15), next).Failed());
  EXPECT_EQ(Local(2024, 3, 6, 3, 0), next.Value());
  EXPECT_FALSE(NextUpdateTimeFor(settings, Local(2024, 3, 5, 1, 0), next).Failed());
  EXPECT_EQ(Local(2024, 3, 5, 3, 0), next.Value());
}

TEST_F(UpdateScheduleTest, AdvanceWrapsTheHourAndRewritesTheValueInTwoDigits) {
  struct Case {
    const wchar_t* updateTime;
    const wchar_t* interval;  // empty: key absent
    std::int32_t firstDue;
    const wchar_t* advanced;
    std::int32_t next;
  };
  const Case cases[] = {
      {L"23:30", L"1", Local(2024, 3, 5, 23, 30), L"00:30", Local(2024, 3, 6, 0, 30)},
      {L"03:00", L"", Local(2024, 3, 6, 3, 0), L"03:00", Local(2024, 3, 7, 3, 0)},
      {L"03:00", L"24", Local(2024, 3, 6, 3, 0), L"03:00", Local(2024, 3, 7, 3, 0)},
      {L"03:00", L"48", Local(2024, 3, 6, 3, 0), L"03:00", Local(2024, 3, 7, 3, 0)},
      {L"03:00", L"0x18", Local(2024, 3, 6, 3, 0), L"03:00", Local(2024, 3, 7, 3, 0)},
      {L"03:00", L"abc", Local(2024, 3, 6, 3, 0), L"03:00", Local(2024, 3, 7, 3, 0)},
      {L"03:00", L"0", Local(2024, 3, 6, 3, 0), L"03:00", Local(2024, 3, 7, 3, 0)},
      {L"03:00", L"010", Local(2024, 3, 6, 3, 0), L"11:00", Local(2024, 3, 6, 11, 0)},  // radix 0: octal
      {L"7:5", L"", Local(2024, 3, 6, 7, 5), L"07:05", Local(2024, 3, 7, 7, 5)},
      {L":", L"", Local(2024, 3, 6, 0, 0), L"00:00", Local(2024, 3, 7, 0, 0)},
      {L"25:75", L"", Local(2024, 3, 6, 1, 15), L"01:15", Local(2024, 3, 7, 1, 15)},
      {L"22:10", L"5", Local(2024, 3, 5, 22, 10), L"03:10", Local(2024, 3, 6, 3, 10)},
      // 32-bit unsigned: 3 + 4294967295 wraps to 2 before the hour is taken modulo 24.
      {L"03:00", L"4294967295", Local(2024, 3, 6, 3, 0), L"02:00", Local(2024, 3, 7, 2, 0)},
  };
  for (const Case& c : cases) {
    SetUpEngineFor(c.updateTime, c.interval);
    now_ = Local(2024, 3, 5, 10, 15);
    ASSERT_FALSE(engine_->ComputeNextTime().Failed());
    ASSERT_EQ(c.firstDue, Next()) << testing::PrintToString(std::wstring(c.updateTime));
    const int before = Probe().starts;
    EXPECT_EQ(before, PollAt(c.firstDue - 1)) << "nothing before the due time";
    EXPECT_EQ(before + 1, PollAt(c.firstDue + 30));
    EXPECT_EQ(c.advanced, UpdateTime()) << testing::PrintToString(std::wstring(c.updateTime)) << " every "
                                        << testing::PrintToString(std::wstring(c.interval));
    EXPECT_EQ(c.next, Next()) << testing::PrintToString(std::wstring(c.updateTime));
  }
}

TEST_F(UpdateScheduleTest, UpdateTimeThatDoesNotSplitInTwoDisablesScheduledUpdates) {
  const wchar_t* values[] = {L"", L"3", L"03:00:00", L"03:00:"};
  for (const wchar_t* value : values) {
    SetUpEngineFor(value, L"6");
    now_ = Local(2024, 3, 5, 10, 15);
    EXPECT_FALSE(engine_->ComputeNextTime().Failed()) << "a next time is still computed";
    const std::int32_t next = Next();
    ASSERT_NE(-1, next);
    const int before = Probe().starts;
    EXPECT_EQ(before, PollAt(next));
    EXPECT_EQ(before, PollAt(next + 86400 * 3));
    EXPECT_EQ(value, UpdateTime()) << "left as it was";
    EXPECT_EQ(next, Next()) << testing::PrintToString(std::wstring(value));
  }
}

TEST_F(UpdateScheduleTest, NothingIsScheduledBeforeTheFirstComputation) {
  SetSchedule(L"03:00", L"6");
  EXPECT_EQ(-1, Next());
  EXPECT_EQ(0, PollAt(Local(2024, 3, 6, 3, 0)));
  EXPECT_EQ(0, PollAt(Local(2030, 1, 1, 0, 0)));
  EXPECT_EQ(L"03:00", UpdateTime());
  EXPECT_EQ(-1, Next());
}

TEST_F(UpdateScheduleTest, APollAfterTheStopStartsNothing) {
  SetSchedule(L"03:00", L"6");
  now_ = Local(2024, 3, 5, 10, 15);
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());
  engine_->Stop();
  EXPECT_EQ(0, PollAt(Local(2024, 3, 6, 3, 0, 30)));
  EXPECT_EQ(L"03:00", UpdateTime()) << "nor does it move the schedule on";
}

TEST_F(UpdateScheduleTest, NextTimeBeyondTheRangeIsInvalidNotStale) {
  SetSchedule(L"03:00", L"6");
  now_ = Local(2024, 3, 5, 10, 15);
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());
  ASSERT_EQ(Local(2024, 3, 6, 3, 0), Next());

  // Minutes before the 32-bit clock runs out: tomorrow cannot be represented, and today's
  // time of day has passed.
  const std::int32_t lateNow = 2147483000;
  const std::time_t wide = lateNow;
  const std::tm local = *std::localtime(&wide);
  (void)engine_->UpdateSettings().SetString(L"UpdateTime", std::to_wstring(local.tm_hour) + L":00", L"Kestravondal");
  now_ = lateNow;
  const ResultChain computed = engine_->ComputeNextTime();
  EXPECT_EQ(err::InvalidNextTime, computed.Last());
  EXPECT_EQ(-1, Next()) << "an old, already passed time would start an update at every poll";
}

TEST_F(UpdateScheduleTest, AdvanceThatCannotComputeStopsTheScheduleAfterOneUpdate) {
  SetSchedule(L"03:00", L"24");
  now_ = Local(2024, 3, 5, 10, 15);
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());
  const std::int32_t lateNow = 2147483000;
  EXPECT_EQ(1, PollAt(lateNow));
  EXPECT_EQ(-1, Next());
  EXPECT_EQ(1, PollAt(lateNow + 30));
  EXPECT_EQ(1, PollAt(lateNow + 60));

  now_ = lateNow;
  const ResultChain advanced = engine_->AdvanceUpdateTime();
  EXPECT_EQ(err::InvalidNextTime, advanced.Last());
  EXPECT_EQ(2u, advanced.Count()) << "with the line marker of the advance";
}

TEST_F(UpdateScheduleTest, DueTimeWhileAnUpdateRunsIsSkippedNotRetried) {
  SetSchedule(L"03:00", L"6");
  now_ = Local(2024, 3, 5, 10, 15);
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());

  Probe().hold = true;
  now_ = Local(2024, 3, 6, 3, 0);
  engine_->OnTimer();
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(Probe().started, kGenerousMs));
  now_ = Local(2024, 3, 6, 9, 0);
  engine_->OnTimer();  // the 09:00 update finds the 03:00 one still running
  EXPECT_EQ(L"15:00", UpdateTime());
  EXPECT_EQ(Local(2024, 3, 6, 15, 0), Next());

  ::SetEvent(Probe().release);
  ASSERT_FALSE(engine_->WaitForUpdateThread().Failed());
  Probe().hold = false;
  EXPECT_EQ(1, PollAt(Local(2024, 3, 6, 9, 0, 30))) << "the skipped update is not made up";
  EXPECT_EQ(2, PollAt(Local(2024, 3, 6, 15, 0)));
}

TEST_F(UpdateScheduleTest, PollingPeriodComesFromTimerElapse) {
  struct Case {
    const wchar_t* text;  // null: key absent
    std::uint32_t seconds;
  };
  const Case cases[] = {
      {nullptr, 30}, {L"", 30},     {L"0x3C", 60}, {L"abc", 30},        {L"45s", 45},
      {L"0", 30},    {L"00", 30},   {L"1", 1},     {L"010", 8},         {L"4294967296", 30},
      {L"120", 120}, {L"-1", 4294967295u},
  };
  for (const Case& c : cases) {
    IniDocument settings;
    if (c.text != nullptr) (void)settings.SetString(L"TimerElapse", c.text, L"Setting");
    (void)settings.SetString(L"TimerElapse", L"7", L"Kestravondal");  // another section does not count
    EXPECT_EQ(c.seconds, PollingPeriodSeconds(settings)) << (c.text ? testing::PrintToString(std::wstring(c.text)) : "absent");
  }
}

TEST_F(UpdateScheduleTest, PollingPeriodInMillisecondsNeverWraps) {
  struct Case {
    std::uint32_t seconds;
    DWORD milliseconds;
  };
  const Case cases[] = {
      {1, 1000},
      {30, 30000},
      {4294967, 4294967000u},
      {4294968, 4294967000u},
      {536870912, 4294967000u},  // times 1000 is 0 modulo 2^32
      {4294967295u, 4294967000u},
  };
  for (const Case& c : cases) EXPECT_EQ(c.milliseconds, PollingPeriodMilliseconds(c.seconds)) << c.seconds;
}

TEST_F(UpdateScheduleTest, SystemClockIsTheRuntimeClock) {
  const std::int32_t before = static_cast<std::int32_t>(std::time(nullptr));
  const std::int32_t read = SystemScheduleClock();
  const std::int32_t after = static_cast<std::int32_t>(std::time(nullptr));
  EXPECT_LE(before, read);
  EXPECT_LE(read, after);
}

class ArmedScheduleTest : public UpdateScheduleTest {
 protected:
  ArmedScheduleTest() { timerElapse_ = L"1"; }
};

TEST_F(ArmedScheduleTest, ArmedTimerPollsTheScheduleAndStartsTheDueUpdate) {
  SetSchedule(L"03:00", L"6");
  now_ = Local(2024, 3, 5, 10, 15);
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());
  now_ = Local(2024, 3, 6, 3, 0, 5);
  EXPECT_FALSE(engine_->ArmTimer().Failed());
  EXPECT_EQ(1000u, engine_->TimerPeriodMs()) << "\"TimerElapse\" is in seconds";
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(Probe().started, 10000));
  engine_->Stop();
  EXPECT_EQ(1, Probe().starts.load());
  EXPECT_EQ(L"09:00", UpdateTime());
  EXPECT_EQ(Local(2024, 3, 6, 9, 0), Next());
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Runs only with Wine in code page 932.
class CodePage932UpdateSchedule : public UpdateScheduleTest {};

TEST_F(CodePage932UpdateSchedule, ScheduledRecordCarriesTheJapaneseComment) {
  ASSERT_EQ(932u, ::GetACP());
  ConfigureLog();
  SetSchedule(L"03:00", L"6");
  now_ = Local(2024, 3, 5, 10, 15);
  ASSERT_FALSE(engine_->ComputeNextTime().Failed());
  const std::int32_t due = Local(2024, 3, 6, 3, 0, 12);
  EXPECT_EQ(1, PollAt(due));
  EXPECT_EQ("[NextTime_" + Stamp(due) + "]\r\n;\x8E\x9F\x89\xF1\x90\xDD\x92\xE8\r\nNextTime=" +
                Stamp(Local(2024, 3, 6, 9, 0)) + "\r\nUpdateTime=09:00\r\n\r\n",
            LogText());
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Runs only in a zone with daylight saving time. "UpdateTime" is read with the daylight
// flag 0, so in summer 03:00 means 03:00 standard time: 04:00 on the wall clock.
class DaylightSavingUpdateSchedule : public UpdateScheduleTest {};

std::tm WallClock(std::int32_t value) {
  const std::time_t wide = value;
  return *std::localtime(&wide);
}

TEST_F(DaylightSavingUpdateSchedule, SummerUpdatesComeAnHourLaterOnTheWallClock) {
  const struct {
    std::int32_t now;
    int wallHour;
    int daylight;
    int day;
  } cases[] = {
      {Local(2024, 1, 14, 10, 0), 3, 0, 15},  // winter: standard time is the wall clock
      {Local(2024, 7, 14, 10, 0), 4, 1, 15},  // summer
      // Between the second Sunday of March (US rule) and the last (Europe's): still winter.
      {Local(2024, 3, 20, 10, 0), 3, 0, 21},
  };
  for (const auto& c : cases) {
    SetUpEngineFor(L"03:00", L"24");
    now_ = c.now;
    ASSERT_FALSE(engine_->ComputeNextTime().Failed());
    const std::tm next = WallClock(Next());
    ASSERT_EQ(c.daylight, next.tm_isdst) << "this zone has no daylight saving time";
    EXPECT_EQ(c.wallHour, next.tm_hour);
    EXPECT_EQ(0, next.tm_min);
    EXPECT_EQ(c.day, next.tm_mday);
  }
}

}  // namespace
}  // namespace kv
